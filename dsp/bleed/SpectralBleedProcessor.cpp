#include "dsp/bleed/SpectralBleedProcessor.h"

#include "dsp/bleed/VectorKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace brindlecot::dsp {

namespace {

inline float ringValue(float v)
{
    // One bad sample must not poison a whole analysis frame.
    if (!std::isfinite(v))
        return 0.0f;
    return std::clamp(v, -1e9f, 1e9f);
}

inline float floorDbOrZero(float db)
{
    return (std::isfinite(db) && db <= 0.0f) ? db : 0.0f;
}

} // namespace

std::pair<float, float> cornersForHighPass(float highPassHz)
{
    float a = std::isnan(highPassHz) ? 0.0f : highPassHz;
    if (a < 125.0f)
        a = 125.0f;
    else if (a > 200.0f)
        a = 200.0f;
    return {a / 1.6f, a};
}

SpectralBleedProcessor::SpectralBleedProcessor()
{
    mask_.fill(1.0f);
    rawMask_.fill(1.0f);
    binGains_.fill(1.0f);
    previousFir_[0] = 1.0f;
    currentFir_[0] = 1.0f;
}

void SpectralBleedProcessor::prepare(double sampleRate, std::pair<float, float> corners)
{
    sampleRate_ = std::max(1.0f, static_cast<float>(sampleRate));
    if (!std::isfinite(sampleRate_))
        sampleRate_ = 48000.0f;
    deepFloorDb_ = 0.0f;
    shallowFloorDb_ = 0.0f;
    maskRangeDb_ = kMaskRangeDb;
    voiceHigh_ = 0.35f;
    voiceLow_ = std::min(0.1f, voiceHigh_ - 0.001f);
    cornerLow_ = corners.first;
    cornerHigh_ = corners.second;
    slowTime_ = 0.05f;
    for (std::size_t i = 0; i < kRing; ++i)
        hannWindow_[i]
            = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / 1023.0));
    slowCoefficient_ = static_cast<float>(
        1.0 - std::exp(-1.0 / std::max(1.0, double(sampleRate_) * slowTime_ / double(kHop))));
    // The sample rate and corners changed under the curve: force the rebuild in setFloors.
    curveValid_ = false;
    setFloors(0.0f, 0.0f);
    reset();
}

void SpectralBleedProcessor::setFloors(float deepFloorDb, float shallowFloorDb)
{
    deepFloorDb = floorDbOrZero(deepFloorDb);
    shallowFloorDb = floorDbOrZero(shallowFloorDb);
    if (deepFloorDb == deepFloorDb_ && shallowFloorDb == shallowFloorDb_ && curveValid_)
        return;
    deepFloorDb_ = deepFloorDb;
    shallowFloorDb_ = shallowFloorDb;
    deepFloorGain_ = std::pow(10.0f, deepFloorDb_ / 20.0f);
    buildFloorCurve();
    curveValid_ = true;
}

void SpectralBleedProcessor::setCorners(float cornerLowHz, float cornerHighHz)
{
    if (cornerLowHz == cornerLow_ && cornerHighHz == cornerHigh_ && curveValid_)
        return;
    cornerLow_ = cornerLowHz;
    cornerHigh_ = cornerHighHz;
    buildFloorCurve();
    curveValid_ = true;
}

void SpectralBleedProcessor::setLaneCapacity(int lanes)
{
    lanes = std::clamp(lanes, 1, kMaxLanes);
    if (lanes == laneCapacity_)
        return;
    laneCapacity_ = lanes;
    activeLanes_ = lanes;
    laneScale_ = 1.0f / static_cast<float>(lanes);
    reset();
}

void SpectralBleedProcessor::setActiveLanes(int lanes)
{
    lanes = std::clamp(lanes, 1, laneCapacity_);
    for (int l = activeLanes_; l < lanes; ++l)
        laneMirrors_[static_cast<std::size_t>(l)] = laneMirrors_[0];
    activeLanes_ = lanes;
    laneScale_ = 1.0f / static_cast<float>(lanes);
}

bool SpectralBleedProcessor::lanesEqual() const
{
    return std::memcmp(laneMirrors_[0].data(), laneMirrors_[1].data(), sizeof(laneMirrors_[0])) == 0;
}

float SpectralBleedProcessor::laneHistory(int lane, std::size_t age) const
{
    const std::size_t newest = (writeIndex_ + kRing - 1) % kRing;
    return laneMirrors_[static_cast<std::size_t>(std::clamp(lane, 0, kMaxLanes - 1))]
                       [(kRing - 1 - newest) + (age % kRing)];
}

void SpectralBleedProcessor::reset()
{
    for (auto& ring : laneMirrors_)
        ring.fill(0.0f);
    cleanRing_.fill(0.0f);
    writeIndex_ = 0;
    hopCounter_ = 0;
    fadeCounter_ = kFade;
    mask_.fill(1.0f);
    rawMask_.fill(1.0f);
    voiceTarget_ = 1.0f;
    voicePresence_ = 1.0f;
    previousFir_.fill(0.0f);
    currentFir_.fill(0.0f);
    previousFir_[0] = 1.0f;
    currentFir_[0] = 1.0f;
}

