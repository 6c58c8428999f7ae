// A progress bar on standard error for offline renders. It appears only when standard error is a
// terminal and the render has already taken about a second, and redraws at most ten times a
// second. Main thread only.
#pragma once

#include <chrono>
#include <cstdint>

namespace MarrowfinApp {

class Progress {
public:
    // `enabled` false (--quiet) keeps it silent whatever the terminal.
    Progress(int64_t totalFrames, bool enabled);
    ~Progress();  // clears the bar

    void Update(int64_t framesDone);
    void Finish();

private:
    void Draw(int64_t framesDone);

    int64_t m_total;
    bool m_enabled;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace MarrowfinApp
