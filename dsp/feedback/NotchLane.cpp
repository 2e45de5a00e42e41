#include "dsp/feedback/NotchLane.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

namespace brindlecot::dsp {

namespace {

template <typename T> bool sameBytes(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

float finiteClamp(float v, float lo, float hi, float fallback)
{
    return std::isfinite(v) ? std::clamp(v, lo, hi) : fallback;
}

} // namespace

bool Notch::sameStateAs(const Notch& o) const
{
    return sameBytes(requestedHz, o.requestedHz) && sameBytes(targetDepthDb, o.targetDepthDb)
        && sameBytes(designHz, o.designHz) && sameBytes(designDepthDb, o.designDepthDb)
        && sameBytes(targetMix, o.targetMix) && sameBytes(mix, o.mix) && retunePending == o.retunePending
        && filter.sameAs(o.filter);
}

double Notch::responseDb(double frequencyHz, double sampleRate) const
{
    return dsp::responseDb(filter.coefficients(), frequencyHz, sampleRate);
}

void designNotch(Notch& n, float sampleRate, float q)
{
    const BiquadCoefficients c = designPeakingNotch(n.designHz, n.designDepthDb, q, sampleRate);
    if (!std::isfinite(c.b0) || !std::isfinite(c.a2) || !std::isfinite(c.b1) || !std::isfinite(c.b2)) {
        n.filter.setCoefficients(BiquadCoefficients {});
        n.designDepthDb = 0.0f;
        return;
    }
    n.filter.setCoefficients(c);
}

void NotchLane::prepare(const NotchLaneConfig& c)
{
    config_ = c;
    config_.sampleRate = std::isfinite(c.sampleRate) ? std::max(1.0f, c.sampleRate) : 1.0f;
    config_.maxQ = finiteClamp(c.maxQ, 0.5f, 64.0f, 20.0f);
    config_.bandwidthHz = std::isfinite(c.bandwidthHz) ? std::max(0.0f, c.bandwidthHz) : 0.0f;
    config_.maxDepthDb = finiteClamp(c.maxDepthDb, 0.0f, 48.0f, 0.0f);
    config_.controlPeriod = std::max<uint64_t>(1, c.controlPeriod);
    reset();
}

void NotchLane::reset()
{
    notches_.fill(Notch {});
    controlCounter_ = 0;
}

float NotchLane::depthStep(float f) const
{
    return (f > 0.0f && f < config_.lowCornerHz) ? std::min(config_.depthStepDb, config_.lowDepthStepDb)
                                                 : config_.depthStepDb;
}

float NotchLane::depthLimit(float f) const
{
    return (f > 0.0f && f < config_.lowCornerHz) ? std::min(config_.maxDepthDb, config_.lowMaxDepthDb)
                                                 : config_.maxDepthDb;
}

float NotchLane::qFor(float f) const
{
    if (f > 0.0f && config_.bandwidthHz > 0.0f) {
        const float bw = f < config_.lowCornerHz ? std::max(config_.lowBandwidthHz, config_.bandwidthHz)
                                                 : config_.bandwidthHz;
        return std::min(f / bw, config_.maxQ);
    }
    return config_.maxQ;
}

void NotchLane::aim(size_t k, float f, float depthDb)
{
    if (k >= kNotches)
        return;
    Notch& n = notches_[k];
    if (std::isfinite(f) && std::isfinite(depthDb) && f >= config_.minFrequencyHz
        && f <= config_.maxFrequencyHz && f < config_.sampleRate * 0.5f && depthDb > 0.0f) {
        n.requestedHz = f;
        n.targetDepthDb = std::min(depthDb, depthLimit(f));
    } else {
        n.targetDepthDb = 0.0f;
    }
}

void NotchLane::silence(size_t k)
{
    if (k < kNotches)
        notches_[k].targetDepthDb = 0.0f;
}

void NotchLane::controlTick()
{
    for (Notch& n : notches_) {
        if (n.targetDepthDb <= 0.0f) {
            n.targetMix = 0.0f;
            if (n.mix < 0.01f) {
                n.designHz = 0.0f;
                n.designDepthDb = 0.0f;
                n.retunePending = false;
            }
            continue;
        }
        if (n.designDepthDb > 0.0f
            && std::fabs(n.requestedHz - n.designHz) / std::max(1.0f, n.designHz) > config_.retuneTolerance)
            n.retunePending = true;

        if (n.retunePending) {
            // Fade out, jump once nearly silent, fade back in with a fresh shallow depth.
            n.targetMix = 0.0f;
            if (n.mix >= 0.01f)
                continue;
            n.designHz = n.requestedHz;
            n.designDepthDb = std::min(depthStep(n.requestedHz), n.targetDepthDb);
            n.filter.reset();
            design(n);
            n.retunePending = false;
            n.targetMix = 1.0f;
            continue;
        }
        if (n.designDepthDb <= 0.0f) {
            n.designHz = n.requestedHz;
            n.designDepthDb = std::min(depthStep(n.requestedHz), n.targetDepthDb);
            design(n);
            n.targetMix = 1.0f;
            continue;
        }
        const float diff = n.targetDepthDb - n.designDepthDb;
        if (std::fabs(diff) > 1e-4f) {
            const float r = depthStep(n.designHz);
            n.designDepthDb
                = std::clamp(n.designDepthDb + std::clamp(diff, -r, r), 0.0f, depthLimit(n.designHz));
            design(n);
        }
        n.targetMix = 1.0f;
    }
}

float NotchLane::processSample(float x)
{
    if (!std::isfinite(x))
        x = 0.0f;
    if (controlCounter_ == 0)
        controlTick();
    if (++controlCounter_ >= config_.controlPeriod)
        controlCounter_ = 0;

    float y = x;
    const float coef = config_.mixCoefficient;
    for (Notch& n : notches_) {
        n.mix += (n.targetMix - n.mix) * coef;
        if (std::fabs(n.mix) < 1e-20f)
            n.mix = 0.0f;
        if (n.mix <= 1e-6f && n.targetMix <= 0.0f) {
            n.filter.reset();
            continue;
        }
        const float w = n.filter.process(y);
        y += (w - y) * n.mix;
    }
    if (std::isfinite(y))
        return y;
    // Overflowed filter state (huge input): return the input and clear the states so the notches
    // recover on the next sample instead of staying non-finite until the next reset.
    for (Notch& n : notches_)
        n.filter.reset();
    return x;
}

bool NotchLane::sameStateAs(const NotchLane& other) const
{
    if (controlCounter_ != other.controlCounter_)
        return false;
    for (size_t k = 0; k < kNotches; ++k)
        if (!notches_[k].sameStateAs(other.notches_[k]))
            return false;
    return true;
}

} // namespace brindlecot::dsp
