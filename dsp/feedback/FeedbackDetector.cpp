#include "dsp/feedback/FeedbackDetector.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace brindlecot::dsp {

namespace {

// How many of p[0..n) are below `bound` (NaN is not), two at a time.
size_t countBelow(const double* p, size_t n, double bound)
{
    const __m128d t = _mm_set1_pd(bound);
    __m128i acc = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 2 <= n; i += 2) // a true comparison is all ones, i.e. -1
        acc = _mm_sub_epi64(acc, _mm_castpd_si128(_mm_cmplt_pd(_mm_loadu_pd(p + i), t)));
    alignas(16) int64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    size_t below = static_cast<size_t>(lanes[0] + lanes[1]);
    for (; i < n; ++i)
        below += p[i] < bound ? 1 : 0;
    return below;
}

constexpr double kPowerFloor = 1e-30;
constexpr double kLogFloor = 1e-300;

double powerRatioDb(double num, double den)
{
    return 10.0 * std::log10(std::max(kPowerFloor, num) / std::max(kPowerFloor, den));
}

} // namespace

DetectorConfig DetectorConfig::forSampleRate(float sampleRate, float prominenceThresholdDb, uint64_t hopPhase)
{
    DetectorConfig c;
    c.sampleRate = sampleRate;
    c.maxFrequencyHz = std::min(12000.0f, sampleRate * 0.5f * 0.9f);
    c.minFrequencyHz = std::min(80.0f, c.maxFrequencyHz / 2.0f);
    c.hop = 512;
    c.hopPhase = hopPhase;
    c.prominenceThresholdDb = prominenceThresholdDb;
    return c;
}

FeedbackDetector::FeedbackDetector()
{
    prepare(DetectorConfig::forSampleRate(48000.0f, 45.0f, 0));
}

void FeedbackDetector::prepare(const DetectorConfig& c)
{
    if (!std::isfinite(c.sampleRate) || c.sampleRate <= 0.0f)
        throw std::invalid_argument("detector sample rate must be positive");
    if (!std::isfinite(c.minFrequencyHz) || !std::isfinite(c.maxFrequencyHz) || c.minFrequencyHz <= 0.0f
        || c.minFrequencyHz >= c.maxFrequencyHz || c.maxFrequencyHz > c.sampleRate * 0.5f)
        throw std::invalid_argument("detector frequency range is invalid");
    if (c.hop < 1 || c.hop > kFrameSize)
        throw std::invalid_argument("detector hop is outside the window");
    if (c.floorNeighbourhood - c.floorGuard > kFloorBuffer / 2) // unsigned: a guard above the
        throw std::invalid_argument("detector floor window exceeds its buffer"); // neighbourhood wraps
    if (!std::isfinite(c.binSmoothing) || c.binSmoothing <= 0.0f || c.binSmoothing > 1.0f)
        throw std::invalid_argument("detector bin smoothing must be in (0, 1]");
    if (c.floorNeighbourhood <= c.floorGuard)
        throw std::invalid_argument("detector floor neighbourhood must exceed its guard");
    if (c.growingPersistence == 0)
        throw std::invalid_argument("detector persistence must contain frames");
    if (c.sustainedPersistence < c.growingPersistence)
        throw std::invalid_argument(
            "detector sustained persistence must not be shorter than its growing one");

    const float n = static_cast<float>(kFrameSize);
    const float lo = std::ceil(c.minFrequencyHz * n / c.sampleRate);
    const float hi = std::floor(c.maxFrequencyHz * n / c.sampleRate);
    const uint64_t minBin = std::max<uint64_t>(1, static_cast<uint64_t>(std::clamp(lo, 0.0f, 4096.0f)));
    const uint64_t maxBin = std::min<uint64_t>(1023, static_cast<uint64_t>(std::clamp(hi, 0.0f, 4096.0f)));
    if (minBin + 2 * c.floorGuard >= maxBin)
        throw std::invalid_argument("detector range is too narrow for its neighbourhood");

    config_ = c;
    minBin_ = minBin;
    maxBin_ = maxBin;
    // Symmetric Hann window.
    for (size_t i = 0; i < kFrameSize; ++i)
        window_[i] = static_cast<float>(
            0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(kFrameSize - 1)));
    reset();
}

