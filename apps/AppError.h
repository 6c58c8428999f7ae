// The one kind of failure the command-line host reports: a message naming the problem (and the
// file, where there is one) and the process exit status it stands for.
#pragma once

#include <stdexcept>
#include <string>

namespace MarrowfinApp {

enum ExitStatus : int {
    kExitOK = 0,
    kExitFailure = 1,      // a file could not be read or written, the unit refused something
    kExitUsage = 2,        // the command line asks for something that does not exist or cannot be
    kExitInterrupted = 130 // SIGINT or SIGTERM during an offline render
};

class AppError : public std::runtime_error {
public:
    AppError(ExitStatus status, const std::string& message) : std::runtime_error(message), m_status(status) {}
    ExitStatus Status() const { return m_status; }

private:
    ExitStatus m_status;
};

inline AppError UsageError(const std::string& message) { return AppError(kExitUsage, message); }
inline AppError Failure(const std::string& message) { return AppError(kExitFailure, message); }

}  // namespace MarrowfinApp
