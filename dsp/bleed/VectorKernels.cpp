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

    // ---- Element-wise nonlinearities, written once with GCC vector extensions ---------------------
    // Instantiated with 4 lanes for the SSE2 baseline and 8 lanes inside the AVX2 + FMA functions.

    typedef float F4 __attribute__((vector_size(16)));
    typedef int32_t I4 __attribute__((vector_size(16)));
    typedef float F8 __attribute__((vector_size(32)));
    typedef int32_t I8 __attribute__((vector_size(32)));

#define BRINDLECOT_VECTOR_INLINE __attribute__((always_inline)) inline


    template <typename F> BRINDLECOT_VECTOR_INLINE F splat(float v) { return F {} + v; }

    template <typename F> BRINDLECOT_VECTOR_INLINE F load(const float* p)
    {
        F v;
        __builtin_memcpy(&v, p, sizeof v);
        return v;
    }
    template <typename F> BRINDLECOT_VECTOR_INLINE void store(float* p, F v) { __builtin_memcpy(p, &v, sizeof v); }

    // exp by range reduction x = n ln 2 + r (ln 2 split in two parts) and a degree-5 polynomial
    // (Cephes expf); NaN stays NaN.
    template <typename F, typename I> BRINDLECOT_VECTOR_INLINE F vexp(F x0)
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
    template <typename F, typename I> BRINDLECOT_VECTOR_INLINE F vtanh(F x)
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

    template <typename F, typename I> BRINDLECOT_VECTOR_INLINE F vsigmoid(F s)
    {
        return 1.0f / (1.0f + vexp<F, I>(-s));
    }

    template <typename F, typename I>
    BRINDLECOT_VECTOR_INLINE void tanhScaledBody(const float* x, float* y, std::size_t n, float scale)
    {
        constexpr std::size_t L = sizeof(F) / sizeof(float);
        for (std::size_t i = 0; i < n; i += L)
            store(y + i, vtanh<F, I>(load<F>(x + i)) * scale);
    }

    template <typename F, typename I>
    BRINDLECOT_VECTOR_INLINE void gruCombineBody(
        const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w)
    {
        constexpr std::size_t L = sizeof(F) / sizeof(float);
        for (std::size_t j = 0; j < w; j += L) {
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
    void gruCombineSse2(const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w)
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

    using MatVecFn = void (*)(const float*, const float*, float*, std::size_t, std::size_t);
    using Dot2Fn = void (*)(const float*, const float*, const float*, std::size_t, float&, float&);

    using TanhFn = void (*)(const float*, float*, std::size_t, float);
    using GruFn = void (*)(const float*, const float*, const float*, const float*, float*, std::size_t);

    struct Dispatch
    {
        MatVecFn matVec;
        Dot2Fn dot2;
        TanhFn tanhScaled;
        GruFn gruCombine;
        Path path;
    };

    constexpr Dispatch kSse2 { &matVecSse2, &dot2Sse2, &tanhScaledSse2, &gruCombineSse2, Path::Sse2 };
    constexpr Dispatch kAvx2 { &matVecAvx2, &dot2Avx2, &tanhScaledAvx2, &gruCombineAvx2, Path::Avx2Fma };

    // Constant-initialised to the baseline, so a call made before dynamic initialisation is safe.
    Dispatch dispatch = kSse2;

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

void tanhScaled(const float* x, float* y, std::size_t n, float scale) { dispatch.tanhScaled(x, y, n, scale); }

void gruCombine(const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w)
{
    dispatch.gruCombine(gi, gh, bi, br, h, w);
}

Path activePath() { return dispatch.path; }

bool avx2FmaSupported() { return cpuHasAvx2Fma(); }

bool selectPath(Path path)
{
    (void)selectedAtStart;
    if (path == Path::Avx2Fma) {
        if (!cpuHasAvx2Fma())
            return false;
        dispatch = kAvx2;
    } else {
        dispatch = kSse2;
    }
    return true;
}

} // namespace brindlecot::dsp::kernels
