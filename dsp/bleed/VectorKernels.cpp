#include "dsp/bleed/VectorKernels.h"

#include <cstdint>
#include <emmintrin.h>
#include <immintrin.h>

// The 8-lane vector helpers below are always inlined into AVX2 functions, so no 32-byte vector
// crosses a call boundary and the ABI note does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace brindlecot::dsp::kernels {

namespace {

// Sums the four lanes of each of a, b, c, d into one vector (a's sum in lane 0).
inline __m128 reduce4(__m128 a, __m128 b, __m128 c, __m128 d)
{
    _MM_TRANSPOSE4_PS(a, b, c, d);
    return _mm_add_ps(_mm_add_ps(a, b), _mm_add_ps(c, d));
}

inline float horizontalSum(__m128 v)
{
    const __m128 high = _mm_movehl_ps(v, v);
    const __m128 pair = _mm_add_ps(v, high);
    return _mm_cvtss_f32(_mm_add_ss(pair, _mm_shuffle_ps(pair, pair, 1)));
}

// ---- SSE2: four rows at a time, two partial sums per row --------------------------------------

void matVecSse2(const float* m, const float* x, float* y, std::size_t rows, std::size_t cols)
{
    for (std::size_t r = 0; r < rows; r += 4) {
        const float* r0 = m + r * cols;
        const float* r1 = r0 + cols;
        const float* r2 = r1 + cols;
        const float* r3 = r2 + cols;
        __m128 a0 = _mm_setzero_ps(), a1 = _mm_setzero_ps(), a2 = _mm_setzero_ps(), a3 = _mm_setzero_ps();
        __m128 b0 = _mm_setzero_ps(), b1 = _mm_setzero_ps(), b2 = _mm_setzero_ps(), b3 = _mm_setzero_ps();
        for (std::size_t c = 0; c < cols; c += 8) {
            const __m128 x0 = _mm_loadu_ps(x + c);
            const __m128 x1 = _mm_loadu_ps(x + c + 4);
            a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(r0 + c), x0));
            a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(r1 + c), x0));
            a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(r2 + c), x0));
            a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(r3 + c), x0));
            b0 = _mm_add_ps(b0, _mm_mul_ps(_mm_loadu_ps(r0 + c + 4), x1));
            b1 = _mm_add_ps(b1, _mm_mul_ps(_mm_loadu_ps(r1 + c + 4), x1));
            b2 = _mm_add_ps(b2, _mm_mul_ps(_mm_loadu_ps(r2 + c + 4), x1));
            b3 = _mm_add_ps(b3, _mm_mul_ps(_mm_loadu_ps(r3 + c + 4), x1));
        }
        _mm_storeu_ps(
            y + r, reduce4(_mm_add_ps(a0, b0), _mm_add_ps(a1, b1), _mm_add_ps(a2, b2), _mm_add_ps(a3, b3)));
    }
}

void dot2Sse2(const float* a, const float* b, const float* x, std::size_t n, float& ra, float& rb)
{
    __m128 a0 = _mm_setzero_ps(), a1 = _mm_setzero_ps(), a2 = _mm_setzero_ps(), a3 = _mm_setzero_ps();
    __m128 b0 = _mm_setzero_ps(), b1 = _mm_setzero_ps(), b2 = _mm_setzero_ps(), b3 = _mm_setzero_ps();
    for (std::size_t i = 0; i < n; i += 16) {
        const __m128 x0 = _mm_loadu_ps(x + i);
        const __m128 x1 = _mm_loadu_ps(x + i + 4);
        const __m128 x2 = _mm_loadu_ps(x + i + 8);
        const __m128 x3 = _mm_loadu_ps(x + i + 12);
        a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(a + i), x0));
        a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(a + i + 4), x1));
        a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(a + i + 8), x2));
        a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(a + i + 12), x3));
        b0 = _mm_add_ps(b0, _mm_mul_ps(_mm_loadu_ps(b + i), x0));
        b1 = _mm_add_ps(b1, _mm_mul_ps(_mm_loadu_ps(b + i + 4), x1));
        b2 = _mm_add_ps(b2, _mm_mul_ps(_mm_loadu_ps(b + i + 8), x2));
        b3 = _mm_add_ps(b3, _mm_mul_ps(_mm_loadu_ps(b + i + 12), x3));
    }
    ra = horizontalSum(_mm_add_ps(_mm_add_ps(a0, a1), _mm_add_ps(a2, a3)));
    rb = horizontalSum(_mm_add_ps(_mm_add_ps(b0, b1), _mm_add_ps(b2, b3)));
}

