#include "dsp/voice/Saturator.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

namespace {
constexpr double kTwoPi = 6.283185307179586476925286766559;
}

Saturator::Saturator(int mode)
{
    prepare(48000.0, 0.02f, 10.0f, mode);
}

void Saturator::prepare(double hostSampleRate, float amountSeconds, float dcCutoffHz, int saturationMode)
{
    sampleRate_ = std::isfinite(hostSampleRate) ? static_cast<float>(std::max(1.0, hostSampleRate)) : 1.0f;
    amountTime_ = amountSeconds;
    dcCutoff_ = dcCutoffHz;
    mode_ = saturationMode;
    const double fs = sampleRate_;
    amountCoef_ = static_cast<float>(1.0 - std::exp(-1.0 / (std::max(1e-6, double(amountTime_)) * fs)));
    dcCoef_ = static_cast<float>(1.0 / (kTwoPi * std::clamp(double(dcCutoff_), 0.1, 200.0) / fs + 1.0));
    driveNorm_ = driveNormTarget_ = std::sqrt((drive_ - 1.0f) / 79.0f);
    driveRemaining_ = 0;
    rampSamples_ = 1;
    designFocus();
    buildMakeup();
    reset();
}

void Saturator::buildMakeup()
{
    if (mode_ == 1) {
        makeup_.fill(1.0f);
        return;
    }
    for (int i = 0; i < kMakeupEntries; ++i) {
        const double r64 = i / 64.0;
        const double m = r64 * r64 * 79.0 + 1.0;
        double s = 0.0;
        for (int j = 0; j < 64; ++j) {
            const double phase = std::sin((j + 0.5) * kTwoPi / 64.0);
            const float arg = static_cast<float>(phase * kMakeupAmplitude * m);
            s += static_cast<double>(saturationShaper(arg)) / m * phase;
        }
        // Fundamental amplitude relative to the input amplitude (first Fourier sine coefficient).
        const double r = 2.0 * s / 64.0 / kMakeupAmplitude;
        makeup_[static_cast<size_t>(i)] = r > 1e-6 ? static_cast<float>(1.0 / r) : 1.0f;
    }
}

void Saturator::designFocus()
{
    const BiquadCoefficients c = designFilter(FilterType::LowPass, focus_, 0.70710678f, sampleRate_);
    for (auto& f : focusFilter_)
        f.rampTo(c, rampSamples_);
}

void Saturator::clearLanes()
{
    for (auto& d : dc_)
        d = DcState {};
    for (auto& f : focusFilter_)
        f.reset();
}

void Saturator::reset()
{
    amount_ = amountTarget_;
    clearLanes();
}

void Saturator::setChannelLanes(int lanes)
{
    const uint64_t n = static_cast<uint64_t>(std::clamp(lanes, 1, kMaxLanes));
    if (n == laneCapacity_)
        return;
    laneCapacity_ = n;
    activeLanes_ = n;
    clearLanes();
}

void Saturator::syncLanes(int active)
{
    const uint64_t n = static_cast<uint64_t>(std::clamp(active, 1, kMaxLanes));
    for (uint64_t l = activeLanes_; l < n; ++l) {
        dc_[l] = dc_[0];
        focusFilter_[l] = focusFilter_[0];
    }
    activeLanes_ = n;
}

bool Saturator::lanesEqual() const
{
    for (uint64_t l = 1; l < laneCapacity_ && l < kMaxLanes; ++l) {
        const float a[2] = {dc_[l].previousInput, dc_[l].previousOutput};
        const float b[2] = {dc_[0].previousInput, dc_[0].previousOutput};
        if (!sameBits(a, b, 2) || !focusFilter_[l].sameAs(focusFilter_[0]))
            return false;
    }
    return true;
}

void Saturator::setAmount(double value)
{
    amountTarget_ = std::isfinite(value) ? static_cast<float>(std::clamp(value, 0.0, 1.0)) : 0.0f;
}

