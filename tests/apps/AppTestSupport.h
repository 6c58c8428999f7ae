// Helpers for the command-line host's end-to-end tests: run the built `marrowfin` with a time
// limit and capture its output, temporary folders, and audio files through libsndfile.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace apptest {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "marrowfin-apptest-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // Every entry of the folder, hidden ones included (temporary files start with a dot).
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
        return names;
    }
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
    double seconds = 0.0;
};

// Runs the built binary with `args`; `env` entries are added to the environment. `whileRunning`
// is called with the child's pid once it started (for sending signals). Kills it after `limit`.
template <typename F>
RunResult RunAppWith(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                     F whileRunning, std::chrono::seconds limit = std::chrono::seconds(60)) {
    TempDir capture;
    const std::string outPath = capture / "stdout", errPath = capture / "stderr";
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int n = open("/dev/null", O_RDONLY);
        dup2(o, 1);
        dup2(e, 2);
        dup2(n, 0);
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv;
        std::string app = MARROWFIN_APP_PATH;
        argv.push_back(app.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(app.c_str(), argv.data());
        _exit(127);
    }
    whileRunning(pid);
    RunResult r;
    int wstatus = 0;
    while (true) {
        pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() - start > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    std::ifstream o(outPath), e(errPath);
    std::stringstream so, se;
    so << o.rdbuf();
    se << e.rdbuf();
    r.out = so.str();
    r.err = se.str();
    return r;
}

inline RunResult RunApp(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    return RunAppWith(args, env, [](pid_t) {});
}

// ---- audio files

struct Audio {
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> samples;  // interleaved
    int64_t Frames() const { return channels ? int64_t(samples.size()) / channels : 0; }
};

inline void WriteAudio(const std::string& path, const Audio& a, int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    SF_INFO info{};
    info.samplerate = a.sampleRate;
    info.channels = a.channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) throw std::runtime_error("cannot write test file " + path);
    sf_writef_float(f, a.samples.data(), a.Frames());
    sf_close(f);
}

inline Audio ReadAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) throw std::runtime_error("cannot read test file " + path);
    Audio a;
    a.sampleRate = info.samplerate;
    a.channels = info.channels;
    a.format = info.format;
    a.samples.resize(size_t(info.frames * info.channels));
    sf_readf_float(f, a.samples.data(), info.frames);
    sf_close(f);
    return a;
}

// A pitched test signal: a decaying saw per channel (each channel its own pitch) plus a little
// deterministic noise, so the analysis locks and no two channels are alike.
inline Audio MakeSignal(int sampleRate, int channels, double seconds) {
    Audio a;
    a.sampleRate = sampleRate;
    a.channels = channels;
    const int64_t frames = int64_t(seconds * sampleRate);
    a.samples.resize(size_t(frames * channels));
    uint32_t lcg = 12345;
    for (int64_t i = 0; i < frames; ++i) {
        double t = double(i) / sampleRate;
        for (int c = 0; c < channels; ++c) {
            double f = 90.0 + 37.0 * c;
            double ph = std::fmod(t * f, 1.0);
            lcg = lcg * 1664525u + 1013904223u;
            double noise = (double(lcg >> 8) / double(1u << 24) - 0.5) * 0.01;
            a.samples[size_t(i * channels + c)] = float(0.5 * std::exp(-2.0 * std::fmod(t, 0.7)) * (2.0 * ph - 1.0) + noise);
        }
    }
    return a;
}

// Counts the lines of a text (a trailing line without a newline counts).
inline int Lines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n + (!text.empty() && text.back() != '\n');
}

}  // namespace apptest