// The same two sums for two histories x and y, bit-identical to dot2Sse2 on each: every partial sum
// sees the same products in the same order. Taps are loaded once for both histories; two passes
// over four of the eight partial sums each keep everything in registers.
void dot2PairSse2(const float* a, const float* b, const float* x, const float* y, std::size_t n, float* out)
{
    __m128 sums[2][2][4]; // [history][a or b][partial]
    for (std::size_t half = 0; half < 2; ++half) {
        const std::size_t o0 = 8 * half, o1 = o0 + 4;
        __m128 xa0 = _mm_setzero_ps(), xa1 = _mm_setzero_ps(), xb0 = _mm_setzero_ps(), xb1 = _mm_setzero_ps();
        __m128 ya0 = _mm_setzero_ps(), ya1 = _mm_setzero_ps(), yb0 = _mm_setzero_ps(), yb1 = _mm_setzero_ps();
        for (std::size_t i = 0; i < n; i += 16) {
            const __m128 ta0 = _mm_loadu_ps(a + i + o0), ta1 = _mm_loadu_ps(a + i + o1);
            const __m128 tb0 = _mm_loadu_ps(b + i + o0), tb1 = _mm_loadu_ps(b + i + o1);
            const __m128 x0 = _mm_loadu_ps(x + i + o0), x1 = _mm_loadu_ps(x + i + o1);
            xa0 = _mm_add_ps(xa0, _mm_mul_ps(ta0, x0));
            xa1 = _mm_add_ps(xa1, _mm_mul_ps(ta1, x1));
            xb0 = _mm_add_ps(xb0, _mm_mul_ps(tb0, x0));
            xb1 = _mm_add_ps(xb1, _mm_mul_ps(tb1, x1));
            const __m128 y0 = _mm_loadu_ps(y + i + o0), y1 = _mm_loadu_ps(y + i + o1);
            ya0 = _mm_add_ps(ya0, _mm_mul_ps(ta0, y0));
            ya1 = _mm_add_ps(ya1, _mm_mul_ps(ta1, y1));
            yb0 = _mm_add_ps(yb0, _mm_mul_ps(tb0, y0));
            yb1 = _mm_add_ps(yb1, _mm_mul_ps(tb1, y1));
        }
        sums[0][0][2 * half] = xa0;
        sums[0][0][2 * half + 1] = xa1;
        sums[0][1][2 * half] = xb0;
        sums[0][1][2 * half + 1] = xb1;
        sums[1][0][2 * half] = ya0;
        sums[1][0][2 * half + 1] = ya1;
        sums[1][1][2 * half] = yb0;
        sums[1][1][2 * half + 1] = yb1;
    }
    for (int h = 0; h < 2; ++h)
        for (int t = 0; t < 2; ++t) {
            const __m128* s = sums[h][t];
            out[2 * h + t] = horizontalSum(_mm_add_ps(_mm_add_ps(s[0], s[1]), _mm_add_ps(s[2], s[3])));
        }
}

// ---- AVX2 + FMA: same shape with 8-wide vectors and fused multiply-adds -----------------------

__attribute__((target("avx2,fma"))) inline __m128 fold256(__m256 v)
{
    return _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
}

// The lane sums of a0..a7 into y[0..7] in order, by a horizontal-add tree.
__attribute__((target("avx2,fma"))) inline void storeEightSums(
    float* y, __m256 a0, __m256 a1, __m256 a2, __m256 a3, __m256 a4, __m256 a5, __m256 a6, __m256 a7)
{
    const __m256 h01 = _mm256_hadd_ps(a0, a1), h23 = _mm256_hadd_ps(a2, a3);
    const __m256 h45 = _mm256_hadd_ps(a4, a5), h67 = _mm256_hadd_ps(a6, a7);
    const __m256 h0123 = _mm256_hadd_ps(h01, h23), h4567 = _mm256_hadd_ps(h45, h67);
    _mm256_storeu_ps(y,
        _mm256_add_ps(
            _mm256_permute2f128_ps(h0123, h4567, 0x20), _mm256_permute2f128_ps(h0123, h4567, 0x31)));
}

// Eight rows at a time: one accumulator per row (eight independent FMA chains), one load of x
// shared by the eight rows, and a horizontal-add tree that leaves the eight sums in order.
__attribute__((target("avx2,fma"))) void matVecAvx2(
    const float* m, const float* x, float* y, std::size_t rows, std::size_t cols)
{
    std::size_t r = 0;
    for (; r + 8 <= rows; r += 8) {
        const float* row = m + r * cols;
        __m256 a0 = _mm256_setzero_ps(), a1 = _mm256_setzero_ps(), a2 = _mm256_setzero_ps(),
               a3 = _mm256_setzero_ps(), a4 = _mm256_setzero_ps(), a5 = _mm256_setzero_ps(),
               a6 = _mm256_setzero_ps(), a7 = _mm256_setzero_ps();
        for (std::size_t c = 0; c < cols; c += 8) {
            const __m256 xv = _mm256_loadu_ps(x + c);
            a0 = _mm256_fmadd_ps(_mm256_loadu_ps(row + c), xv, a0);
            a1 = _mm256_fmadd_ps(_mm256_loadu_ps(row + cols + c), xv, a1);
            a2 = _mm256_fmadd_ps(_mm256_loadu_ps(row + 2 * cols + c), xv, a2);
            a3 = _mm256_fmadd_ps(_mm256_loadu_ps(row + 3 * cols + c), xv, a3);
            a4 = _mm256_fmadd_ps(_mm256_loadu_ps(row + 4 * cols + c), xv, a4);
            a5 = _mm256_fmadd_ps(_mm256_loadu_ps(row + 5 * cols + c), xv, a5);
            a6 = _mm256_fmadd_ps(_mm256_loadu_ps(row + 6 * cols + c), xv, a6);
            a7 = _mm256_fmadd_ps(_mm256_loadu_ps(row + 7 * cols + c), xv, a7);
        }
        storeEightSums(y + r, a0, a1, a2, a3, a4, a5, a6, a7);
    }
    for (; r < rows; r += 4) {
        const float* r0 = m + r * cols;
        const float* r1 = r0 + cols;
        const float* r2 = r1 + cols;
        const float* r3 = r2 + cols;
        __m256 a0 = _mm256_setzero_ps(), a1 = _mm256_setzero_ps(), a2 = _mm256_setzero_ps(),
               a3 = _mm256_setzero_ps();
        __m256 b0 = _mm256_setzero_ps(), b1 = _mm256_setzero_ps(), b2 = _mm256_setzero_ps(),
               b3 = _mm256_setzero_ps();
        for (std::size_t c = 0; c < cols; c += 16) {
            const __m256 x0 = _mm256_loadu_ps(x + c);
            const __m256 x1 = _mm256_loadu_ps(x + c + 8);
            a0 = _mm256_fmadd_ps(_mm256_loadu_ps(r0 + c), x0, a0);
            a1 = _mm256_fmadd_ps(_mm256_loadu_ps(r1 + c), x0, a1);
            a2 = _mm256_fmadd_ps(_mm256_loadu_ps(r2 + c), x0, a2);
            a3 = _mm256_fmadd_ps(_mm256_loadu_ps(r3 + c), x0, a3);
            b0 = _mm256_fmadd_ps(_mm256_loadu_ps(r0 + c + 8), x1, b0);
            b1 = _mm256_fmadd_ps(_mm256_loadu_ps(r1 + c + 8), x1, b1);
            b2 = _mm256_fmadd_ps(_mm256_loadu_ps(r2 + c + 8), x1, b2);
            b3 = _mm256_fmadd_ps(_mm256_loadu_ps(r3 + c + 8), x1, b3);
        }
        _mm_storeu_ps(y + r,
            reduce4(fold256(_mm256_add_ps(a0, b0)), fold256(_mm256_add_ps(a1, b1)),
                fold256(_mm256_add_ps(a2, b2)), fold256(_mm256_add_ps(a3, b3))));
    }
}

