#include "dsp/bleed/VectorKernels.h"

#include <emmintrin.h>
#include <immintrin.h>

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
            _mm_storeu_ps(y + r,
                reduce4(_mm_add_ps(a0, b0), _mm_add_ps(a1, b1), _mm_add_ps(a2, b2), _mm_add_ps(a3, b3)));
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

    // ---- AVX2 + FMA: same shape with 8-wide vectors and fused multiply-adds -----------------------

    __attribute__((target("avx2,fma"))) inline __m128 fold256(__m256 v)
    {
        return _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    }

    __attribute__((target("avx2,fma"))) void matVecAvx2(
        const float* m, const float* x, float* y, std::size_t rows, std::size_t cols)
    {
        for (std::size_t r = 0; r < rows; r += 4) {
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

    using MatVecFn = void (*)(const float*, const float*, float*, std::size_t, std::size_t);
    using Dot2Fn = void (*)(const float*, const float*, const float*, std::size_t, float&, float&);

    struct Dispatch
    {
        MatVecFn matVec;
        Dot2Fn dot2;
        Path path;
    };

    // Constant-initialised to the baseline, so a call made before dynamic initialisation is safe.
    Dispatch dispatch { &matVecSse2, &dot2Sse2, Path::Sse2 };

    bool cpuHasAvx2Fma()
    {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }

    const bool selectedAtStart = selectPath(cpuHasAvx2Fma() ? Path::Avx2Fma : Path::Sse2);

} // namespace

void matVec(const float* m, const float* x, float* y, std::size_t rows, std::size_t cols)
{
    dispatch.matVec(m, x, y, rows, cols);
}

void dot2(const float* a, const float* b, const float* x, std::size_t n, float& ra, float& rb)
{
    dispatch.dot2(a, b, x, n, ra, rb);
}

Path activePath() { return dispatch.path; }

bool avx2FmaSupported() { return cpuHasAvx2Fma(); }

bool selectPath(Path path)
{
    (void)selectedAtStart;
    if (path == Path::Avx2Fma) {
        if (!cpuHasAvx2Fma())
            return false;
        dispatch = { &matVecAvx2, &dot2Avx2, Path::Avx2Fma };
    } else {
        dispatch = { &matVecSse2, &dot2Sse2, Path::Sse2 };
    }
    return true;
}

} // namespace brindlecot::dsp::kernels
