// Timers on the run loop, entries from several threads, and the time bound on every entry.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "hostframework/RunLoop.h"
#include "tests/midiscript/ScriptTestUnit.h"
#include "tests/support/Process.h"

using namespace std::chrono_literals;

namespace {

std::mutex g_markMutex;
std::vector<std::thread::id> g_marks;

// Script function mark(): records the calling thread.
int MarkThread(lua_State*) {
    std::lock_guard<std::mutex> lock(g_markMutex);
    g_marks.push_back(std::this_thread::get_id());
    return 0;
}

}  // namespace

class ScriptThreadsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        std::lock_guard<std::mutex> lock(g_markMutex);
        g_marks.clear();
    }
    void InstallMark(AudioUnit unit) {
        TB::LuaMIDIHelper::ScopedLock lock(Helper(unit));
        lua_register(Helper(unit).GetState(), "mark", MarkThread);
    }
};

TEST_F(ScriptThreadsTest, TimersFireOnTheRunLoopThread) {
    UserScript("midi.lua", "");
    AudioUnit unit = OpenUnit();
    InstallMark(unit);
    ASSERT_EQ(Run(unit, R"(
        once = 0 ticks = 0 selfRuns = 0 droppedTicks = 0
        oneShot = requestTimedCallback(0.01, function() once = once + 1 mark() end)
        requestPeriodicCallback(0.01, function() ticks = ticks + 1 mark() end)
        selfCancelling = requestPeriodicCallback(0.005, function() selfRuns = selfRuns + 1 cancelTimer(selfCancelling) end)
        requestPeriodicCallback(0.01, function() droppedTicks = droppedTicks + 1 end)  -- handle dropped at once
        requestTimedCallback(0.01, function() error('timer error') end)
        collectgarbage()
    )"),
              "");
    std::thread::id loopThread;
    std::thread loop([&] {
        loopThread = std::this_thread::get_id();
        TB::RunLoop::Main().RunFor(300ms);
    });
    loop.join();

    EXPECT_EQ(Eval(unit, "once"), "1");
    EXPECT_EQ(Eval(unit, "selfRuns"), "1");
    EXPECT_GE(std::stoi(Eval(unit, "ticks")), 5);
    EXPECT_GE(std::stoi(Eval(unit, "droppedTicks")), 5);
    EXPECT_EQ(ErrorOf(unit, "cancelTimer(oneShot) cancelTimer(oneShot) cancelTimer(selfCancelling)"), "ok");
    std::lock_guard<std::mutex> lock(g_markMutex);
    ASSERT_FALSE(g_marks.empty());
    for (std::thread::id id : g_marks) EXPECT_EQ(id, loopThread);
}

TEST_F(ScriptThreadsTest, ClosingAUnitWithRunningTimersStopsThem) {
    UserScript("midi.lua", "ticks = 0 requestPeriodicCallback(0.001, function() ticks = ticks + 1 for i = 1, 1000 do end end)");
    AudioUnit unit = OpenUnit();
    std::thread loop([] { TB::RunLoop::Main().RunFor(200ms); });
    EXPECT_TRUE(TB::WaitUntil([&] { return Eval(unit, "ticks") != "0"; }, 2.0));
    CloseUnit(unit);  // while its timer keeps firing on the loop thread
    loop.join();
}

TEST_F(ScriptThreadsTest, MIDIAndTimerEntriesSerialiseAcrossUnits) {
    // Both units answer to OSC index 7, and every callback also reaches the other unit through
    // the registry: script lock, then registry lock, from three threads at once.
    UserScript("midi.lua", R"(
        count = 0 ticks = 0
        requestAllCC(function(channel, controller, value)
            count = count + 1
            setOthersParameter(7, 'Dry Level', value / 127)
            setOthersGUIBoolValue(7, 1, value > 64)
            getOthersParameter(7, 0)
        end)
        requestPeriodicCallback(0.001, function() ticks = ticks + 1 count = count + 1 end)
    )");
    AudioUnit a = OpenUnit();
    AudioUnit b = OpenUnit();
    AudioUnitSetParameter(a, kParam_OSCPortOffset, kAudioUnitScope_Global, 0, 7, 0);
    AudioUnitSetParameter(b, kParam_OSCPortOffset, kAudioUnitScope_Global, 0, 7, 0);

    constexpr int kEvents = 2000;
    std::atomic<bool> done{false};
    std::thread loop([&] {
        while (!done) TB::RunLoop::Main().RunFor(10ms);
    });
    auto sender = [](AudioUnit unit) {
        for (int i = 0; i < kEvents; ++i) MusicDeviceMIDIEvent(unit, 0xB0, 10, i % 128, 0);
    };
    std::thread t1(sender, a), t2(sender, a), t3(sender, b);
    t1.join();
    t2.join();
    t3.join();
    done = true;
    loop.join();

    EXPECT_EQ(std::stoi(Eval(a, "count - ticks")), 2 * kEvents);
    EXPECT_EQ(std::stoi(Eval(b, "count - ticks")), kEvents);
    EXPECT_GE(std::stoi(Eval(a, "ticks")), 1);
}