__attribute__((target("avx2,fma"))) void dot2Avx2(
    const float* a, const float* b, const float* x, std::size_t n, float& ra, float& rb)
{
    __m256 a0 = _mm256_setzero_ps(), a1 = _mm256_setzero_ps(), a2 = _mm256_setzero_ps(),
           a3 = _mm256_setzero_ps();
    __m256 b0 = _mm256_setzero_ps(), b1 = _mm256_setzero_ps(), b2 = _mm256_setzero_ps(),
           b3 = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256 x0 = _mm256_loadu_ps(x + i);
        const __m256 x1 = _mm256_loadu_ps(x + i + 8);
        const __m256 x2 = _mm256_loadu_ps(x + i + 16);
        const __m256 x3 = _mm256_loadu_ps(x + i + 24);
        a0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), x0, a0);
        a1 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 8), x1, a1);
        a2 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 16), x2, a2);
        a3 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 24), x3, a3);
        b0 = _mm256_fmadd_ps(_mm256_loadu_ps(b + i), x0, b0);
        b1 = _mm256_fmadd_ps(_mm256_loadu_ps(b + i + 8), x1, b1);
        b2 = _mm256_fmadd_ps(_mm256_loadu_ps(b + i + 16), x2, b2);
        b3 = _mm256_fmadd_ps(_mm256_loadu_ps(b + i + 24), x3, b3);
    }
    for (; i < n; i += 16) {
        const __m256 x0 = _mm256_loadu_ps(x + i);
        const __m256 x1 = _mm256_loadu_ps(x + i + 8);
        a0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), x0, a0);
        a1 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 8), x1, a1);
        b0 = _mm256_fmadd_ps(_mm256_loadu_ps(b + i), x0, b0);
        b1 = _mm256_fmadd_ps(_mm256_loadu_ps(b + i + 8), x1, b1);
    }
    ra = horizontalSum(fold256(_mm256_add_ps(_mm256_add_ps(a0, a1), _mm256_add_ps(a2, a3))));
    rb = horizontalSum(fold256(_mm256_add_ps(_mm256_add_ps(b0, b1), _mm256_add_ps(b2, b3))));
}

__attribute__((target("avx2,fma"), always_inline)) inline void pairStepAvx2(const float* a, const float* b,
    const float* x, const float* y, std::size_t p0, std::size_t p1, __m256& xa0, __m256& xa1, __m256& xb0,
    __m256& xb1, __m256& ya0, __m256& ya1, __m256& yb0, __m256& yb1)
{
    const __m256 ta0 = _mm256_loadu_ps(a + p0), ta1 = _mm256_loadu_ps(a + p1);
    const __m256 tb0 = _mm256_loadu_ps(b + p0), tb1 = _mm256_loadu_ps(b + p1);
    const __m256 x0 = _mm256_loadu_ps(x + p0), x1 = _mm256_loadu_ps(x + p1);
    xa0 = _mm256_fmadd_ps(ta0, x0, xa0);
    xa1 = _mm256_fmadd_ps(ta1, x1, xa1);
    xb0 = _mm256_fmadd_ps(tb0, x0, xb0);
    xb1 = _mm256_fmadd_ps(tb1, x1, xb1);
    const __m256 y0 = _mm256_loadu_ps(y + p0), y1 = _mm256_loadu_ps(y + p1);
    ya0 = _mm256_fmadd_ps(ta0, y0, ya0);
    ya1 = _mm256_fmadd_ps(ta1, y1, ya1);
    yb0 = _mm256_fmadd_ps(tb0, y0, yb0);
    yb1 = _mm256_fmadd_ps(tb1, y1, yb1);
}

