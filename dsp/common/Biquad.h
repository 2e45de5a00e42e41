// Second-order IIR section in transposed direct form II, plus the coefficient design routines the
// voice chain and the notches use (RBJ Audio EQ Cookbook forms) and their analytic magnitude responses.
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
///
/// A redesign can be reached by a per-sample linear ramp of the coefficients (rampTo): switching a
/// transposed direct form II section to new coefficients at once leaves its state matched to the
/// old ones, and repeated block-rate switches during a glide are heard as zipper noise. Linear
/// interpolation between two stable designs stays stable (the (a1, a2) stability triangle is
/// convex), and the ramp lands exactly on the new design.
struct Biquad
{
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
    float z1 = 0.0f;
    float z2 = 0.0f;
    BiquadCoefficients design; // coefficients reached at the end of a ramp
    BiquadCoefficients increment; // per-sample step of a running ramp
    int remaining = 0; // samples left in the ramp; 0 when the design is in force

    /// Takes the coefficients at once (no ramp).
    void setCoefficients(const BiquadCoefficients& c)
    {
        design = c;
        increment = BiquadCoefficients {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
        remaining = 0;
        b0 = c.b0;
        b1 = c.b1;
        b2 = c.b2;
        a1 = c.a1;
        a2 = c.a2;
    }
    /// Moves the coefficients linearly to c over `samples` samples (at once when samples <= 1).
    void rampTo(const BiquadCoefficients& c, int samples)
    {
        if (samples <= 1) {
            setCoefficients(c);
            return;
        }
        const float inv = 1.0f / static_cast<float>(samples);
        design = c;
        increment
            = {(c.b0 - b0) * inv, (c.b1 - b1) * inv, (c.b2 - b2) * inv, (c.a1 - a1) * inv, (c.a2 - a2) * inv};
        remaining = samples;
    }
    /// The design in force, or being ramped to.
    BiquadCoefficients coefficients() const { return design; }
    void reset()
    {
        z1 = 0.0f;
        z2 = 0.0f;
    }
    /// Transposed direct form II: y = b0 x + z1; z1 = b1 x - a1 y + z2; z2 = b2 x - a2 y.
    float process(float x)
    {
        if (remaining > 0)
            stepRamp();
        const float y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
    /// Bitwise equality of coefficients, ramp and state (the dual-mono test compares lanes bytewise).
    bool sameAs(const Biquad& other) const;

private:
    void stepRamp()
    {
        if (--remaining == 0) {
            b0 = design.b0;
            b1 = design.b1;
            b2 = design.b2;
            a1 = design.a1;
            a2 = design.a2;
            return;
        }
        b0 += increment.b0;
        b1 += increment.b1;
        b2 += increment.b2;
        a1 += increment.a1;
        a2 += increment.a2;
    }
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

/// RBJ cookbook peaking EQ at frequencyHz with gain -depthDb (a cut) and quality q, designed in
/// double precision. No clamping: a design that is not finite is returned as it is, for the caller
/// to handle.
BiquadCoefficients designPeakingNotch(float frequencyHz, float depthDb, float q, float sampleRate);

/// Magnitude of H(e^jw) in dB at frequencyHz, evaluated in double precision from the coefficients.
double responseDb(const BiquadCoefficients& c, double frequencyHz, double sampleRate);

/// True when every float of a and b has the same bit pattern (NaN-safe, -0 differs from +0).
bool sameBits(const float* a, const float* b, int count);

} // namespace brindlecot::dsp
