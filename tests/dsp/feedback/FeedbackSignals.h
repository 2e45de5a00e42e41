// Small signal sources for the feedback tests: sines at bin-centred frequencies, seeded noise, and
// a driver that pushes samples into a detector until a number of analyses has run.
#pragma once

#include "dsp/feedback/FeedbackDetector.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>

namespace brindlecot::test {

inline double binHz(double bin, double sampleRate = 48000.0) { return bin * sampleRate / 2048.0; }

/// Continuous signal: a running sample index and a generator of sample n.
class Source
{
public:
    explicit Source(std::function<float(uint64_t)> f)
        : f_(std::move(f))
    {
    }
    float next() { return f_(n_++); }
    uint64_t position() const { return n_; }

private:
    std::function<float(uint64_t)> f_;
    uint64_t n_ = 0;
};

/// Uniform noise in [-a, a] (standard deviation a / sqrt(3)).
class Noise
{
public:
    explicit Noise(float a, uint32_t seed = 3)
        : rng_(seed)
        , dist_(-a, a)
    {
    }
    float operator()() { return dist_(rng_); }

private:
    std::mt19937 rng_;
    std::uniform_real_distribution<float> dist_;
};

/// Pushes samples until `analyses` more analyses have run; calls `after` after each one.
inline void runAnalyses(dsp::FeedbackDetector& d, Source& s, int analyses,
    const std::function<void()>& after = nullptr)
{
    for (int i = 0; i < analyses; ++i) {
        const uint64_t target = d.analysisCount() + 1;
        while (d.analysisCount() < target)
            d.pushSample(s.next());
        if (after)
            after();
    }
}

} // namespace brindlecot::test