TEST_F(ScriptThreadsTest, EndlessTopLevelLoopTimesOutAndLaterScriptsRun) {
    UserScript("loop.lua", "local n = 0\nwhile true do n = n + 1 end");
    UserScript("midi.lua", "fine = true");
    testing::internal::CaptureStdout();
    auto start = std::chrono::steady_clock::now();
    AudioUnit unit = OpenUnit();
    auto elapsed = std::chrono::steady_clock::now() - start;
    std::string out = testing::internal::GetCapturedStdout();
    // Lua shortens long chunk names from the front.
    EXPECT_EQ(out.rfind("@@@ failed to run file: ", 0), 0u) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    EXPECT_NE(out.find("/loop.lua:2: script timed out\n"), std::string::npos) << out;
    EXPECT_EQ(Eval(unit, "fine"), "true");
    EXPECT_LT(elapsed, 10s);
}

TEST_F(ScriptThreadsTest, EndlessCallbackTimesOutAndTheNextCallbackWorks) {
    UserScript("midi.lua", R"(
        requestCC(1, function() while true do end end)
        requestCC(2, function() while true do pcall(function() while true do end end) end end)
        requestCC(3, function() local co = coroutine.wrap(function() while true do end end) co() end)
        requestCC(4, function() local n = 0 for i = 1, 300000 do n = n + i end works = n end)
    )");
    AudioUnit unit = OpenUnit();
    for (UInt32 controller : {1u, 2u, 3u}) {
        auto start = std::chrono::steady_clock::now();
        MIDI(unit, 0xB0, controller, 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << controller;
    }
    MIDI(unit, 0xB0, 4, 0);
    EXPECT_EQ(Eval(unit, "works"), "45000150000");
}

// Finalizers run with the interpreter's hooks off, out of reach of the time bound: a unit whose
// script left looping finalizers (on its own proxies and on a library's file handle) must still
// go away.
TEST_F(ScriptThreadsTest, ClosingAUnitNeverRunsAFinalizerThatLoops) {
    UserScript("gc.lua",
               "local p = newproxy(true)\n"
               "getmetatable(p).__gc = function() while true do end end\n"
               "keep = p\n"
               "debug.setmetatable(io.stdout, {__gc = function() while true do end end})\n"
               "for i = 1, 1000 do local r = newproxy(true); getmetatable(r).__gc = function() end end\n");
    AudioUnit unit = OpenUnit();
    CloseUnit(unit);  // returns: the test would hang here otherwise
}

// `require` looks in the scripts folders and the system's module folders, never in the
// process's working directory.
TEST_F(ScriptThreadsTest, RequireNeverLoadsFromTheWorkingDirectory) {
    // A module beside the scripts (it also runs once as a script, harmlessly).
    UserScript("mymodule.lua", "return {answer = 42}\n");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(m_user.c_str()), 0);
    TB::ScopedTestFolders::WriteFile(m_user + "/planted.lua", "planted = true\n");
    AudioUnit unit = OpenUnit();
    EXPECT_EQ(Run(unit, "assert(require('mymodule').answer == 42)"), "");
    EXPECT_NE(Run(unit, "require('planted')"), "");
    EXPECT_EQ(Run(unit, "assert(not package.path:find('%./') and not package.cpath:find('%./'))"), "");
    CloseUnit(unit);
    ASSERT_EQ(chdir(cwd), 0);
}