// dot2Avx2 for two histories, bit-identical to it on each (see dot2PairSse2). The 32-wide main loop
// feeds partial sums 0-3, the 16-wide tail only 0 and 1, as in dot2Avx2.
__attribute__((target("avx2,fma"))) void dot2PairAvx2(
    const float* a, const float* b, const float* x, const float* y, std::size_t n, float* out)
{
    __m256 sums[2][2][4]; // [history][a or b][partial]
    const std::size_t main = n / 32 * 32;
    for (std::size_t half = 0; half < 2; ++half) {
        const std::size_t o0 = 16 * half, o1 = o0 + 8;
        __m256 xa0 = _mm256_setzero_ps(), xa1 = _mm256_setzero_ps(), xb0 = _mm256_setzero_ps(),
               xb1 = _mm256_setzero_ps();
        __m256 ya0 = _mm256_setzero_ps(), ya1 = _mm256_setzero_ps(), yb0 = _mm256_setzero_ps(),
               yb1 = _mm256_setzero_ps();
        for (std::size_t i = 0; i < main; i += 32)
            pairStepAvx2(a + i, b + i, x + i, y + i, o0, o1, xa0, xa1, xb0, xb1, ya0, ya1, yb0, yb1);
        if (half == 0)
            for (std::size_t i = main; i < n; i += 16)
                pairStepAvx2(a + i, b + i, x + i, y + i, 0, 8, xa0, xa1, xb0, xb1, ya0, ya1, yb0, yb1);
        sums[0][0][2 * half] = xa0;
        sums[0][0][2 * half + 1] = xa1;
        sums[0][1][2 * half] = xb0;
        sums[0][1][2 * half + 1] = xb1;
        sums[1][0][2 * half] = ya0;
        sums[1][0][2 * half + 1] = ya1;
        sums[1][1][2 * half] = yb0;
        sums[1][1][2 * half + 1] = yb1;
    }
    for (int h = 0; h < 2; ++h)
        for (int t = 0; t < 2; ++t) {
            const __m256* s = sums[h][t];
            out[2 * h + t]
                = horizontalSum(fold256(_mm256_add_ps(_mm256_add_ps(s[0], s[1]), _mm256_add_ps(s[2], s[3]))));
        }
}

// ---- AVX-512: 16-wide vectors, twice the multiply-adds per instruction of AVX2 ------------------

#define BRINDLECOT_AVX512 __attribute__((target("avx512f,avx512dq,avx2,fma")))

// Lanes 0-7 plus lanes 8-15. Written as shuffles: GCC 12's extract intrinsics start from an
// undefined vector and warn about it once inlined.
BRINDLECOT_AVX512 inline __m256 fold512(__m512 v)
{
    const __m256 low = __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7);
    const __m256 high = __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm256_add_ps(low, high);
}

// Eight rows at a time as in matVecAvx2, 16 columns per step; four rows at a time for the rest.
BRINDLECOT_AVX512 void matVecAvx512(
    const float* m, const float* x, float* y, std::size_t rows, std::size_t cols)
{
    std::size_t r = 0;
    for (; r + 8 <= rows; r += 8) {
        const float* row = m + r * cols;
        __m512 a0 = _mm512_setzero_ps(), a1 = _mm512_setzero_ps(), a2 = _mm512_setzero_ps(),
               a3 = _mm512_setzero_ps(), a4 = _mm512_setzero_ps(), a5 = _mm512_setzero_ps(),
               a6 = _mm512_setzero_ps(), a7 = _mm512_setzero_ps();
        for (std::size_t c = 0; c < cols; c += 16) {
            const __m512 xv = _mm512_loadu_ps(x + c);
            a0 = _mm512_fmadd_ps(_mm512_loadu_ps(row + c), xv, a0);
            a1 = _mm512_fmadd_ps(_mm512_loadu_ps(row + cols + c), xv, a1);
            a2 = _mm512_fmadd_ps(_mm512_loadu_ps(row + 2 * cols + c), xv, a2);
            a3 = _mm512_fmadd_ps(_mm512_loadu_ps(row + 3 * cols + c), xv, a3);
            a4 = _mm512_fmadd_ps(_mm512_loadu_ps(row + 4 * cols + c), xv, a4);
            a5 = _mm512_fmadd_ps(_mm512_loadu_ps(row + 5 * cols + c), xv, a5);
            a6 = _mm512_fmadd_ps(_mm512_loadu_ps(row + 6 * cols + c), xv, a6);
            a7 = _mm512_fmadd_ps(_mm512_loadu_ps(row + 7 * cols + c), xv, a7);
        }
        storeEightSums(y + r, fold512(a0), fold512(a1), fold512(a2), fold512(a3), fold512(a4), fold512(a5),
            fold512(a6), fold512(a7));
    }
    for (; r < rows; r += 4) {
        const float* r0 = m + r * cols;
        __m512 a0 = _mm512_setzero_ps(), a1 = _mm512_setzero_ps(), a2 = _mm512_setzero_ps(),
               a3 = _mm512_setzero_ps();
        for (std::size_t c = 0; c < cols; c += 16) {
            const __m512 xv = _mm512_loadu_ps(x + c);
            a0 = _mm512_fmadd_ps(_mm512_loadu_ps(r0 + c), xv, a0);
            a1 = _mm512_fmadd_ps(_mm512_loadu_ps(r0 + cols + c), xv, a1);
            a2 = _mm512_fmadd_ps(_mm512_loadu_ps(r0 + 2 * cols + c), xv, a2);
            a3 = _mm512_fmadd_ps(_mm512_loadu_ps(r0 + 3 * cols + c), xv, a3);
        }
        _mm_storeu_ps(y + r,
            reduce4(fold256(fold512(a0)), fold256(fold512(a1)), fold256(fold512(a2)), fold256(fold512(a3))));
    }
}

BRINDLECOT_AVX512 inline float sum4x512(__m512 s0, __m512 s1, __m512 s2, __m512 s3)
{
    return horizontalSum(fold256(fold512(_mm512_add_ps(_mm512_add_ps(s0, s1), _mm512_add_ps(s2, s3)))));
}

