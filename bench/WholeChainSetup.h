// The "every stage working" case shared by the whole-chain benchmarks and the soak run: Bleed
// Reduction 100 %, Feedback Reduction 100 %, Air 50 %, Saturation 50 %, Top Saturation 50 %, Ride
// 6 dB, High-Pass 100 Hz, Low-Pass 16 kHz; and the benchmarks' test signal.
#pragma once

#include "engine/ProcessingFrame.h"

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace brindlecot::bench {

/// The settings with the chosen stage groups working (the others off, the filters' corners set).
inline ParameterValues wholeChainParameters(bool bleed, bool feedback, bool voice, bool eco)
{
    ParameterValues p = defaultParameterValues();
    p[kBleedReduction] = bleed ? 100.0 : 0.0;
    p[kFeedbackReduction] = feedback ? 100.0 : 0.0;
    p[kAir] = voice ? 50.0 : 0.0;
    p[kSaturation] = voice ? 50.0 : 0.0;
    p[kTopSaturation] = voice ? 50.0 : 0.0;
    p[kRideStrength] = voice ? 6.0 : 0.0;
    p[kHighPass] = 100.0;
    p[kLowPass] = 16000.0;
    p[kHighPassOn] = voice ? 1.0 : 0.0;
    p[kLowPassOn] = voice ? 1.0 : 0.0;
    p[kEcoMode] = eco ? 1.0 : 0.0;
    return p;
}

inline ParameterValues wholeChainParameters(bool eco)
{
    return wholeChainParameters(true, true, true, eco);
}

/// `frames` stereo frames at `rate`: a voice-like signal (220 Hz partials with a slow level change),
/// room noise, and a 3150 Hz ring that grows in and out, different on the two channels so the
/// stereo path runs.
inline std::vector<std::vector<double>> wholeChainSignal(int frames, double rate)
{
    std::vector<std::vector<double>> in(2, std::vector<double>(static_cast<std::size_t>(frames)));
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-0.01, 0.01);
    for (int c = 0; c < 2; ++c)
        for (int n = 0; n < frames; ++n) {
            const double t = n / rate;
            const double voice = (0.6 + 0.4 * std::sin(2.0 * M_PI * 0.7 * t))
                * (0.1 * std::sin(2.0 * M_PI * 220.0 * t) + 0.05 * std::sin(2.0 * M_PI * 660.0 * t + c)
                    + 0.02 * std::sin(2.0 * M_PI * 1320.0 * t));
            const double ring
                = 0.05 * (0.5 + 0.5 * std::sin(2.0 * M_PI * 0.25 * t)) * std::sin(2.0 * M_PI * 3150.0 * t);
            in[static_cast<std::size_t>(c)][static_cast<std::size_t>(n)] = voice + ring + dist(rng);
        }
    return in;
}

} // namespace brindlecot::bench
