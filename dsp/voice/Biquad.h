// Second-order IIR section in transposed direct form II, plus the coefficient design routines the
// voice chain uses (RBJ Audio EQ Cookbook forms) and their analytic magnitude responses.
#pragma once

namespace brindlecot::dsp {

/// Normalised biquad coefficients (a0 divided out).
struct BiquadCoefficients
{
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
};

/// Coefficients and running state of one section; a default section passes its input unchanged.
struct Biquad
{
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
    float z1 = 0.0f;
    float z2 = 0.0f;

    void setCoefficients(const BiquadCoefficients& c)
    {
        b0 = c.b0;
        b1 = c.b1;
        b2 = c.b2;
        a1 = c.a1;
        a2 = c.a2;
    }
    BiquadCoefficients coefficients() const { return {b0, b1, b2, a1, a2}; }
    void clearState()
    {
        z1 = 0.0f;
        z2 = 0.0f;
    }
    /// Transposed direct form II: y = b0 x + z1; z1 = b1 x - a1 y + z2; z2 = b2 x - a2 y.
    float process(float x)
    {
        const float y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
    /// Bitwise equality of coefficients and state (the dual-mono test compares lanes bytewise).
    bool sameAs(const Biquad& other) const;
};

enum class FilterType
{
    HighPass,
    LowPass
};

/// Highest design frequency for a sample rate: 0.45 fs (90 % of Nyquist), at least 1 Hz.
float designLimitHz(float sampleRate);

/// RBJ cookbook high-pass or low-pass at frequencyHz (clamped to [1, 0.45 fs]) with quality q
/// (at least 0.05).
BiquadCoefficients designFilter(FilterType type, float frequencyHz, float q, float sampleRate);

/// RBJ cookbook high shelf with shelf slope 1; `linearA` = 10^(gainDb/40). The corner is clamped
/// to [1, 0.45 fs].
BiquadCoefficients designHighShelf(float cornerHz, float linearA, float sampleRate);

/// Magnitude of H(e^jw) in dB at frequencyHz, evaluated in double precision from the coefficients.
double responseDb(const BiquadCoefficients& c, double frequencyHz, double sampleRate);

/// True when every float of a and b has the same bit pattern (NaN-safe, -0 differs from +0).
bool sameBits(const float* a, const float* b, int count);

} // namespace brindlecot::dsp
