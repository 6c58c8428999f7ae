// `marrowfin serve`: real-time rendering that ends cleanly on its time limit or on a signal,
// prints the port it listens on, and writes its output only when it finished cleanly.
#include <sys/stat.h>

#include <fstream>

#include "tests/apps/AppTestSupport.h"

using namespace apptest;

TEST(Serve, RunsForTheGivenTimeAndWritesItsOutput) {
    ScopedTestFolders dir("marrowfin-apptest");
    WriteAudioFile(dir / "loop.wav", MakeSignal(44100, 2, 0.3));
    RunResult r = RunApp({"serve", "--input", dir / "loop.wav", "--seconds", "1", "--osc-base-port", "17300",
                          "--osc-offset", "3", "--output", dir / "live.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("listening on UDP port 17303\n"), std::string::npos) << r.out;
    EXPECT_GE(r.seconds, 0.95);
    EXPECT_LT(r.seconds, 3.0);
    const AudioFile out = ReadAudioFile(dir / "live.wav");
    EXPECT_EQ(out.channels, 2);
    // Paced to the sample rate: about one second of audio, not as much as the machine can make.
    EXPECT_GT(out.Frames(), 44100 * 8 / 10);
    EXPECT_LT(out.Frames(), 44100 * 14 / 10);

    RunResult quiet = RunApp({"serve", "--seconds", "0.2", "--osc-offset", "0"});  // offset 0: no OSC
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out.find("listening"), std::string::npos);
}

TEST(Serve, StopsCleanlyOnSignals) {
    ScopedTestFolders dir("marrowfin-apptest");
    for (int sig : {SIGTERM, SIGINT}) {
        double signalledAt = 0;
        const auto start = std::chrono::steady_clock::now();
        RunResult r = RunApp({"serve", "--demo", "--osc-base-port", "17400", "--osc-offset", "5"}, [&](pid_t pid) {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            signalledAt = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            kill(pid, sig);
        });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_LT(r.seconds - signalledAt, 1.0) << "took too long to stop after signal " << sig;
        EXPECT_NE(r.out.find("listening on UDP port 17405"), std::string::npos) << r.out;
    }
}

TEST(Serve, BadArgumentsAreUsageErrors) {
    ScopedTestFolders dir("marrowfin-apptest");
    EXPECT_EQ(RunApp({"serve", "--osc-offset", "101"}).status, 2);
    EXPECT_EQ(RunApp({"serve", "--input", dir / "x.wav", "--demo"}).status, 2);
    RunResult missing = RunApp({"serve", "--input", dir / "x.wav", "--seconds", "1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("x.wav"), std::string::npos);
}

TEST(Serve, StoredPreferencesThatLeaveNoPortOrAreNoFileNeitherMisleadNorHang) {
    ScopedTestFolders dir("marrowfin-apptest");
    fs::create_directories(dir.Config());
    const std::string prefs = dir.Config() + "/com.tallowbright.Marrowfin.plist";
    std::ofstream(prefs) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>OSC Base Port</key>"
                            "<integer>-3</integer></dict></plist>";
    RunResult r = RunApp({"serve", "--demo", "--seconds", "0.2", "--osc-offset", "1"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out.find("listening"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("UDP port -2"), std::string::npos) << r.err;

    // A FIFO in place of the preferences file: opening it used to wait for a writer for ever.
    fs::remove(prefs);
    ASSERT_EQ(mkfifo(prefs.c_str(), 0600), 0);
    r = RunApp({"serve", "--demo", "--seconds", "0.2", "--osc-base-port", "17500", "--osc-offset", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("listening on UDP port 17502\n"), std::string::npos) << r.out;
}
