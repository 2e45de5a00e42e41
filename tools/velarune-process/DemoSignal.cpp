#include "velarune-process/DemoSignal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace brindlecot::tools {

namespace {
constexpr double kTwoPi = 6.283185307179586;

// Small deterministic generator (xorshift32) so the demo is identical everywhere.
struct Noise
{
    uint32_t state = 0x1234567u;
    double next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) / 2147483648.0 - 1.0;
    }
};

// Smooth phrase envelope: 40 ms raised-cosine fades at both ends.
double phrase(double t, double start, double end)
{
    if (t < start || t > end)
        return 0.0;
    const double fade = 0.04;
    const double a = std::min((t - start) / fade, 1.0);
    const double b = std::min((end - t) / fade, 1.0);
    return 0.25 * (1.0 - std::cos(M_PI * a)) * (1.0 - std::cos(M_PI * b));
}
} // namespace

std::vector<double> makeDemoSignal()
{
    const int frames = static_cast<int>(kDemoSampleRate * kDemoSeconds);
    std::vector<double> x(static_cast<size_t>(frames));
    Noise noise;
    double voicePhase = 0.0;
    double kickEnv = 0.0;
    double kickPhase = 0.0;
    for (int n = 0; n < frames; ++n) {
        const double t = n / kDemoSampleRate;

        // Voice: harmonic series with vibrato, gliding between notes, in two phrases.
        const double note = t < 3.0 ? 220.0 * std::pow(2.0, std::floor(t / 0.5) * 2.0 / 12.0 - 0.5)
                                    : 261.63 * std::pow(2.0, std::floor((t - 3.0) / 0.6) * 3.0 / 12.0 - 0.5);
        const double f0 = note * (1.0 + 0.006 * std::sin(kTwoPi * 5.5 * t));
        voicePhase += kTwoPi * f0 / kDemoSampleRate;
        double voice = 0.0;
        for (int h = 1; h <= 24; ++h) {
            const double f = f0 * h;
            if (f > 0.45 * kDemoSampleRate)
                break;
            // Two broad formant bumps near 700 Hz and 2.6 kHz over a -6 dB/octave tilt.
            const double formant = 1.0 + 2.5 * std::exp(-std::pow((f - 700.0) / 300.0, 2.0))
                + 1.5 * std::exp(-std::pow((f - 2600.0) / 500.0, 2.0));
            voice += formant / h * std::sin(h * voicePhase);
        }
        const double sing = phrase(t, 0.3, 2.6) + phrase(t, 3.1, 5.6);
        double mic = 0.12 * voice * sing;

        // Bleed: kick on every beat at 120 BPM, a bass line and a keys chord, about 15 dB down.
        if (std::fmod(t, 0.5) < 1.0 / kDemoSampleRate) {
            kickEnv = 1.0;
            kickPhase = 0.0;
        }
        kickEnv *= std::exp(-1.0 / (0.08 * kDemoSampleRate));
        kickPhase += kTwoPi * (50.0 + 80.0 * kickEnv) / kDemoSampleRate;
        const double kick = kickEnv * std::sin(kickPhase);
        const double bass = std::sin(kTwoPi * 55.0 * t) + 0.3 * std::sin(kTwoPi * 110.0 * t);
        const double keys
            = std::sin(kTwoPi * 329.63 * t) + std::sin(kTwoPi * 392.0 * t) + std::sin(kTwoPi * 493.88 * t);
        mic += 0.05 * kick + 0.015 * bass + 0.006 * keys + 0.002 * noise.next();

        // Monitor ring at 3150 Hz, growing from 3.6 s on until the loop saturates.
        if (t > 3.6)
            mic += std::min(0.003 * std::exp(2.5 * (t - 3.6)), 0.2) * std::sin(kTwoPi * 3150.0 * t);
        x[static_cast<size_t>(n)] = mic;
    }
    return x;
}

std::vector<std::pair<int, double>> demoSettings()
{
    return {
        {kBleedReduction, 80.0},
        {kFeedbackReduction, 70.0},
        {kHighPass, 80.0},
        {kAir, 30.0},
        {kRideStrength, 6.0},
        {kSaturation, 20.0},
    };
}

} // namespace brindlecot::tools