void Saturator::setFocus(double focusHz)
{
    const float f
        = std::isfinite(focusHz) ? static_cast<float>(std::clamp(focusHz, 200.0, 20000.0)) : kOpenFocusHz;
    if (f != focus_) {
        focus_ = f;
        designFocus();
    }
}

void Saturator::setDrive(double driveLinear)
{
    drive_ = std::isfinite(driveLinear) ? static_cast<float>(std::clamp(driveLinear, 1.0, 80.0)) : 20.0f;
    driveNormTarget_ = std::sqrt((drive_ - 1.0f) / 79.0f);
    if (rampSamples_ <= 1 || driveNormTarget_ == driveNorm_) {
        driveNorm_ = driveNormTarget_;
        driveRemaining_ = 0;
    } else {
        driveNormStep_ = (driveNormTarget_ - driveNorm_) / static_cast<float>(rampSamples_);
        driveRemaining_ = rampSamples_;
    }
}

bool Saturator::updateBlock(double amountValue, double focusHz, double driveLinear, int nFrames)
{
    rampSamples_ = std::max(1, nFrames);
    setAmount(amountValue);
    setFocus(focusHz);
    setDrive(driveLinear);
    rampSamples_ = 1;
    const bool idle = !(amountTarget_ > 0.0f) && amount_ <= 1e-6f;
    if (idle && !idle_)
        reset();
    idle_ = idle;
    return idle_;
}

void Saturator::process(float* lane, int count)
{
    amount_ += (amountTarget_ - amount_) * amountCoef_;
    if (std::fabs(amountTarget_ - amount_) < 1e-6f)
        amount_ = amountTarget_;
    const int n = std::min(count, kMaxLanes);
    if (amount_ <= 1e-6f) {
        for (int l = 0; l < n; ++l) {
            dc_[static_cast<size_t>(l)] = DcState {};
            focusFilter_[static_cast<size_t>(l)].reset();
            if (!std::isfinite(lane[l]))
                lane[l] = 0.0f;
        }
        return;
    }

    if (driveRemaining_ > 0)
        driveNorm_ = --driveRemaining_ == 0 ? driveNormTarget_ : driveNorm_ + driveNormStep_;
    // (drive - 1) = driveNorm^2 * 79, so the drive in force follows its ramp.
    const float effDrive = driveNorm_ * driveNorm_ * 79.0f * amount_ * amount_ + 1.0f;
    // (idx/64)^2 * 79 + 1 equals effDrive, so the table is read at the drive actually used.
    const float idx = std::clamp(amount_ * driveNorm_, 0.0f, 1.0f) * 64.0f;
    const int i = std::min(static_cast<int>(idx), kMakeupEntries - 1);
    const float m0 = makeup_[static_cast<size_t>(i)];
    const float m1 = makeup_[static_cast<size_t>(std::min(i + 1, kMakeupEntries - 1))];
    const float comp = (m0 + (m1 - m0) * (idx - static_cast<float>(i))) / effDrive;
    const bool filtered = focus_ < kOpenFocusHz;

    for (int l = 0; l < n; ++l) {
        const float u = std::isfinite(lane[l]) ? lane[l] : 0.0f;
        Biquad& f = focusFilter_[static_cast<size_t>(l)];
        float band = filtered ? f.process(u) : u;
        if (!std::isfinite(band)) {
            f.reset(); // an overflowed focus filter would stay non-finite
            band = 0.0f;
        }
        if (mode_ == 1)
            band = u - band;
        const float b = std::isfinite(band) ? band : 0.0f;
        const float wet = saturationShaper(b * effDrive) * comp;
        const float d = amount_ * (wet - b) + b - band;
        DcState& s = dc_[static_cast<size_t>(l)];
        float y = (d + s.previousOutput - s.previousInput) * dcCoef_;
        if (!std::isfinite(y)) {
            s = DcState {};
            y = 0.0f;
        } else {
            s.previousInput = d;
            s.previousOutput = y;
        }
        lane[l] = u + y;
    }
}

double Saturator::focusResponseDb(double frequencyHz) const
{
    return responseDb(focusFilter_[0].coefficients(), frequencyHz, sampleRate_);
}

} // namespace brindlecot::dsp
