#include "apps/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace MarrowfinApp {

namespace {
constexpr auto kShowAfter = std::chrono::milliseconds(1000);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kBarWidth = 40;
}  // namespace

Progress::Progress(int64_t totalFrames, bool enabled)
    : m_total(totalFrames), m_enabled(enabled && isatty(STDERR_FILENO)), m_start(std::chrono::steady_clock::now()) {}

Progress::~Progress() { Finish(); }

void Progress::Update(int64_t framesDone) {
    if (!m_enabled) return;
    auto now = std::chrono::steady_clock::now();
    if (now - m_start < kShowAfter) return;
    if (m_shown && now - m_lastDraw < kRedrawEvery) return;
    m_lastDraw = now;
    Draw(framesDone);
}

void Progress::Draw(int64_t framesDone) {
    double fraction = m_total > 0 ? std::clamp(double(framesDone) / double(m_total), 0.0, 1.0) : 1.0;
    int filled = int(fraction * kBarWidth + 0.5);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kBarWidth] = 0;
    std::fprintf(stderr, "\rrendering [%s] %3d%%", bar, int(fraction * 100.0 + 0.5));
    std::fflush(stderr);
    m_shown = true;
}

void Progress::Finish() {
    if (!m_shown) return;
    // Erase the bar so the next line starts clean.
    std::fprintf(stderr, "\r%*s\r", kBarWidth + 20, "");
    std::fflush(stderr);
    m_shown = false;
    m_enabled = false;
}

}  // namespace MarrowfinApp