void FeedbackDetector::reset()
{
    ring_.fill(0.0f);
    frame_.fill(0.0f);
    re_.fill(0.0f);
    im_.fill(0.0f);
    power_.fill(0.0);
    smoothedPower_.fill(0.0);
    haveSmoothed_ = false;
    writeIndex_ = 0;
    fill_ = 0;
    hopCounter_ = 0;
    startCountdown_ = config_.hopPhase % std::max<uint64_t>(1, config_.hop);
    analysisPending_ = false;
    analysisCountdown_ = 0;
    searchNext_ = maxBin_ + 1;
    searchBest_ = kNoProminence;
    searchBestBin_ = minBin_;
    captureSample_ = false;
    windowRms_ = analysisRms_ = candidateHz_ = prominenceDb_ = growthDb_ = 0.0f;
    flags_ = DetectorFlags {};
    candidate_ = false;
    trackFrames_ = 0;
    trackedBin_ = signedDrift_ = absDrift_ = 0.0f;
    growFrames_ = 0;
    captureCount_ = analysisCount_ = medianSelections_ = heldFrames_ = 0;
}

void FeedbackDetector::pushSample(float x)
{
    ring_[writeIndex_] = x;
    writeIndex_ = (writeIndex_ + 1) % kFrameSize;
    fill_ = std::min<uint64_t>(fill_ + 1, kFrameSize);
    ++hopCounter_;

    captureSample_ = false;
    if (fill_ == kFrameSize) {
        if (startCountdown_ > 0) {
            --startCountdown_;
        } else if (hopCounter_ >= config_.hop) {
            hopCounter_ = 0;
            captureFrame();
            captureSample_ = true;
        }
    }

    // The analysis of a frame runs hop - 1 samples after its capture, never on the capture's sample
    // (for hop > 1), which keeps the worst-case cost of one sample low. The prominence search is
    // spread evenly over the samples in between; the analysis sample completes whatever is left.
    if (analysisPending_) {
        if (analysisCountdown_ > 0) {
            if (--analysisCountdown_ == 0) {
                analysisPending_ = false;
                analyse();
            } else if (!captureSample_ && searchNext_ <= maxBin_) {
                const uint64_t left = maxBin_ + 1 - searchNext_;
                advanceProminenceSearch((left + analysisCountdown_ - 1) / analysisCountdown_);
            }
        } else {
            analysisPending_ = false;
            analyse();
        }
    }
}

void FeedbackDetector::captureFrame()
{
    double sum = 0.0;
    for (size_t i = 0; i < kFrameSize; ++i) {
        const float s = ring_[(writeIndex_ + i) % kFrameSize];
        frame_[i] = s * window_[i];
        sum += static_cast<double>(s) * static_cast<double>(s);
    }
    windowRms_ = static_cast<float>(std::sqrt(sum / static_cast<double>(kFrameSize)));

    for (size_t i = 0; i < kFrameSize; ++i) {
        re_[i] = frame_[fft_.bitReverse(i)];
        im_[i] = 0.0f;
    }
    fft_.transformBitReversed(re_.data(), im_.data(), false);
    for (uint64_t k = minBin_; k <= maxBin_; ++k) {
        const double r = re_[k];
        const double i = im_[k];
        power_[k] = r * r + i * i;
    }
    beginProminenceSearch();
    ++captureCount_;
    analysisCountdown_ = config_.hop;
    analysisPending_ = true;
}

void FeedbackDetector::beginProminenceSearch()
{
    searchNext_ = minBin_;
    searchBest_ = kNoProminence;
    searchBestBin_ = minBin_;
    searchExclusions_ = exclusionChanges_;
}

