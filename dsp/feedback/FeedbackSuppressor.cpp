#include "dsp/feedback/FeedbackSuppressor.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace brindlecot::dsp {

namespace {

float nonNegative(float v)
{
    return std::isfinite(v) ? std::max(0.0f, v) : 0.0f;
}

uint64_t toSamples(float seconds, float sampleRate)
{
    const double n = static_cast<double>(seconds) * static_cast<double>(sampleRate);
    return n >= 1.0e18 ? static_cast<uint64_t>(1.0e18) : static_cast<uint64_t>(n);
}

} // namespace

FeedbackSuppressor::FeedbackSuppressor()
{
    prepare(SuppressorConfig {});
}

void FeedbackSuppressor::prepare(double sampleRate, uint64_t instanceNumber)
{
    SuppressorConfig c;
    c.sampleRate = static_cast<float>(sampleRate);
    c.instanceNumber = instanceNumber;
    prepare(c);
}

void FeedbackSuppressor::prepare(const SuppressorConfig& config)
{
    config_ = config;
    // A NaN rate stays NaN here so the detector rejects it; the lanes get at least 1 Hz.
    config_.sampleRate
        = std::isnan(config.sampleRate) ? config.sampleRate : std::max(1.0f, config.sampleRate);
    config_.holdSeconds = nonNegative(config.holdSeconds);
    config_.decayDbPerSecond = nonNegative(config.decayDbPerSecond);
    config_.maxAgeSeconds = nonNegative(config.maxAgeSeconds);
    config_.floorHoldSeconds = nonNegative(config.floorHoldSeconds);
    config_.bandwidthHz = nonNegative(config.bandwidthHz);

    const float rate = config_.sampleRate;
    detectorActive_ = true;
    try {
        detector_.prepare(DetectorConfig::forSampleRate(
            rate, config_.prominenceThresholdDb, (config_.instanceNumber % 16) * 32));
    } catch (const std::invalid_argument&) {
        detectorActive_ = false;
    }

    const float laneRate = std::isfinite(rate) ? rate : 1.0f;
    NotchLaneConfig lc;
    lc.sampleRate = laneRate;
    lc.maxQ = config_.maxQ;
    lc.bandwidthHz = config_.bandwidthHz;
    lc.maxDepthDb = config_.maxDepthDb;
    for (NotchLane& lane : lanes_)
        lane.prepare(lc);

    holdSamples_ = toSamples(config_.holdSeconds, laneRate);
    floorHoldSamples_ = toSamples(config_.floorHoldSeconds, laneRate);
    maxAgeSamples_ = toSamples(config_.maxAgeSeconds, laneRate);
    decayPerTick_ = config_.decayDbPerSecond * static_cast<float>(kControlPeriod) / laneRate;
    reset();
}

void FeedbackSuppressor::reset()
{
    detector_.reset();
    for (NotchLane& lane : lanes_)
        lane.reset();
    slots_.fill(NotchSlot {});
    sampleCount_ = 0;
    controlCounter_ = 0;
    detector_.clearExclusions();
}

void FeedbackSuppressor::setAmount(float amount)
{
    amount_ = std::isfinite(amount) ? std::clamp(amount, 0.0f, 1.0f) : 0.0f;
}

bool FeedbackSuppressor::updateBlock(float amount)
{
    setAmount(amount);
    const bool idle = !(amount > 0.0f);
    if (idle && !idle_)
        reset();
    idle_ = idle;
    return idle_;
}

void FeedbackSuppressor::setChannelLanes(int lanes)
{
    const int n = std::clamp(lanes, 1, kMaxLanes);
    if (n == configuredLaneCount_)
        return;
    configuredLaneCount_ = n;
    laneCount_ = n;
    laneScale_ = 1.0f / static_cast<float>(n);
    reset();
}

void FeedbackSuppressor::syncLanes(int activeLanes)
{
    const int n = std::clamp(activeLanes, 1, kMaxLanes);
    for (int l = laneCount_; l < n; ++l)
        lanes_[static_cast<size_t>(l)] = lanes_[0];
    laneCount_ = n;
    laneScale_ = 1.0f / static_cast<float>(n);
}

void FeedbackSuppressor::process(float* lane, int lanes)
{
    const int n = std::clamp(lanes, 1, kMaxLanes);
    float sum = 0.0f;
    for (int l = 0; l < n; ++l) {
        lane[l] = lanes_[static_cast<size_t>(l)].processSample(lane[l]);
        sum += lane[l];
    }
    ++sampleCount_;
    if (!detectorActive_)
        return;

    const float m = sum * (n == laneCount_ ? laneScale_ : 1.0f / static_cast<float>(n));
    // Bounded to +80 dBFS so the float FFT of absurd input cannot overflow and poison the smoothed
    // spectrum with infinities; real signals are never near this.
    if (std::isfinite(m))
        detector_.pushSample(std::clamp(m, -kDetectorInputLimit, kDetectorInputLimit));
    if (detector_.candidate() && amount_ > 0.0f)
        engage(detector_.candidateHz(),
            detector_.depthForProminence(detector_.prominenceDb(), config_.maxDepthDb));
    if (++controlCounter_ >= kControlPeriod) {
        controlCounter_ = 0;
        refreshSlots();
    }
}

