#include "tests/support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>


namespace TB {

namespace {

// Forks and execs argv with stdout and stderr sent to the given files ("" is /dev/null).
pid_t Spawn(const std::vector<std::string>& argv, const Environment& env, const std::string& outPath,
            const std::string& errPath) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    auto openOut = [](const std::string& path) {
        return path.empty() ? open("/dev/null", O_WRONLY) : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    };
    dup2(openOut(outPath), 1);
    dup2(errPath == outPath && !outPath.empty() ? 1 : openOut(errPath), 2);
    dup2(open("/dev/null", O_RDONLY), 0);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int StatusOf(int wstatus) { return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus); }

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const Environment& env,
                     const std::function<void(pid_t)>& whileRunning, std::chrono::seconds limit) {
    std::string folder = (std::filesystem::temp_directory_path() / "marrowfin-run-XXXXXX").string();
    if (!mkdtemp(folder.data())) return {};
    const std::string outPath = folder + "/stdout", errPath = folder + "/stderr";
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(argv, env, outPath, errPath);
    if (whileRunning) whileRunning(pid);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() - start > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    RunResult r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = StatusOf(wstatus);
    r.out = ReadTextFile(outPath);
    r.err = ReadTextFile(errPath);
    std::filesystem::remove_all(folder);
    return r;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Environment& env, const std::string& outPath,
                           const std::string& errPath)
    : m_pid(Spawn(argv, env, outPath, errPath)) {}

bool ChildProcess::Running() {
    if (m_pid <= 0) return false;
    int wstatus = 0;
    if (waitpid(m_pid, &wstatus, WNOHANG) != m_pid) return true;
    m_pid = -1;
    m_status = StatusOf(wstatus);
    return false;
}

int ChildProcess::Stop(int sig) {
    if (m_pid <= 0) return m_status;
    kill(m_pid, sig);
    int wstatus = 0;
    waitpid(m_pid, &wstatus, 0);
    m_pid = -1;
    m_status = StatusOf(wstatus);
    return m_status;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WaitUntil(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace TB
