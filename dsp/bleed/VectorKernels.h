// Vector kernels of the bleed stages: a matrix-vector product for the network layers, a paired dot
// product for the crossfaded FIR sums, and the network's element-wise nonlinearities (exp, tanh and
// sigmoid from Cephes-style polynomials, within a few units in the last place of the C library). A portable
// SSE2 version always exists; at start-up the widest path the processor has is chosen: AVX-512 (16-wide,
// twice AVX2's multiply-adds per cycle on processors with full-width units), else AVX2 + FMA. All keep
// several partial sums; the paths differ in how the sums are split and in fused multiply-adds, so
// in the last bits.
#pragma once

#include <cstddef>

namespace brindlecot::dsp::kernels {

enum class Path
{
    Sse2,
    Avx2Fma,
    Avx512
};

/// y[r] = sum over c of m[r * cols + c] * x[c], m row-major. rows % 4 == 0, cols % 16 == 0.
void matVec(const float* m, const float* x, float* y, std::size_t rows, std::size_t cols);

/// ra = sum a[i] * x[i], rb = sum b[i] * x[i] over i < n, n % 16 == 0. One pass over x.
void dot2(const float* a, const float* b, const float* x, std::size_t n, float& ra, float& rb);

/// dot2 on two histories at once: out = {a.x, b.x, a.y, b.y}, each bit-identical to what dot2 gives
/// for that history (the taps are read once for both: the stereo FIR sums).
void dot2Pair(const float* a, const float* b, const float* x, const float* y, std::size_t n, float* out);

/// dot2Pair on the histories xBase + shift and yBase + shift (shift < 16), bit-identical to it.
/// xBase and yBase are 64-byte aligned and readable up to index n + 15: the wide path then loads
/// only whole aligned vectors, which is faster for histories that start at an arbitrary sample.
void dot2PairAligned(const float* a, const float* b, const float* xBase, const float* yBase,
    std::size_t shift, std::size_t n, float* out);

/// y[i] = tanh(x[i]) * scale, n % 8 == 0 (x and y may be the same array).
void tanhScaled(const float* x, float* y, std::size_t n, float scale);

/// GRU state update of width w (w % 8 == 0) from the gate products gi = Wi x, gh = Wr h (3w each,
/// rows reset / update / candidate) and the biases: r = sigmoid(bi + br + gi + gh) for the reset and
/// update gates, n = tanh(bi + gi + r (br + gh)) for the candidate, h = (1 - z) n + z h.
void gruCombine(const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w);

/// x[i] = ln(x[i]) for positive x, n % 8 == 0 (Cephes logf polynomial; 0 gives a large negative
/// value instead of -inf, NaN stays NaN).
void logInPlace(float* x, std::size_t n);

/// (re, im) = exp(re) (cos im, sin im) in place, n % 8 == 0 (Cephes expf, sinf and cosf).
void expPolarInPlace(float* re, float* im, std::size_t n);

/// The path in use, and whether this processor (and its operating system) can run a path.
Path activePath();
bool avx2FmaSupported();
bool avx512Supported();
bool pathSupported(Path path);
/// The widest path this processor runs: the one chosen at start-up.
Path bestPath();
/// Selects a path (tests and benchmarks); an unsupported path is refused. Not for the audio
/// thread: call while nothing processes.
bool selectPath(Path path);

} // namespace brindlecot::dsp::kernels