void FeedbackDetector::advanceProminenceSearch(uint64_t bins)
{
    // The exact median (a selection) is only worked out for bins that can still beat the best so
    // far: the median is below a bound T exactly when more than half of the floor values are below T,
    // which a plain count decides. The bound carries a margin of 1e-3 in power (0.004 dB), far above
    // the float rounding of a prominence, so the result is the same as selecting the median of every
    // bin. 10^(-best / 10) is only recomputed when the best changes.
    std::array<double, kFloorBuffer> floor;
    for (; bins > 0 && searchNext_ <= maxBin_; --bins) {
        const uint64_t b = searchNext_++;
        if (excluded(static_cast<float>(b)))
            continue;
        const uint64_t g = config_.floorGuard;
        const uint64_t nb = config_.floorNeighbourhood;
        const bool wholeSides = b >= minBin_ + nb && b + nb <= maxBin_;
        size_t count = 0;
        if (!wholeSides) {
            count = collectFloor(b, floor);
            if (count == 0)
                continue; // -1000 never beats the best
        }
        // A bin at or below the power floor has a prominence of at most 0 dB, which cannot beat a
        // best of 0 dB or more. Without this, digital silence (every bin at the floor, every
        // prominence 0 dB) defeats the bound below and costs one selection per bin.
        if (power_[b] <= kPowerFloor && searchBest_ >= 0.0f)
            continue;
        if (searchBest_ > kNoProminence) {
            if (searchBest_ != boundFor_) {
                boundFor_ = searchBest_;
                boundScale_ = std::pow(10.0, -static_cast<double>(searchBest_) / 10.0);
            }
            const double bound = std::max(kPowerFloor, power_[b]) * boundScale_ * (1.0 + 1e-3);
            if (!(bound > kPowerFloor))
                continue;
            size_t below = 0;
            if (wholeSides) {
                // The floor is two contiguous runs of the spectrum: count in place, copy only
                // for the bins that need their median.
                const size_t side = static_cast<size_t>(nb - g);
                count = 2 * side;
                below = countBelow(power_.data() + (b - nb), side, bound)
                    + countBelow(power_.data() + (b + g + 1), side, bound);
            } else {
                below = countBelow(floor.data(), count, bound);
            }
            if (below <= count / 2)
                continue; // median >= bound: this bin's prominence stays below the best
        }
        if (wholeSides)
            count = collectFloor(b, floor);
        ++medianSelections_;
        const float p = prominenceFromFloor(b, floor, count);
        if (p > searchBest_) {
            searchBest_ = p;
            searchBestBin_ = b;
        }
    }
}

bool FeedbackDetector::excluded(float bin) const
{
    for (const Range& r : exclusions_)
        if (r.lo <= r.hi && r.lo <= bin && bin <= r.hi)
            return true;
    return false;
}

size_t FeedbackDetector::collectFloor(uint64_t b, std::array<double, kFloorBuffer>& floor) const
{
    // Only the values matter (a median and a count), not their order.
    const uint64_t g = config_.floorGuard;
    const uint64_t nb = config_.floorNeighbourhood;
    if (b >= minBin_ + nb && b + nb <= maxBin_) {
        // Both sides whole: two contiguous runs.
        const size_t side = static_cast<size_t>(nb - g);
        std::copy_n(power_.begin() + static_cast<std::ptrdiff_t>(b - nb), side, floor.begin());
        std::copy_n(power_.begin() + static_cast<std::ptrdiff_t>(b + g + 1), side,
            floor.begin() + static_cast<std::ptrdiff_t>(side));
        return 2 * side;
    }
    size_t count = 0;
    for (uint64_t d = g + 1; d <= nb; ++d) {
        if (b >= d && b - d >= minBin_)
            floor[count++] = power_[b - d];
        if (b + d <= maxBin_)
            floor[count++] = power_[b + d];
    }
    return count;
}

