// Child processes for end-to-end tests: a program run to its end with its output captured, or
// one left running in the background until the test stops it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace TB {

typedef std::map<std::string, std::string> Environment;  // added to the test's own environment

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
    double seconds = 0.0;
};

// Runs argv[0] (a path, or a name looked up in PATH) with its standard input from /dev/null.
// `whileRunning` is called with the child's pid once it started (for sending signals); the child
// is killed after `limit`.
RunResult RunProgram(const std::vector<std::string>& argv, const Environment& env = {},
                     const std::function<void(pid_t)>& whileRunning = nullptr,
                     std::chrono::seconds limit = std::chrono::seconds(60));

// A program running in the background with its standard output in `outPath` and its standard
// error in `errPath` ("" discards it; the same path as `outPath` interleaves both in one file);
// killed and reaped when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const Environment& env, const std::string& outPath,
                 const std::string& errPath = "");
    ~ChildProcess() { Stop(9); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Sends `sig`, waits for the end and returns the status (as RunResult::status).
    int Stop(int sig);
    // False once the program has ended by itself; its status is then what Stop returns.
    bool Running();

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

// The whole content of a file ("" when it cannot be read).
std::string ReadTextFile(const std::string& path);

// Polls `condition` every 5 ms until it holds or `seconds` pass.
bool WaitUntil(const std::function<bool()>& condition, double seconds = 5.0);

}  // namespace TB
