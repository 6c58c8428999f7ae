// Flush-to-zero and denormals-are-zero for the span of one render call, restoring the previous
// floating-point mode afterwards. Render thread; costs two control-register accesses.
#pragma once

#include <cstdint>

class ScopedDenormalsOff {
public:
    ScopedDenormalsOff();
    ~ScopedDenormalsOff();
    ScopedDenormalsOff(const ScopedDenormalsOff&) = delete;
    ScopedDenormalsOff& operator=(const ScopedDenormalsOff&) = delete;

    // The MXCSR bits: flush-to-zero (15) and denormals-are-zero (6).
    static constexpr uint32_t kFlushToZero = 1u << 15;
    static constexpr uint32_t kDenormalsAreZero = 1u << 6;
    static uint32_t CurrentMode();  // the control word (0 where there is none)

private:
    uint32_t m_saved;
};