void SpectralBleedProcessor::writeRings(const float* lanes, float clean)
{
    const std::size_t slot = kRing - 1 - writeIndex_;
    for (int l = 0; l < activeLanes_; ++l) {
        const float v = ringValue(lanes[l]);
        auto& ring = laneMirrors_[static_cast<std::size_t>(l)];
        ring[slot] = v;
        ring[slot + kRing] = v;
    }
    cleanRing_[writeIndex_] = ringValue(clean);
    writeIndex_ = (writeIndex_ + 1) % kRing;
}

void SpectralBleedProcessor::push(const float* lanes, int count, float clean)
{
    (void)count; // the active lane count was set for the block
    writeRings(lanes, clean);
    hopCounter_ = (hopCounter_ + 1) % kHop;
}

// The paired FIR sums read the mirrors from slot rounded down to 16 up to 15 floats past the taps.
static_assert((SpectralBleedProcessor::kRing - 1) / 16 * 16 + SpectralBleedProcessor::kTaps + 16
    <= 2 * SpectralBleedProcessor::kRing);

void SpectralBleedProcessor::process(float* lanes, int count, float clean)
{
    (void)count;
    const std::size_t slot = kRing - 1 - writeIndex_; // where this sample lands in the mirrors
    writeRings(lanes, clean);

    if (++hopCounter_ == kHop) {
        hopCounter_ = 0;
        analyse();
        fadeCounter_ = 0;
    }
    float w = 1.0f;
    if (fadeCounter_ < kFade) {
        w = static_cast<float>(fadeCounter_) / static_cast<float>(kFade);
        ++fadeCounter_;
    }

    // mirror[slot + k] is the sample k samples ago. Two lanes share one pass over the taps.
    float sums[4] = {};
    if (activeLanes_ == 2) {
        // The mirrors are 64-byte aligned and hold 2 kRing floats, past slot + kTaps + 15 for any slot.
        const std::size_t base = slot & ~std::size_t {15};
        kernels::dot2PairAligned(previousFir_.data(), currentFir_.data(), laneMirrors_[0].data() + base,
            laneMirrors_[1].data() + base, slot - base, kTaps, sums);
    } else {
        kernels::dot2(
            previousFir_.data(), currentFir_.data(), laneMirrors_[0].data() + slot, kTaps, sums[0], sums[1]);
    }
    for (int l = 0; l < activeLanes_; ++l) {
        const float p = sums[2 * l];
        const float c = sums[2 * l + 1];
        const float out = p + w * (c - p);
        lanes[l] = std::isfinite(out) ? out : laneMirrors_[static_cast<std::size_t>(l)][slot];
    }
}

void SpectralBleedProcessor::analyse()
{
    ++analyses_;
    // Windowed frames, oldest sample first. Frame sample i sits in ring slot (writeIndex_ + i) mod
    // kRing; as each mirror holds its slot j at kRing - 1 - j and 2 kRing - 1 - j, the lanes read it
    // at 2 kRing - 1 - writeIndex_ - i for every i, without wrapping.
    const std::size_t w = writeIndex_;
    const float* lane0 = laneMirrors_[0].data() + (2 * kRing - 1 - w);
    const float* lane1 = laneMirrors_[1].data() + (2 * kRing - 1 - w);
    if (activeLanes_ == 2) {
        for (std::size_t i = 0; i < kRing; ++i) {
            float sum = 0.0f; // summed from zero in lane order, as for any lane count
            sum += *(lane0 - i);
            sum += *(lane1 - i);
            mixFrame_[i] = sum * laneScale_ * hannWindow_[i];
        }
    } else {
        for (std::size_t i = 0; i < kRing; ++i) {
            float sum = 0.0f;
            sum += *(lane0 - i);
            mixFrame_[i] = sum * laneScale_ * hannWindow_[i];
        }
    }
    for (std::size_t i = 0; i < kRing - w; ++i)
        cleanFrame_[i] = cleanRing_[w + i] * hannWindow_[i];
    for (std::size_t i = kRing - w; i < kRing; ++i)
        cleanFrame_[i] = cleanRing_[w + i - kRing] * hannWindow_[i];
    fft_.forwardRealPair(
        mixFrame_.data(), cleanFrame_.data(), mixBins_.data(), cleanBins_.data(), fftScratch_);

    // Level match: the clean estimate may sit lower overall than the mix without meaning bleed.
    std::array<float, kBins>& mixMagnitude = binGains_; // reused as scratch until step 8
    std::array<float, kBins>& cleanMagnitude = rawMask_;
    float a = 0.0f;
    float b = 0.0f;
    for (std::size_t k = 0; k < kBins; ++k) {
        // |z| as a plain square root: the ring clamp keeps every value far from overflow.
        mixMagnitude[k] = std::sqrt(std::norm(mixBins_[k]));
        cleanMagnitude[k] = std::sqrt(std::norm(cleanBins_[k]));
        a += mixMagnitude[k];
        b += cleanMagnitude[k];
    }
    float match = 1.0f;
    if (a > 1e-12f && b > 1e-12f)
        match = std::clamp(a / b, 0.0f, kLevelMatchMax);

    const float t = std::clamp((voiceTarget_ - voiceLow_) / (voiceHigh_ - voiceLow_), 0.0f, 1.0f);
    voicePresence_ += (t - voicePresence_) * slowCoefficient_;

    // 20 log10(u) = (20 / ln 10) ln(u), with the logarithms taken as one vector pass.
    float* logRatio = binScratchRe_.data();
    for (std::size_t k = 0; k < kBins; ++k)
        logRatio[k] = (cleanMagnitude[k] * match + 1e-12f) / (mixMagnitude[k] + 1e-12f);
    kernels::logInPlace(logRatio, kPaddedBins);
    const float maskRange = std::max(1.0f, maskRangeDb_);
    constexpr float dbPerNeper = 8.68588963806503655f;
    for (std::size_t k = 0; k < kBins; ++k) {
        float raw = std::clamp(1.0f + dbPerNeper * logRatio[k] / maskRange, 0.0f, 1.0f);
        if (std::isnan(raw))
            raw = 1.0f;
        rawMask_[k] = raw;
        mask_[k] += (raw - mask_[k]) * slowCoefficient_;
        float f = floorCurve_[k];
        if (voicePresence_ < 1.0f)
            f = deepFloorGain_ + (f - deepFloorGain_) * voicePresence_;
        binGains_[k] = std::max(1e-6f, f + (1.0f - f) * mask_[k]);
    }
    designFilter(binGains_.data(), cepstrum_.data());
    previousFir_ = currentFir_;
    std::memcpy(currentFir_.data(), cepstrum_.data(), sizeof(float) * kTaps);
}

