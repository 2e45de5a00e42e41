// Small double-precision building blocks of the feedback bench: a radix-2 complex FFT for the
// loop's partitioned convolution and response analysis, and RBJ biquads (Audio EQ Cookbook) for the
// rooms' loudspeaker and microphone colouration and the ideal-notch oracle. Offline code: these
// allocate freely and never run on an audio thread of the plug-in.
#pragma once

#include <cmath>
#include <complex>
#include <vector>

namespace brindlecot::sim {

/// In-place iterative radix-2 FFT (Cooley-Tukey, decimation in time); size a power of two.
/// inverse: e^{+j} kernel and a 1/N scale, so inverse(forward(x)) == x.
void fftInPlace(std::vector<std::complex<double>>& x, bool inverse);

/// Smallest power of two >= n (n >= 1).
size_t nextPowerOfTwo(size_t n);

/// Normalised second-order section (a0 divided out) in double precision.
struct Sos
{
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;

    /// Complex response at frequencyHz.
    std::complex<double> response(double frequencyHz, double sampleRate) const;
};

/// RBJ cookbook designs. Frequencies are clamped to 0.45 fs.
Sos designHighPass(double cornerHz, double q, double sampleRate);
Sos designLowPass(double cornerHz, double q, double sampleRate);
Sos designPeaking(double frequencyHz, double gainDb, double q, double sampleRate);
/// Notch of infinite depth at frequencyHz whose -3 dB band spans bandwidthOctaves.
Sos designNotch(double frequencyHz, double bandwidthOctaves, double sampleRate);

/// Transposed direct form II state of one section.
class SosFilter
{
public:
    SosFilter() = default;
    explicit SosFilter(const Sos& c)
        : c_(c)
    { }
    double process(double x)
    {
        const double y = c_.b0 * x + s1_;
        s1_ = c_.b1 * x - c_.a1 * y + s2_;
        s2_ = c_.b2 * x - c_.a2 * y;
        return y;
    }
    void reset() { s1_ = s2_ = 0.0; }

private:
    Sos c_;
    double s1_ = 0.0, s2_ = 0.0;
};

/// Runs a cascade of sections over x in place.
void filterInPlace(std::vector<double>& x, const std::vector<Sos>& cascade);

} // namespace brindlecot::sim
