// Helpers for the command-line host's end-to-end tests: the built `marrowfin` run with a time
// limit, and a pitched test signal. Each test's folder (TB::ScopedTestFolders) also stands in for
// the configuration and script folders of the runs.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/AudioFile.h"
#include "tests/support/Process.h"
#include "tests/support/ScopedTestFolders.h"

namespace apptest {

using namespace TB;
namespace fs = std::filesystem;

inline RunResult RunApp(std::vector<std::string> args, const std::function<void(pid_t)>& whileRunning = nullptr) {
    args.insert(args.begin(), MARROWFIN_APP_PATH);
    return RunProgram(args, {}, whileRunning);
}

// A pitched test signal: a decaying saw per channel (each channel its own pitch) plus a little
// deterministic noise, so the analysis locks and no two channels are alike.
inline AudioFile MakeSignal(int sampleRate, int channels, double seconds) {
    AudioFile a{sampleRate, channels, 0, std::vector<float>(size_t(seconds * sampleRate) * channels)};
    uint32_t lcg = 12345;
    for (size_t k = 0; k < a.samples.size(); ++k) {
        const double t = double(k / channels) / sampleRate, ph = std::fmod(t * (90.0 + 37.0 * double(k % channels)), 1.0);
        lcg = lcg * 1664525u + 1013904223u;
        const double noise = (double(lcg >> 8) / double(1u << 24) - 0.5) * 0.01;
        a.samples[k] = float(0.5 * std::exp(-2.0 * std::fmod(t, 0.7)) * (2.0 * ph - 1.0) + noise);
    }
    return a;
}

// Counts the lines of a text (a trailing line without a newline counts).
inline int Lines(const std::string& text) {
    return int(std::count(text.begin(), text.end(), '\n')) + (!text.empty() && text.back() != '\n');
}

// A failed or interrupted render leaves no temporary file (they start with a dot) behind.
inline void ExpectNoTempFiles(const ScopedTestFolders& dir) {
    for (const auto& e : fs::directory_iterator(dir.Root()))
        EXPECT_NE(e.path().filename().string()[0], '.') << "left behind: " << e.path();
}

}  // namespace apptest
