// Task, event and lock services; the run loop; parameter listeners.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "hostframework/AUParameterServices.h"
#include "hostframework/MPServices.h"
#include "hostframework/RunLoop.h"
#include "tests/hostframework/GainTestEffect.h"
#include "tests/support/TestHost.h"

using namespace gaintest;
using namespace std::chrono_literals;

TEST(MPServices, FlagEventsReturnAndClearEveryBitSetSinceTheLastWait) {
    MPEventID event = nullptr;
    ASSERT_EQ(MPCreateEvent(&event), noErr);
    MPEventFlags flags = 0xFFFF;
    EXPECT_EQ(MPWaitForEvent(event, &flags, kDurationImmediate), kMPTimeoutErr);
    EXPECT_EQ(flags, 0u);
    MPSetEvent(event, 0x1);
    MPSetEvent(event, 0x4);
    MPSetEvent(event, 0x1);
    EXPECT_EQ(MPWaitForEvent(event, &flags, 33), noErr);
    EXPECT_EQ(flags, 0x5u);
    EXPECT_EQ(MPWaitForEvent(event, &flags, 20), kMPTimeoutErr);

    // A waiter without limit wakes for a set from another thread.
    std::thread setter([event] {
        std::this_thread::sleep_for(10ms);
        MPSetEvent(event, 0x10);
    });
    EXPECT_EQ(MPWaitForEvent(event, &flags, kDurationForever), noErr);
    EXPECT_EQ(flags, 0x10u);
    setter.join();
    EXPECT_EQ(MPDeleteEvent(event), noErr);
}

TEST(MPServices, SemaphoreWaitIsBoundedAndSignalsAreCapped) {
    MPSemaphoreID sem = nullptr;
    ASSERT_EQ(MPCreateSemaphore(1, 0, &sem), noErr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MPWaitOnSemaphore(sem, 30), kMPTimeoutErr);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 29ms);
    EXPECT_EQ(MPSignalSemaphore(sem), noErr);
    EXPECT_EQ(MPSignalSemaphore(sem), kMPInsufficientResourcesErr);  // maximum 1
    EXPECT_EQ(MPWaitOnSemaphore(sem, 0), noErr);
    EXPECT_EQ(MPWaitOnSemaphore(sem, 0), kMPTimeoutErr);
    EXPECT_EQ(MPDeleteSemaphore(sem), noErr);
    EXPECT_EQ(MPCreateSemaphore(1, 2, &sem), paramErr);
}

TEST(MPServices, CriticalRegionsAreReentrantAndExclusive) {
    MPCriticalRegionID region = nullptr;
    ASSERT_EQ(MPCreateCriticalRegion(&region), noErr);
    ASSERT_EQ(MPEnterCriticalRegion(region, kDurationForever), noErr);
    ASSERT_EQ(MPEnterCriticalRegion(region, kDurationForever), noErr);  // the holder enters again

    std::atomic<int> other{0};
    std::thread contender([&] {
        other = MPEnterCriticalRegion(region, kDurationImmediate) == kMPTimeoutErr ? 1 : 2;
        EXPECT_EQ(MPExitCriticalRegion(region), kMPInsufficientResourcesErr);  // not the holder
        ASSERT_EQ(MPEnterCriticalRegion(region, kDurationForever), noErr);
        other = 3;
        MPExitCriticalRegion(region);
    });
    while (other == 0) std::this_thread::yield();
    EXPECT_EQ(other.load(), 1);
    ASSERT_EQ(MPExitCriticalRegion(region), noErr);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(other.load(), 1);  // still held once
    ASSERT_EQ(MPExitCriticalRegion(region), noErr);
    contender.join();
    EXPECT_EQ(other.load(), 3);
    EXPECT_EQ(MPDeleteCriticalRegion(region), noErr);
}

TEST(MPServices, WaitingForATasksEndIsBounded) {
    MPSemaphoreID release = nullptr;
    ASSERT_EQ(MPCreateSemaphore(1, 0, &release), noErr);
    MPTaskID task = nullptr;
    ASSERT_EQ(MPCreateTask(
                  [](void* p) -> OSStatus {
                      MPWaitOnSemaphore(static_cast<MPSemaphoreID>(p), kDurationForever);
                      return noErr;
                  },
                  release, 0, nullptr, nullptr, nullptr, 0, &task),
              noErr);
    EXPECT_EQ(MPWaitForTaskEnd(task, 10), kMPTimeoutErr);
    MPSignalSemaphore(release);
    EXPECT_EQ(MPWaitForTaskEnd(task, kDurationForever), noErr);
    MPDeleteSemaphore(release);
}