// Four partial sums per result over 64 taps per step; a 16-tap tail feeds partial 0.
BRINDLECOT_AVX512 void dot2Avx512(
    const float* a, const float* b, const float* x, std::size_t n, float& ra, float& rb)
{
    __m512 a0 = _mm512_setzero_ps(), a1 = _mm512_setzero_ps(), a2 = _mm512_setzero_ps(),
           a3 = _mm512_setzero_ps();
    __m512 b0 = _mm512_setzero_ps(), b1 = _mm512_setzero_ps(), b2 = _mm512_setzero_ps(),
           b3 = _mm512_setzero_ps();
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512 x0 = _mm512_loadu_ps(x + i), x1 = _mm512_loadu_ps(x + i + 16);
        const __m512 x2 = _mm512_loadu_ps(x + i + 32), x3 = _mm512_loadu_ps(x + i + 48);
        a0 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i), x0, a0);
        a1 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 16), x1, a1);
        a2 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 32), x2, a2);
        a3 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 48), x3, a3);
        b0 = _mm512_fmadd_ps(_mm512_loadu_ps(b + i), x0, b0);
        b1 = _mm512_fmadd_ps(_mm512_loadu_ps(b + i + 16), x1, b1);
        b2 = _mm512_fmadd_ps(_mm512_loadu_ps(b + i + 32), x2, b2);
        b3 = _mm512_fmadd_ps(_mm512_loadu_ps(b + i + 48), x3, b3);
    }
    for (; i < n; i += 16) {
        const __m512 x0 = _mm512_loadu_ps(x + i);
        a0 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i), x0, a0);
        b0 = _mm512_fmadd_ps(_mm512_loadu_ps(b + i), x0, b0);
    }
    ra = sum4x512(a0, a1, a2, a3);
    rb = sum4x512(b0, b1, b2, b3);
}

// dot2Avx512 on two histories in one pass (16 accumulators fit the 32 registers), bit-identical
// to it on each.
BRINDLECOT_AVX512 void dot2PairAvx512(
    const float* a, const float* b, const float* x, const float* y, std::size_t n, float* out)
{
    __m512 xa[4], xb[4], ya[4], yb[4];
    for (int p = 0; p < 4; ++p)
        xa[p] = xb[p] = ya[p] = yb[p] = _mm512_setzero_ps();
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (int p = 0; p < 4; ++p) {
            const std::size_t o = i + 16 * static_cast<std::size_t>(p);
            const __m512 ta = _mm512_loadu_ps(a + o), tb = _mm512_loadu_ps(b + o);
            const __m512 xv = _mm512_loadu_ps(x + o), yv = _mm512_loadu_ps(y + o);
            xa[p] = _mm512_fmadd_ps(ta, xv, xa[p]);
            xb[p] = _mm512_fmadd_ps(tb, xv, xb[p]);
            ya[p] = _mm512_fmadd_ps(ta, yv, ya[p]);
            yb[p] = _mm512_fmadd_ps(tb, yv, yb[p]);
        }
    for (; i < n; i += 16) {
        const __m512 ta = _mm512_loadu_ps(a + i), tb = _mm512_loadu_ps(b + i);
        const __m512 xv = _mm512_loadu_ps(x + i), yv = _mm512_loadu_ps(y + i);
        xa[0] = _mm512_fmadd_ps(ta, xv, xa[0]);
        xb[0] = _mm512_fmadd_ps(tb, xv, xb[0]);
        ya[0] = _mm512_fmadd_ps(ta, yv, ya[0]);
        yb[0] = _mm512_fmadd_ps(tb, yv, yb[0]);
    }
    out[0] = sum4x512(xa[0], xa[1], xa[2], xa[3]);
    out[1] = sum4x512(xb[0], xb[1], xb[2], xb[3]);
    out[2] = sum4x512(ya[0], ya[1], ya[2], ya[3]);
    out[3] = sum4x512(yb[0], yb[1], yb[2], yb[3]);
}

// dot2PairAvx512 on x = xBase + shift and y = yBase + shift with aligned loads only: each history
// vector is put together from two aligned vectors by a two-source permute. A history that starts
// at an arbitrary sample makes every unaligned 64-byte load straddle two cache lines, which costs
// more than the permute. The same values in the same order: bit-identical to dot2Avx512.
BRINDLECOT_AVX512 void dot2PairAlignedAvx512(const float* a, const float* b, const float* xBase,
    const float* yBase, std::size_t shift, std::size_t n, float* out)
{
    const __m512i index = _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(shift)),
        _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    __m512 xa[4], xb[4], ya[4], yb[4];
    for (int p = 0; p < 4; ++p)
        xa[p] = xb[p] = ya[p] = yb[p] = _mm512_setzero_ps();
    __m512 xLow = _mm512_load_ps(xBase), yLow = _mm512_load_ps(yBase);
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (int p = 0; p < 4; ++p) {
            const std::size_t o = i + 16 * static_cast<std::size_t>(p);
            const __m512 xHigh = _mm512_load_ps(xBase + o + 16), yHigh = _mm512_load_ps(yBase + o + 16);
            const __m512 xv = _mm512_permutex2var_ps(xLow, index, xHigh);
            const __m512 yv = _mm512_permutex2var_ps(yLow, index, yHigh);
            xLow = xHigh;
            yLow = yHigh;
            const __m512 ta = _mm512_loadu_ps(a + o), tb = _mm512_loadu_ps(b + o);
            xa[p] = _mm512_fmadd_ps(ta, xv, xa[p]);
            xb[p] = _mm512_fmadd_ps(tb, xv, xb[p]);
            ya[p] = _mm512_fmadd_ps(ta, yv, ya[p]);
            yb[p] = _mm512_fmadd_ps(tb, yv, yb[p]);
        }
    for (; i < n; i += 16) {
        const __m512 xHigh = _mm512_load_ps(xBase + i + 16), yHigh = _mm512_load_ps(yBase + i + 16);
        const __m512 xv = _mm512_permutex2var_ps(xLow, index, xHigh);
        const __m512 yv = _mm512_permutex2var_ps(yLow, index, yHigh);
        xLow = xHigh;
        yLow = yHigh;
        const __m512 ta = _mm512_loadu_ps(a + i), tb = _mm512_loadu_ps(b + i);
        xa[0] = _mm512_fmadd_ps(ta, xv, xa[0]);
        xb[0] = _mm512_fmadd_ps(tb, xv, xb[0]);
        ya[0] = _mm512_fmadd_ps(ta, yv, ya[0]);
        yb[0] = _mm512_fmadd_ps(tb, yv, yb[0]);
    }
    out[0] = sum4x512(xa[0], xa[1], xa[2], xa[3]);
    out[1] = sum4x512(xb[0], xb[1], xb[2], xb[3]);
    out[2] = sum4x512(ya[0], ya[1], ya[2], ya[3]);
    out[3] = sum4x512(yb[0], yb[1], yb[2], yb[3]);
}

