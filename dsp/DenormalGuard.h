// Flush-to-zero and denormals-are-zero for the lifetime of the guard; restores the previous mode.
// Recursive filters decaying toward silence would otherwise run into slow denormal arithmetic.
#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define BRINDLECOT_HAS_MXCSR 1
#endif

namespace brindlecot::dsp {

class DenormalGuard
{
public:
    DenormalGuard()
    {
#ifdef BRINDLECOT_HAS_MXCSR
        saved_ = _mm_getcsr();
        _mm_setcsr(saved_ | 0x8040u); // FTZ (bit 15) | DAZ (bit 6)
#endif
    }
    ~DenormalGuard()
    {
#ifdef BRINDLECOT_HAS_MXCSR
        _mm_setcsr(saved_);
#endif
    }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
    unsigned int saved_ = 0;
};

} // namespace brindlecot::dsp