void FeedbackSuppressor::engage(float f, float depth)
{
    if (!(f > 0.0f && depth > 0.0f))
        return;

    size_t pick = kSlots;
    for (size_t k = 0; k < kSlots && pick == kSlots; ++k)
        if (slots_[k].active
            && std::fabs(std::log2(f / std::max(1.0f, slots_[k].frequencyHz))) <= config_.matchOctaves)
            pick = k;
    for (size_t k = 0; k < kSlots && pick == kSlots; ++k)
        if (!slots_[k].active)
            pick = k;
    if (pick == kSlots) {
        // All four busy: replace the one confirmed longest ago; the higher index wins a tie.
        pick = 0;
        for (size_t k = 1; k < kSlots; ++k)
            if (slots_[k].lastSeen <= slots_[pick].lastSeen)
                pick = k;
    }

    NotchSlot& s = slots_[pick];
    if (!s.active) {
        s.engagedAt = sampleCount_;
        s.depthDb = 0.0f;
    }
    s.frequencyHz = f;
    s.lastSeen = sampleCount_;
    if (depth > config_.deepDb)
        s.lastDeep = sampleCount_;
    s.active = true;
    s.depthDb = std::max(s.depthDb, depth);
    aimBoth(pick, s.frequencyHz, s.depthDb * amount_);
    syncExclusions();
}

void FeedbackSuppressor::refreshSlots()
{
    for (size_t k = 0; k < kSlots; ++k) {
        NotchSlot& s = slots_[k];
        if (!s.active)
            continue;
        if (amount_ <= 0.0f) {
            releaseSlot(k);
            continue;
        }
        const bool expired = maxAgeSamples_ > 0 && sampleCount_ - s.engagedAt > maxAgeSamples_;

        float newDepth = 0.0f;
        if (detector_.flags().loud && !expired) {
            // The notch's own effective depth plus the residual prominence estimates the
            // prominence the peak would have without the notch.
            const Notch& n = lanes_[0].notch(k);
            const float eff = n.mix * n.designDepthDb;
            float prominence = FeedbackDetector::kNoProminence;
            if (std::isfinite(s.frequencyHz) && s.frequencyHz > 0.0f) {
                const uint64_t b = detector_.binOf(s.frequencyHz);
                if (b >= detector_.minBin() && b <= detector_.maxBin())
                    prominence = detector_.prominenceAt(b);
            }
            newDepth = detector_.depthForProminence(eff + prominence, config_.maxDepthDb);
        }
        if (newDepth > config_.deepDb)
            s.lastDeep = sampleCount_;
        const float floor
            = (!expired && floorHoldSamples_ > 0 && sampleCount_ - s.lastDeep <= floorHoldSamples_)
            ? config_.deepDb
            : 0.0f;
        if (newDepth >= s.depthDb) {
            s.depthDb = newDepth;
            s.lastSeen = sampleCount_;
        } else if (sampleCount_ - s.lastSeen > holdSamples_) {
            s.depthDb = std::max(s.depthDb - decayPerTick_, std::max(floor, newDepth));
        }

        if (s.depthDb < config_.releaseDb)
            releaseSlot(k);
        else
            aimBoth(k, s.frequencyHz, s.depthDb * amount_);
    }
}

void FeedbackSuppressor::releaseSlot(size_t k)
{
    slots_[k] = NotchSlot {};
    for (NotchLane& lane : lanes_)
        lane.silence(k);
    syncExclusions();
}

void FeedbackSuppressor::aimBoth(size_t k, float frequencyHz, float depthDb)
{
    for (NotchLane& lane : lanes_)
        lane.aim(k, frequencyHz, depthDb);
}

void FeedbackSuppressor::syncExclusions()
{
    for (size_t k = 0; k < kSlots; ++k)
        detector_.setExclusion(k, slots_[k].active ? slots_[k].frequencyHz : 0.0f);
}

int FeedbackSuppressor::activeNotchCount() const
{
    int count = 0;
    for (size_t k = 0; k < kSlots; ++k) {
        const Notch& n = lanes_[0].notch(k);
        if (n.mix > 0.01f && n.designDepthDb > 0.0f)
            ++count;
    }
    return count;
}

float FeedbackSuppressor::notchEffectiveDepth(size_t k) const
{
    const Notch& n = lanes_[0].notch(k);
    return n.mix * n.designDepthDb;
}

float FeedbackSuppressor::maxNotchDepth() const
{
    float deepest = 0.0f;
    for (size_t k = 0; k < kSlots; ++k)
        if (lanes_[0].notch(k).designDepthDb > 0.0f)
            deepest = std::max(deepest, notchEffectiveDepth(k));
    return deepest;
}

float FeedbackSuppressor::deepestNotchFrequency() const
{
    float deepest = 0.0f;
    float frequency = 0.0f;
    for (size_t k = 0; k < kSlots; ++k) {
        const float d = notchEffectiveDepth(k);
        if (d > deepest) {
            deepest = d;
            frequency = lanes_[0].notch(k).designHz;
        }
    }
    return frequency;
}

} // namespace brindlecot::dsp