// The narrower paths load the histories where they start.
void dot2PairAlignedSse2(const float* a, const float* b, const float* xBase, const float* yBase,
    std::size_t shift, std::size_t n, float* out)
{
    dot2PairSse2(a, b, xBase + shift, yBase + shift, n, out);
}
__attribute__((target("avx2,fma"))) void dot2PairAlignedAvx2(const float* a, const float* b,
    const float* xBase, const float* yBase, std::size_t shift, std::size_t n, float* out)
{
    dot2PairAvx2(a, b, xBase + shift, yBase + shift, n, out);
}

// ---- Element-wise nonlinearities, written once with GCC vector extensions ---------------------
// Instantiated with 4 lanes for the SSE2 baseline and 8 lanes inside the AVX2 + FMA functions.

typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));
typedef float F8 __attribute__((vector_size(32)));
typedef int32_t I8 __attribute__((vector_size(32)));
typedef float F16 __attribute__((vector_size(64)));
typedef int32_t I16 __attribute__((vector_size(64)));

#define BRINDLECOT_VECTOR_INLINE __attribute__((always_inline)) inline

template <typename F> BRINDLECOT_VECTOR_INLINE F splat(float v)
{
    return F {} + v;
}

template <typename F> BRINDLECOT_VECTOR_INLINE F load(const float* p)
{
    F v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
template <typename F> BRINDLECOT_VECTOR_INLINE void store(float* p, const F& v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

// exp by range reduction x = n ln 2 + r (ln 2 split in two parts) and a degree-5 polynomial
// (Cephes expf); NaN stays NaN.
template <typename F, typename I> BRINDLECOT_VECTOR_INLINE F vexp(const F& x0)
{
    const F hi = splat<F>(88.3762626647949f);
    const F lo = splat<F>(-88.3762626647949f);
    F x = x0 > hi ? hi : x0;
    x = x < lo ? lo : x;
    const F fx = x * 1.44269504088896341f + 0.5f;
    F fn = __builtin_convertvector(__builtin_convertvector(fx, I), F);
    fn = fn > fx ? fn - 1.0f : fn; // floor
    const F r = (x - fn * 0.693359375f) - fn * -2.12194440e-4f;
    F p = splat<F>(1.9875691500e-4f);
    p = p * r + 1.3981999507e-3f;
    p = p * r + 8.3334519073e-3f;
    p = p * r + 4.1665795894e-2f;
    p = p * r + 1.6666665459e-1f;
    p = p * r + 5.0000001201e-1f;
    const F y = p * r * r + r + 1.0f;
    const I bits = (__builtin_convertvector(fn, I) + 127) << 23;
    const F result = y * (F)bits; // vector cast: reinterprets the bits as 2^n
    return x0 != x0 ? x0 : result;
}

// tanh: odd polynomial below |x| = 0.625 (Cephes tanhf), 1 - 2 / (exp(2|x|) + 1) above.
template <typename F, typename I> BRINDLECOT_VECTOR_INLINE F vtanh(const F& x)
{
    const F ax = x < 0.0f ? -x : x;
    const F e = vexp<F, I>(ax * 2.0f);
    const F large = 1.0f - 2.0f / (e + 1.0f);
    const F z = x * x;
    F p = splat<F>(-5.70498872745e-3f);
    p = p * z + 2.06390887954e-2f;
    p = p * z - 5.37397155531e-2f;
    p = p * z + 1.33314422036e-1f;
    p = p * z - 3.33332819422e-1f;
    const F small = p * z * x + x;
    const F signedLarge = x < 0.0f ? -large : large;
    const F result = ax > 0.625f ? signedLarge : small;
    return x != x ? x : result;
}

template <typename F, typename I> BRINDLECOT_VECTOR_INLINE F vsigmoid(const F& s)
{
    return 1.0f / (1.0f + vexp<F, I>(-s));
}

// Natural logarithm: x = m 2^e with m in [sqrt(1/2), sqrt(2)), ln(1 + f) by a degree-9
// polynomial (Cephes logf).
template <typename F, typename I> BRINDLECOT_VECTOR_INLINE F vlog(const F& x0)
{
    const F x = x0 < 1.17549435e-38f ? splat<F>(1.17549435e-38f) : x0; // smallest normal
    const I bits = (I)x;
    I e = ((bits >> 23) & 0xff) - 126;
    F m = (F)((bits & 0x807fffff) | 0x3f000000); // mantissa in [0.5, 1)
    const I small = m < 0.707106781186547524f; // -1 where true
    e = e + small;
    const F ef = __builtin_convertvector(e, F);
    m = small ? m + m - 1.0f : m - 1.0f;
    const F z = m * m;
    F p = splat<F>(7.0376836292e-2f);
    p = p * m - 1.1514610310e-1f;
    p = p * m + 1.1676998740e-1f;
    p = p * m - 1.2420140846e-1f;
    p = p * m + 1.4249322787e-1f;
    p = p * m - 1.6668057665e-1f;
    p = p * m + 2.0000714765e-1f;
    p = p * m - 2.4999993993e-1f;
    p = p * m + 3.3333331174e-1f;
    F y = p * m * z;
    y = y + ef * -2.12194440e-4f;
    y = y - 0.5f * z;
    const F result = (m + y) + ef * 0.693359375f;
    return x0 != x0 ? x0 : result;
}

// sin and cos together: reduction by multiples of pi/4 in three parts, then the Cephes polynomials
// on [-pi/4, pi/4] (accurate for |x| up to a few thousand).
template <typename F, typename I> BRINDLECOT_VECTOR_INLINE void vsincos(const F& x0, F& sinOut, F& cosOut)
{
    const I sinSign = (I)x0 & static_cast<int32_t>(0x80000000u);
    F x = x0 < 0.0f ? -x0 : x0;
    I j = __builtin_convertvector(x * 1.27323954473516f, I);
    j = (j + 1) & ~1;
    const F y = __builtin_convertvector(j, F);
    x = ((x - y * 0.78515625f) - y * 2.4187564849853515625e-4f) - y * 3.77489497744594108e-8f;
    const I swapSin = (j & 4) << 29;
    const I cosSign = (~(j - 2) & 4) << 29;
    const I usePolySin = (j & 2) == 0;
    const F z = x * x;
    const F c = ((2.443315711809948e-5f * z - 1.388731625493765e-3f) * z + 4.166664568298827e-2f) * z * z
        - 0.5f * z + 1.0f;
    const F sn = ((-1.9515295891e-4f * z + 8.3321608736e-3f) * z - 1.6666654611e-1f) * z * x + x;
    const F s = usePolySin ? sn : c;
    const F co = usePolySin ? c : sn;
    sinOut = (F)((I)s ^ (sinSign ^ swapSin));
    cosOut = (F)((I)co ^ cosSign);
}

template <typename F, typename I> BRINDLECOT_VECTOR_INLINE void logBody(float* x, std::size_t n)
{
    constexpr std::size_t L = sizeof(F) / sizeof(float);
    for (std::size_t i = 0; i < n; i += L)
        store(x + i, vlog<F, I>(load<F>(x + i)));
}

template <typename F, typename I>
BRINDLECOT_VECTOR_INLINE void expPolarBody(float* re, float* im, std::size_t n)
{
    constexpr std::size_t L = sizeof(F) / sizeof(float);
    for (std::size_t i = 0; i < n; i += L) {
        const F magnitude = vexp<F, I>(load<F>(re + i));
        F s, c;
        vsincos<F, I>(load<F>(im + i), s, c);
        store(re + i, magnitude * c);
        store(im + i, magnitude * s);
    }
}

void logSse2(float* x, std::size_t n)
{
    logBody<F4, I4>(x, n);
}
void expPolarSse2(float* re, float* im, std::size_t n)
{
    expPolarBody<F4, I4>(re, im, n);
}
__attribute__((target("avx2,fma"))) void logAvx2(float* x, std::size_t n)
{
    logBody<F8, I8>(x, n);
}
__attribute__((target("avx2,fma"))) void expPolarAvx2(float* re, float* im, std::size_t n)
{
    expPolarBody<F8, I8>(re, im, n);
}

template <typename F, typename I>
BRINDLECOT_VECTOR_INLINE void tanhScaledBody(const float* x, float* y, std::size_t n, float scale)
{
    constexpr std::size_t L = sizeof(F) / sizeof(float);
    for (std::size_t i = 0; i < n; i += L)
        store(y + i, vtanh<F, I>(load<F>(x + i)) * scale);
}

template <typename F, typename I>
BRINDLECOT_VECTOR_INLINE void gruCombineBody(const float* gi, const float* gh, const float* bi,
    const float* br, float* h, std::size_t w, std::size_t begin = 0)
{
    constexpr std::size_t L = sizeof(F) / sizeof(float);
    for (std::size_t j = begin; j + L <= w; j += L) {
        const F r = vsigmoid<F, I>(load<F>(bi + j) + load<F>(br + j) + load<F>(gi + j) + load<F>(gh + j));
        const F z = vsigmoid<F, I>(
            load<F>(bi + w + j) + load<F>(br + w + j) + load<F>(gi + w + j) + load<F>(gh + w + j));
        const F a = load<F>(bi + 2 * w + j) + load<F>(gi + 2 * w + j);
        const F b = load<F>(br + 2 * w + j) + load<F>(gh + 2 * w + j);
        const F n = vtanh<F, I>(a + r * b);
        store(h + j, (1.0f - z) * n + z * load<F>(h + j));
    }
}

void tanhScaledSse2(const float* x, float* y, std::size_t n, float scale)
{
    tanhScaledBody<F4, I4>(x, y, n, scale);
}
void gruCombineSse2(
    const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w)
{
    gruCombineBody<F4, I4>(gi, gh, bi, br, h, w);
}
__attribute__((target("avx2,fma"))) void tanhScaledAvx2(const float* x, float* y, std::size_t n, float scale)
{
    tanhScaledBody<F8, I8>(x, y, n, scale);
}
__attribute__((target("avx2,fma"))) void gruCombineAvx2(
    const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w)
{
    gruCombineBody<F8, I8>(gi, gh, bi, br, h, w);
}

// The element-wise functions 16 lanes at a time, the last 8 (n % 16 == 8) with 8 lanes: every
// element goes through the same operations as on the AVX2 path.
BRINDLECOT_AVX512 void tanhScaledAvx512(const float* x, float* y, std::size_t n, float scale)
{
    const std::size_t main = n / 16 * 16;
    tanhScaledBody<F16, I16>(x, y, main, scale);
    tanhScaledBody<F8, I8>(x + main, y + main, n - main, scale);
}
BRINDLECOT_AVX512 void gruCombineAvx512(
    const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w)
{
    gruCombineBody<F16, I16>(gi, gh, bi, br, h, w);
    gruCombineBody<F8, I8>(gi, gh, bi, br, h, w, w / 16 * 16);
}
BRINDLECOT_AVX512 void logAvx512(float* x, std::size_t n)
{
    const std::size_t main = n / 16 * 16;
    logBody<F16, I16>(x, main);
    logBody<F8, I8>(x + main, n - main);
}
BRINDLECOT_AVX512 void expPolarAvx512(float* re, float* im, std::size_t n)
{
    const std::size_t main = n / 16 * 16;
    expPolarBody<F16, I16>(re, im, main);
    expPolarBody<F8, I8>(re + main, im + main, n - main);
}

using MatVecFn = void (*)(const float*, const float*, float*, std::size_t, std::size_t);
using Dot2Fn = void (*)(const float*, const float*, const float*, std::size_t, float&, float&);
using Dot2PairFn = void (*)(const float*, const float*, const float*, const float*, std::size_t, float*);
using Dot2PairAlignedFn
    = void (*)(const float*, const float*, const float*, const float*, std::size_t, std::size_t, float*);

using TanhFn = void (*)(const float*, float*, std::size_t, float);
using GruFn = void (*)(const float*, const float*, const float*, const float*, float*, std::size_t);
using LogFn = void (*)(float*, std::size_t);
using ExpPolarFn = void (*)(float*, float*, std::size_t);

struct Dispatch
{
    MatVecFn matVec;
    Dot2Fn dot2;
    Dot2PairFn dot2Pair;
    Dot2PairAlignedFn dot2PairAligned;
    TanhFn tanhScaled;
    GruFn gruCombine;
    LogFn log;
    ExpPolarFn expPolar;
    Path path;
};

constexpr Dispatch kSse2 {&matVecSse2, &dot2Sse2, &dot2PairSse2, &dot2PairAlignedSse2, &tanhScaledSse2,
    &gruCombineSse2, &logSse2, &expPolarSse2, Path::Sse2};
constexpr Dispatch kAvx2 {&matVecAvx2, &dot2Avx2, &dot2PairAvx2, &dot2PairAlignedAvx2, &tanhScaledAvx2,
    &gruCombineAvx2, &logAvx2, &expPolarAvx2, Path::Avx2Fma};
constexpr Dispatch kAvx512 {&matVecAvx512, &dot2Avx512, &dot2PairAvx512, &dot2PairAlignedAvx512,
    &tanhScaledAvx512, &gruCombineAvx512, &logAvx512, &expPolarAvx512, Path::Avx512};

// Constant-initialised to the baseline, so a call made before dynamic initialisation is safe.
Dispatch dispatch = kSse2;

bool cpuHasAvx2Fma()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool cpuHasAvx512()
{
    // libgcc's check includes the operating system's support for the 512-bit register state.
    return cpuHasAvx2Fma() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
}

const bool selectedAtStart = selectPath(bestPath());

} // namespace

void matVec(const float* m, const float* x, float* y, std::size_t rows, std::size_t cols)
{
    dispatch.matVec(m, x, y, rows, cols);
}

void dot2(const float* a, const float* b, const float* x, std::size_t n, float& ra, float& rb)
{
    dispatch.dot2(a, b, x, n, ra, rb);
}

void dot2Pair(const float* a, const float* b, const float* x, const float* y, std::size_t n, float* out)
{
    dispatch.dot2Pair(a, b, x, y, n, out);
}

void dot2PairAligned(const float* a, const float* b, const float* xBase, const float* yBase,
    std::size_t shift, std::size_t n, float* out)
{
    dispatch.dot2PairAligned(a, b, xBase, yBase, shift, n, out);
}

void tanhScaled(const float* x, float* y, std::size_t n, float scale)
{
    dispatch.tanhScaled(x, y, n, scale);
}

void gruCombine(const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w)
{
    dispatch.gruCombine(gi, gh, bi, br, h, w);
}

void logInPlace(float* x, std::size_t n)
{
    dispatch.log(x, n);
}

void expPolarInPlace(float* re, float* im, std::size_t n)
{
    dispatch.expPolar(re, im, n);
}

Path activePath()
{
    return dispatch.path;
}

bool avx2FmaSupported()
{
    return cpuHasAvx2Fma();
}

bool avx512Supported()
{
    return cpuHasAvx512();
}

bool pathSupported(Path path)
{
    switch (path) {
    case Path::Sse2:
        return true;
    case Path::Avx2Fma:
        return cpuHasAvx2Fma();
    case Path::Avx512:
        return cpuHasAvx512();
    }
    return false;
}

Path bestPath()
{
    return cpuHasAvx512() ? Path::Avx512 : cpuHasAvx2Fma() ? Path::Avx2Fma : Path::Sse2;
}

bool selectPath(Path path)
{
    (void)selectedAtStart;
    if (!pathSupported(path))
        return false;
    dispatch = path == Path::Avx512 ? kAvx512 : path == Path::Avx2Fma ? kAvx2 : kSse2;
    return true;
}

} // namespace brindlecot::dsp::kernels