void SpectralBleedProcessor::designFilter(const float* gains, float* fir)
{
    // Real cepstrum of the log magnitude, folded onto positive quefrencies: the exponential of its
    // spectrum is the minimum-phase response with the same magnitude.
    float* re = binScratchRe_.data();
    float* im = binScratchIm_.data();
    std::memcpy(re, gains, sizeof(float) * kBins);
    kernels::logInPlace(re, kPaddedBins);
    for (std::size_t k = 0; k < kBins; ++k)
        designBins_[k] = BleedFft::Complex(re[k], 0.0f);
    float* c = mixFrame_.data(); // scratch
    fft_.inverseReal(designBins_.data(), c, fftScratch_);
    constexpr std::size_t half = BleedFft::kSize / 2;
    for (std::size_t n = 1; n < half; ++n)
        c[n] *= 2.0f;
    for (std::size_t n = half + 1; n < BleedFft::kSize; ++n)
        c[n] = 0.0f;
    fft_.forwardReal(c, designBins_.data(), fftScratch_);
    for (std::size_t k = 0; k < kBins; ++k) {
        re[k] = designBins_[k].real();
        im[k] = designBins_[k].imag();
    }
    kernels::expPolarInPlace(re, im, kPaddedBins); // exp(Re C) (cos Im C + i sin Im C)
    for (std::size_t k = 0; k < kBins; ++k)
        designBins_[k] = BleedFft::Complex(re[k], im[k]);
    float* h = cleanFrame_.data(); // scratch
    fft_.inverseReal(designBins_.data(), h, fftScratch_);
    for (std::size_t n = 0; n < kTaps; ++n) {
        float v = std::isfinite(h[n]) ? h[n] : (n == 0 ? 1.0f : 0.0f);
        // The decaying tail reaches subnormal values; flush them as the block's FTZ mode would, so
        // the per-sample FIR never runs on slow subnormal arithmetic whoever calls it.
        if (std::fabs(v) < std::numeric_limits<float>::min())
            v = 0.0f;
        fir[n] = v;
    }
}

void SpectralBleedProcessor::buildFloorCurve()
{
    const float shallow = std::pow(10.0f, std::min(shallowFloorDb_, 0.0f) / 20.0f);
    const float deep = deepFloorGain_;
    const float binWidth = sampleRate_ > 0.0f ? sampleRate_ / static_cast<float>(BleedFft::kSize) : 1.0f;
    const float deepDb = 20.0f * std::log10(std::max(1e-9f, deep));
    const float shallowDb = 20.0f * std::log10(std::max(1e-9f, shallow));
    for (std::size_t k = 0; k < kBins; ++k) {
        const float f = static_cast<float>(k) * binWidth;
        float value = deep;
        if (cornerLow_ > 0.0f && cornerHigh_ > cornerLow_ && f > cornerLow_) {
            if (f >= cornerHigh_) {
                value = shallow;
            } else {
                // A straight line in dB over log frequency between the corners.
                const float t
                    = std::log2(f / cornerLow_) / std::max(1e-6f, std::log2(cornerHigh_ / cornerLow_));
                value = std::pow(10.0f, ((1.0f - t) * deepDb + t * shallowDb) / 20.0f);
            }
        }
        floorCurve_[k] = value;
    }
}

} // namespace brindlecot::dsp
