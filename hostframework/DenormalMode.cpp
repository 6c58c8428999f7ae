#include "hostframework/DenormalMode.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define TB_HAVE_MXCSR 1
#endif

uint32_t ScopedDenormalsOff::CurrentMode() {
#ifdef TB_HAVE_MXCSR
    return _mm_getcsr();
#else
    return 0;
#endif
}

ScopedDenormalsOff::ScopedDenormalsOff() : m_saved(CurrentMode()) {
#ifdef TB_HAVE_MXCSR
    _mm_setcsr(m_saved | kFlushToZero | kDenormalsAreZero);
#endif
}

ScopedDenormalsOff::~ScopedDenormalsOff() {
#ifdef TB_HAVE_MXCSR
    _mm_setcsr(m_saved);
#endif
}
