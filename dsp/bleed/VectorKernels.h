// Vector kernels of the bleed stages: a matrix-vector product for the network layers, a paired dot
// product for the crossfaded FIR sums, and the network's element-wise nonlinearities (exp, tanh and
// sigmoid from Cephes-style polynomials, within a few units in the last place of the C library). A portable SSE2 version always exists; an AVX2 +
// FMA version is chosen at start-up when the processor has it. Both keep several partial sums.
#pragma once

#include <cstddef>

namespace brindlecot::dsp::kernels {

enum class Path { Sse2, Avx2Fma };

/// y[r] = sum over c of m[r * cols + c] * x[c], m row-major. rows % 4 == 0, cols % 16 == 0.
void matVec(const float* m, const float* x, float* y, std::size_t rows, std::size_t cols);

/// ra = sum a[i] * x[i], rb = sum b[i] * x[i] over i < n, n % 16 == 0. One pass over x.
void dot2(const float* a, const float* b, const float* x, std::size_t n, float& ra, float& rb);

/// y[i] = tanh(x[i]) * scale, n % 8 == 0 (x and y may be the same array).
void tanhScaled(const float* x, float* y, std::size_t n, float scale);

/// GRU state update of width w (w % 8 == 0) from the gate products gi = Wi x, gh = Wr h (3w each,
/// rows reset / update / candidate) and the biases: r = sigmoid(bi + br + gi + gh) for the reset and
/// update gates, n = tanh(bi + gi + r (br + gh)) for the candidate, h = (1 - z) n + z h.
void gruCombine(const float* gi, const float* gh, const float* bi, const float* br, float* h, std::size_t w);

/// The path in use, and whether this processor can run the AVX2 + FMA path.
Path activePath();
bool avx2FmaSupported();
/// Selects a path (tests and benchmarks); AVX2 + FMA is refused when unsupported. Not for the
/// audio thread: call while nothing processes.
bool selectPath(Path path);

} // namespace brindlecot::dsp::kernels