TEST(RunLoop, TimersPostsAndStopFromAnotherThread) {
    TB::RunLoop loop;
    std::vector<std::string> log;
    int repeats = 0;
    loop.AddTimer(0.005, 0.005, [&](TB::RunLoop::TimerID id) {
        if (++repeats == 3) {
            EXPECT_TRUE(loop.RemoveTimer(id));
        }
    });
    loop.AddTimer(0.05, 0, [&](TB::RunLoop::TimerID) { loop.Stop(); });
    std::thread other([&] { loop.Post([&] { log.push_back("from other"); }); });
    loop.Run();
    other.join();
    EXPECT_EQ(log, std::vector<std::string>{"from other"});
    EXPECT_EQ(repeats, 3);
    std::thread stopper([&] { loop.Post([&] { loop.Stop(); }); });
    loop.Run();
    stopper.join();
}

namespace {
struct ListenerLog {
    std::vector<std::pair<AudioUnitParameterID, float>> calls;
    std::vector<std::thread::id> threads;
};
}  // namespace

TEST(ParameterServices, ListenersCoalesceSetsAndDeliverOnTheirRunLoop) {
    TB::TestHost host;
    ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr);
    TB::RunLoop loop;
    ListenerLog log;
    AUParameterListenerRef listener = nullptr;
    ASSERT_EQ(AUListenerCreate(
                  [](void* refCon, void*, const AudioUnitParameter* p, AudioUnitParameterValue v) {
                      auto* l = static_cast<ListenerLog*>(refCon);
                      l->calls.emplace_back(p->mParameterID, v);
                      l->threads.push_back(std::this_thread::get_id());
                  },
                  &log, &loop, nullptr, 0.2f, &listener),
              noErr);
    const AudioUnitParameter gain = host.ParameterRef(kGain);
    const AudioUnitParameter offset = host.ParameterRef(kOffset);
    ASSERT_EQ(AUListenerAddParameter(listener, nullptr, &gain), noErr);
    ASSERT_EQ(AUListenerAddParameter(listener, nullptr, &offset), noErr);

    // A burst of sets from another thread while the loop is idle: one callback per parameter,
    // each with the last value, on the loop's thread.
    std::thread setter([&] {
        for (int i = 1; i <= 50; ++i) ASSERT_EQ(AUParameterSet(nullptr, nullptr, &gain, i / 50.f, 0), noErr);
        ASSERT_EQ(AUParameterSet(nullptr, nullptr, &offset, -0.5f, 0), noErr);
    });
    setter.join();
    EXPECT_EQ(host.Parameter(kGain), 1.f);
    loop.RunFor(20ms);
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0], std::make_pair(AudioUnitParameterID(kGain), 1.f));
    EXPECT_EQ(log.calls[1], std::make_pair(AudioUnitParameterID(kOffset), -0.5f));
    EXPECT_EQ(log.threads[0], std::this_thread::get_id());

    // Sets right after a delivery wait for the interval (0.2 s), then arrive as one with the
    // last value.
    for (int i = 0; i < 10; ++i) AUParameterSet(nullptr, nullptr, &gain, 0.1f * i, 0);
    loop.RunFor(5ms);
    EXPECT_EQ(log.calls.size(), 2u);
    loop.RunFor(300ms);
    ASSERT_EQ(log.calls.size(), 3u);
    EXPECT_FLOAT_EQ(log.calls[2].second, 0.9f);

    // After disposal nothing more arrives, even for a delivery already posted.
    AUParameterSet(nullptr, nullptr, &gain, 0.2f, 0);
    ASSERT_EQ(AUListenerDispose(listener), noErr);
    loop.RunFor(80ms);
    EXPECT_EQ(log.calls.size(), 3u);
    EXPECT_EQ(AUListenerDispose(listener), paramErr);
}
