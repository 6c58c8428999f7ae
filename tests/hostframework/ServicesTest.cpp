// Task, event and lock services; the run loop; parameter listeners; bundles.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "hostframework/AUParameterServices.h"
#include "hostframework/Bundle.h"
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

TEST(MPServices, TasksRunOnTheirOwnThreadAndUpTimeIsMonotonic) {
    struct Ctx {
        MPSemaphoreID done;
        std::thread::id id;
    } ctx{};
    ASSERT_EQ(MPCreateSemaphore(1, 0, &ctx.done), noErr);
    MPTaskID task = nullptr;
    const AbsoluteTime t0 = UpTime();
    ASSERT_EQ(MPCreateTask(
                  [](void* p) -> OSStatus {
                      auto* c = static_cast<Ctx*>(p);
                      c->id = std::this_thread::get_id();
                      MPSignalSemaphore(c->done);
                      return noErr;
                  },
                  &ctx, 0, nullptr, nullptr, nullptr, 0, &task),
              noErr);
    EXPECT_EQ(MPWaitOnSemaphore(ctx.done, 10000), noErr);
    EXPECT_NE(ctx.id, std::this_thread::get_id());
    EXPECT_EQ(MPTerminateTask(task, noErr), noErr);
    EXPECT_GT(AbsoluteToNanoseconds(SubAbsoluteFromAbsolute(UpTime(), t0)).value, 0u);

    // Waiting for a task's end is bounded; a task that ended is joined.
    ASSERT_EQ(MPCreateTask(
                  [](void* p) -> OSStatus {
                      MPWaitOnSemaphore(static_cast<Ctx*>(p)->done, kDurationForever);
                      return noErr;
                  },
                  &ctx, 0, nullptr, nullptr, nullptr, 0, &task),
              noErr);
    EXPECT_EQ(MPWaitForTaskEnd(task, 10), kMPTimeoutErr);
    MPSignalSemaphore(ctx.done);
    EXPECT_EQ(MPWaitForTaskEnd(task, kDurationForever), noErr);
    MPDeleteSemaphore(ctx.done);
}

TEST(RunLoop, TimersPostsAndStop) {
    TB::RunLoop loop;
    std::vector<std::string> log;
    int repeats = 0;
    TB::RunLoop::TimerID repeating = 0;
    loop.AddTimer(0.02, 0, [&](TB::RunLoop::TimerID) { log.push_back("once"); });
    repeating = loop.AddTimer(0.005, 0.005, [&](TB::RunLoop::TimerID id) {
        EXPECT_EQ(TB::RunLoop::Current(), &loop);
        if (++repeats == 3) {
            EXPECT_TRUE(loop.RemoveTimer(id));
        }
    });
    loop.Post([&] { log.push_back("posted"); });
    loop.AddTimer(0.06, 0, [&](TB::RunLoop::TimerID) { loop.Stop(); });
    EXPECT_EQ(TB::RunLoop::Current(), nullptr);
    loop.Run();
    EXPECT_EQ(log, (std::vector<std::string>{"posted", "once"}));
    EXPECT_EQ(repeats, 3);
    EXPECT_FALSE(loop.RemoveTimer(repeating));

    // Post and Stop from another thread.
    std::thread other([&] {
        loop.Post([&] { log.push_back("from other"); });
        loop.Post([&] { loop.Stop(); });
    });
    loop.Run();
    other.join();
    EXPECT_EQ(log.back(), "from other");
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
                  [](void* refCon, void* object, const AudioUnitParameter* p, AudioUnitParameterValue v) {
                      auto* l = static_cast<ListenerLog*>(refCon);
                      EXPECT_EQ(object, (void*)0x1234);
                      l->calls.emplace_back(p->mParameterID, v);
                      l->threads.push_back(std::this_thread::get_id());
                  },
                  &log, &loop, nullptr, 0.2f, &listener),
              noErr);
    const AudioUnitParameter gain = host.ParameterRef(kGain);
    const AudioUnitParameter offset = host.ParameterRef(kOffset);
    ASSERT_EQ(AUListenerAddParameter(listener, (void*)0x1234, &gain), noErr);
    ASSERT_EQ(AUListenerAddParameter(listener, (void*)0x1234, &offset), noErr);

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

TEST(CFLite, OwnBundleIsFoundFromTheBinaryAndCanBeOverridden) {
    // The test binary lives in the build tree, in no ".lv2" folder and with no share/marrowfin
    // beside it: the build tree's resources folder is the bundle.
    CFStringRef id = CFStringCreateWithCString(nullptr, kTBOwnBundleIdentifier, kCFStringEncodingUTF8);
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(id);
    ASSERT_NE(bundle, nullptr);
    const std::string found = TBBundlePath(bundle);
    EXPECT_EQ(std::filesystem::canonical(found), std::filesystem::canonical(MARROWFIN_SOURCE_DIR "/resources"));
    CFURLRef url = CFBundleCopyBundleURL(bundle);
    char path[4096];
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8*>(path), sizeof path));
    EXPECT_EQ(std::string(path), found);
    CFRelease(url);
    EXPECT_EQ(TBBundleResourcePath(bundle, "no-such-resource-here"), "");
    TBRegisterBundleIdentifier(kTBOwnBundleIdentifier, "");
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(id), nullptr);
    TBRegisterBundleIdentifier(kTBOwnBundleIdentifier, found);
    EXPECT_NE(CFBundleGetBundleWithIdentifier(id), nullptr);
    CFRelease(id);
}
