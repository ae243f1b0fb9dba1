#pragma once
// The audio callback's arithmetic: flush-to-zero and denormals-are-zero while it runs, restored
// after it, so that a fading tail does not fall into denormal arithmetic, and the rendering thread
// of an offline engine (the caller's) gets its own mode back.
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace engine {

class DenormalGuard {
public:
    DenormalGuard() noexcept {
#if defined(__SSE__)
        m_saved = _mm_getcsr();
        _mm_setcsr(m_saved | 0x8040);
#endif
    }
    ~DenormalGuard() {
#if defined(__SSE__)
        _mm_setcsr(m_saved);
#endif
    }

private:
    unsigned m_saved = 0;
};

} // namespace engine