float FeedbackDetector::prominenceFromFloor(
    uint64_t b, std::array<double, kFloorBuffer>& floor, size_t count) const
{
    if (count == 0)
        return kNoProminence;
    // Upper median by selection: element count / 2 of the ascending order.
    const auto mid = floor.begin() + static_cast<std::ptrdiff_t>(count / 2);
    std::nth_element(floor.begin(), mid, floor.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<float>(powerRatioDb(power_[b], *mid));
}

float FeedbackDetector::prominenceAt(uint64_t b) const
{
    if (b >= kBins)
        return kNoProminence;
    std::array<double, kFloorBuffer> floor;
    const size_t count = collectFloor(b, floor);
    return prominenceFromFloor(b, floor, count);
}

float FeedbackDetector::refinedPosition(uint64_t b) const
{
    const float whole = static_cast<float>(b);
    if (!(minBin_ < b && b < maxBin_))
        return whole;
    const double pm = power_[b];
    if (!(pm >= power_[b - 1] && pm >= power_[b + 1] && pm > 0.0))
        return whole;
    // Parabolic interpolation of the log power over the three bins around the peak.
    const double a = std::log(std::max(kLogFloor, power_[b - 1]));
    const double c = std::log(std::max(kLogFloor, power_[b + 1]));
    const double m = std::log(std::max(kLogFloor, pm));
    const double curvature = a - 2.0 * m + c;
    if (!(curvature < 0.0))
        return whole;
    const double delta = 0.5 * (a - c) / curvature;
    if (!std::isfinite(delta))
        return whole;
    return whole + static_cast<float>(std::clamp(delta, -0.5, 0.5));
}

float FeedbackDetector::growthAt(uint64_t b) const
{
    return haveSmoothed_ ? static_cast<float>(powerRatioDb(power_[b], smoothedPower_[b])) : 0.0f;
}

std::pair<uint64_t, float> FeedbackDetector::heldPeak() const
{
    // The most prominent searchable bin whose refined position lies within a jump of the track.
    const float reach = config_.maxJumpBins + 1.0f;
    const float lo = std::max(static_cast<float>(minBin_), std::ceil(trackedBin_ - reach));
    const float hi = std::min(static_cast<float>(maxBin_), std::floor(trackedBin_ + reach));
    std::pair<uint64_t, float> held {minBin_, kNoProminence};
    if (!(lo <= hi))
        return held;
    for (uint64_t b = static_cast<uint64_t>(lo); b <= static_cast<uint64_t>(hi); ++b) {
        if (excluded(static_cast<float>(b))
            || std::fabs(refinedPosition(b) - trackedBin_) > config_.maxJumpBins)
            continue;
        const float p = prominenceAt(b);
        if (p > held.second)
            held = {b, p};
    }
    return held;
}

bool FeedbackDetector::subharmonicFree(uint64_t b) const
{
    const double peak = std::max(kPowerFloor, power_[b]);
    const double limit = static_cast<double>(config_.subharmonicRatio) * peak;
    for (const double divisor : {2.0, 3.0}) {
        const uint64_t s = static_cast<uint64_t>(std::round(static_cast<double>(b) / divisor));
        if (s < minBin_ || s > maxBin_)
            continue;
        for (uint64_t r = 0; r <= config_.harmonicHalfWidth; ++r) {
            const uint64_t hi = std::min(maxBin_, s + r);
            const uint64_t lo = s >= minBin_ + r ? s - r : s;
            if (std::max(power_[hi], power_[lo]) > limit)
                return false;
        }
    }
    return true;
}

double FeedbackDetector::windowMax(uint64_t centre) const
{
    const uint64_t hw = config_.harmonicHalfWidth;
    const uint64_t lo = centre > hw ? centre - hw : 0;
    const uint64_t hi = std::min(maxBin_, centre + hw);
    double level = 0.0;
    for (uint64_t k = lo; k <= hi; ++k)
        level = std::max(level, power_[k]);
    return level;
}

bool FeedbackDetector::harmonicSeries(uint64_t b) const
{
    const double peakLevel = windowMax(b);
    if (!(peakLevel > 0.0) || config_.harmonicCount == 0)
        return false;
    uint64_t examined = 0;
    uint64_t present = 0;
    for (uint64_t h = 2; h <= config_.harmonicCount + 1 && h * b <= maxBin_; ++h) {
        const double level = windowMax(h * b);
        ++examined;
        if (10.0 * std::log10(std::max(kPowerFloor, level) / peakLevel) > config_.harmonicLevelDb)
            ++present;
    }
    return examined > 0 && present >= config_.minHarmonics;
}

void FeedbackDetector::analyse()
{
    ++analysisCount_;
    analysisRms_ = windowRms_;

    // The most prominent bin; the first one wins a tie.
    if (searchExclusions_ != exclusionChanges_)
        beginProminenceSearch(); // an exclusion changed during the hop: search again
    advanceProminenceSearch(maxBin_ + 1);
    const float best = searchBest_;
    const uint64_t bestBin = searchBestBin_;
    prominenceDb_ = best;

    const float refined = refinedPosition(bestBin);
    candidateHz_ = refined * config_.sampleRate / static_cast<float>(kFrameSize);
    growthDb_ = growthAt(bestBin);

    DetectorFlags f;
    f.loud = analysisRms_ >= config_.loudRms;
    f.prominent = best >= config_.prominenceThresholdDb;
    f.growing = growthDb_ >= config_.growthThresholdDb;
    f.isolated = subharmonicFree(bestBin) && !harmonicSeries(bestBin);
    flags_ = f;

    // The peak the track follows this frame: the most prominent bin, or, while a track runs and
    // that bin is not its continuation, the track's own peak if it is still there, prominent and
    // isolated. Restarting on whichever of two rings is the louder this frame would let them keep
    // each other's track from ever forming. A single peak that moved leaves its old place empty and
    // restarts its track as before. The outputs keep describing the most prominent bin until the
    // held track becomes a candidate.
    float position = refined;
    float prominence = best;
    float growth = growthDb_;
    bool follow = f.loud && f.prominent && f.isolated;
    bool held = false;
    if (f.loud && trackFrames_ > 0 && !(follow && std::fabs(refined - trackedBin_) <= config_.maxJumpBins)) {
        const auto [heldBin, heldProminence] = heldPeak();
        if (heldProminence >= config_.prominenceThresholdDb && subharmonicFree(heldBin)
            && !harmonicSeries(heldBin)) {
            position = refinedPosition(heldBin);
            prominence = heldProminence;
            growth = growthAt(heldBin);
            follow = held = true;
            ++heldFrames_;
        }
    }

    if (follow) {
        const bool growing = growth >= config_.growthThresholdDb;
        const float d = position - trackedBin_;
        if (trackFrames_ == 0 || std::fabs(d) > config_.maxJumpBins) {
            trackFrames_ = 1;
            trackedBin_ = position;
            growFrames_ = growing ? 1 : 0;
            signedDrift_ = absDrift_ = 0.0f;
            candidate_ = false;
        } else {
            ++trackFrames_;
            absDrift_ += std::fabs(d);
            signedDrift_ += d;
            trackedBin_ += d * config_.trackSmoothing;
            if (trackFrames_ <= config_.growthWindow && growing)
                ++growFrames_;
            const bool steady = static_cast<float>(trackFrames_) * config_.steadyDriftBins >= absDrift_;
            const bool directional
                = absDrift_ > 0.0f && std::fabs(signedDrift_) / absDrift_ >= config_.directionalityThreshold;
            const bool strong = prominence >= config_.strongProminenceDb;
            const uint64_t required = strong          ? config_.strongPersistence
                : growFrames_ >= config_.growthWindow ? config_.growingPersistence
                                                      : config_.sustainedPersistence;
            candidate_ = trackFrames_ >= required && (strong || steady || directional);
        }
        if (held && candidate_) {
            candidateHz_ = position * config_.sampleRate / static_cast<float>(kFrameSize);
            prominenceDb_ = prominence;
            growthDb_ = growth;
        }
    } else {
        trackFrames_ = 0;
        growFrames_ = 0;
        trackedBin_ = refined;
        signedDrift_ = absDrift_ = 0.0f;
        candidate_ = false;
    }

    // Smoothing after the growth reading, so growth compares this frame with the history before it.
    const double k = config_.binSmoothing;
    for (uint64_t b = minBin_; b <= maxBin_; ++b)
        smoothedPower_[b] += k * (power_[b] - smoothedPower_[b]);
    haveSmoothed_ = true;
}

void FeedbackDetector::setExclusion(size_t k, float frequencyHz)
{
    if (k >= kExclusions)
        return;
    if (std::isfinite(frequencyHz) && frequencyHz > 0.0f) {
        const float span = std::exp2(config_.exclusionOctaves);
        const float toBin = static_cast<float>(kFrameSize) / config_.sampleRate;
        assignExclusion(k, Range {frequencyHz / span * toBin, frequencyHz * span * toBin});
    } else {
        assignExclusion(k, Range {});
    }
}

void FeedbackDetector::assignExclusion(size_t k, const Range& r)
{
    if (std::memcmp(&exclusions_[k], &r, sizeof(Range)) == 0)
        return;
    exclusions_[k] = r;
    ++exclusionChanges_;
}

void FeedbackDetector::clearExclusions()
{
    for (size_t k = 0; k < kExclusions; ++k)
        assignExclusion(k, Range {});
}

uint64_t FeedbackDetector::binOf(float frequencyHz) const
{
    const float x = frequencyHz * static_cast<float>(kFrameSize) / config_.sampleRate;
    if (!std::isfinite(x) || x <= 0.0f)
        return 0;
    return static_cast<uint64_t>(std::round(std::min(x, 1.0e9f)));
}

float FeedbackDetector::depthForProminence(float prominenceDb, float capDb) const
{
    if (!std::isfinite(prominenceDb))
        return 0.0f;
    const float depth = (prominenceDb - config_.prominenceThresholdDb) * config_.depthSlope;
    return std::clamp(depth, 0.0f, std::max(0.0f, capDb));
}

float FeedbackDetector::directionality() const
{
    return absDrift_ > 0.0f ? std::fabs(signedDrift_) / absDrift_ : 1.0f;
}

} // namespace brindlecot::dsp
