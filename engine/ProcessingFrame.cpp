#include "engine/ProcessingFrame.h"

#include "dsp/DenormalGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace brindlecot {

namespace {

inline float finiteOr(float x, float fallback)
{
    return std::isfinite(x) ? x : fallback;
}
inline double finiteOrZero(double x)
{
    return std::isfinite(x) ? x : 0.0;
}

// Block-level values derived from the parameter snapshot; while "Soft Bypass" is on the
// processed path relaxes toward the plain input (amounts 0, filters off, focus open).
struct BlockControls
{
    bool bypassOn;
    float inputGain;
    float outputGain;
    float bypassTarget;
    double bleedAmount; // not clamped
    float feedbackAmount;
    float airAmount;
    float rideStrengthDb;
    bool highPassOn;
    bool lowPassOn;
    double saturationAmount;
    double topSaturationAmount;
    double saturationFocusHz;
    double topSaturationFocusHz;
};

BlockControls readControls(const ParameterValues& p)
{
    BlockControls c {};
    c.bypassOn = isOn(p[kSoftBypass]);
    c.inputGain = dbToGain(p[kInput]);
    c.outputGain = dbToGain(p[kOutput]);
    c.bypassTarget = c.bypassOn ? 1.0f : 0.0f;
    if (c.bypassOn) {
        c.bleedAmount = 0.0;
        c.feedbackAmount = 0.0f;
        c.airAmount = 0.0f;
        c.rideStrengthDb = 0.0f;
        c.highPassOn = c.lowPassOn = false;
        c.saturationAmount = c.topSaturationAmount = 0.0;
        c.saturationFocusHz = c.topSaturationFocusHz = 20000.0;
    } else {
        c.bleedAmount = p[kBleedReduction] / 100.0;
        c.feedbackAmount = percentToAmount(p[kFeedbackReduction]);
        c.airAmount = percentToAmount(p[kAir]);
        const double ride = p[kRideStrength];
        c.rideStrengthDb = std::isfinite(ride) ? static_cast<float>(std::clamp(ride, 0.0, 24.0)) : 0.0f;
        c.highPassOn = isOn(p[kHighPassOn]);
        c.lowPassOn = isOn(p[kLowPassOn]);
        c.saturationAmount = p[kSaturation] / 100.0;
        c.topSaturationAmount = p[kTopSaturation] / 100.0;
        c.saturationFocusHz = p[kSaturationFocus];
        c.topSaturationFocusHz = p[kTopSaturationFocus];
    }
    return c;
}

float highPassReference(const ParameterValues& p)
{
    return isOn(p[kHighPassOn]) ? static_cast<float>(p[kHighPass]) : 0.0f;
}

} // namespace

ProcessingFrame::ProcessingFrame(uint64_t instanceNumber)
    : instanceNumber_(instanceNumber)
{ }

void ProcessingFrame::onReset(double sampleRate, const ParameterValues& p)
{
    ++resetCount_;
    sampleRate_ = sampleRate;
    dspInitFailed_ = false;
    try {
        inputRamp_.prepare(sampleRate, dbToGain(p[kInput]));
        outputRamp_.prepare(sampleRate, dbToGain(p[kOutput]));
        bypassRamp_.prepare(sampleRate, isOn(p[kSoftBypass]) ? 1.0f : 0.0f);

        feedback_.prepare(sampleRate, instanceNumber_);
        feedback_.setAmount(percentToAmount(p[kFeedbackReduction]));

        published.feedbackMeter.exchange(0.0f);
        published.rideMeter.exchange(0.5f);
        fullBypass_ = false;

        bleed_.prepare(sampleRate, highPassReference(p));

        reduction_.prepare(sampleRate);

        limiter_.prepare(sampleRate);
        ride_.prepare(sampleRate);
        // The saturators' reset snaps their amounts to the targets: set the targets from the
        // parameters first, so the first block does not fade the saturation in.
        const BlockControls c = readControls(p);
        saturation_.setAmount(c.saturationAmount);
        saturation_.setFocus(c.saturationFocusHz);
        saturation_.setDrive(std::pow(10.0f, static_cast<float>(p[kSaturationDrive]) / 20.0f));
        topSaturation_.setAmount(c.topSaturationAmount);
        topSaturation_.setFocus(c.topSaturationFocusHz);
        topSaturation_.setDrive(std::pow(10.0f, static_cast<float>(p[kTopSaturationDrive]) / 20.0f));
        saturation_.prepare(sampleRate, 0.02f, 10.0f, 0);
        topSaturation_.prepare(sampleRate, 0.02f, 10.0f, 1);
        air_.prepare(sampleRate);

        inputLevel_.prepare(sampleRate, kInputLevelConfig);
        published.inputLevelDb.exchange(inputLevel_.floorDb);

        for (auto& lane : filterLanes_)
            lane.prepare(sampleRate, isOn(p[kHighPassOn]), isOn(p[kLowPassOn]), p[kHighPass], p[kLowPass]);

        if (sampleRate != senderSampleRate_) {
            inputSender_.prepare(sampleRate);
            outputSender_.prepare(sampleRate);
            senderSampleRate_ = sampleRate;
        }
        published.bleedMeter.exchange(0.0f);
    } catch (const std::exception&) {
        dspInitFailed_ = true;
        resetAllState();
    }
}

void ProcessingFrame::resetAllState()
{
    ++fullStateResets_;
    bleed_.reset();
    reduction_.reset();
    feedback_.reset();
    saturation_.reset();
    topSaturation_.reset();
    air_.reset();
    ride_.reset();
    for (auto& lane : filterLanes_)
        lane.reset();
    limiter_.reset();
    inputLevel_.reset();
    published.inputLevelDb.exchange(kInputLevelConfig.floorDb);
    published.bleedMeter.exchange(0.0f);
    published.feedbackMeter.exchange(0.0f);
    published.rideMeter.exchange(0.5f);
}

bool ProcessingFrame::laneStatesAgree() const
{
    return filterLanes_[1].sameStateAs(filterLanes_[0]) && air_.lanesEqual() && saturation_.lanesEqual()
        && topSaturation_.lanesEqual() && feedback_.lanesEqual() && bleed_.lanesEqual();
}

void ProcessingFrame::prologueLanes(const double* const* inputs, int numInputs, int numOutputs, int nFrames)
{
    const int lanes = std::clamp(std::min(std::max(1, numInputs), std::max(1, numOutputs)), 1, kMaxLanes);
    if (lanes != channelLanes_) {
        channelLanes_ = lanes;
        bleed_.setChannelLanes(lanes);
        feedback_.setChannelLanes(lanes);
        saturation_.setChannelLanes(lanes);
        topSaturation_.setChannelLanes(lanes);
        air_.setChannelLanes(lanes);
    }

    const int32_t mode = inputMode.load(std::memory_order_relaxed);
    if (mode == kInputLeftOnly || channelLanes_ != 2 || nFrames < 1 || numInputs < 2
        || std::memcmp(inputs[0], inputs[1], sizeof(double) * static_cast<size_t>(nFrames)) != 0) {
        monoPath_ = false;
    } else if (!monoPath_) {
        monoPath_ = laneStatesAgree();
    }

    activeLanes_ = (mode == kInputLeftOnly || monoPath_) ? 1 : channelLanes_;

    if (activeFilterLanes_ < static_cast<uint64_t>(activeLanes_)) {
        for (int l = static_cast<int>(activeFilterLanes_); l < activeLanes_; ++l)
            filterLanes_[static_cast<size_t>(l)] = filterLanes_[0];
    }
    activeFilterLanes_ = static_cast<uint64_t>(activeLanes_);
    bleed_.syncLanes(activeLanes_);
    feedback_.syncLanes(activeLanes_);
    saturation_.syncLanes(activeLanes_);
    topSaturation_.syncLanes(activeLanes_);
    air_.syncLanes(activeLanes_);

    int32_t laneMode = kLaneStereo;
    if (channelLanes_ < 2)
        laneMode = kLaneSingle;
    else if (mode == kInputLeftOnly)
        laneMode = kLaneLeftOnly;
    else if (monoPath_)
        laneMode = kLaneMonoPath;
    published.laneMode.exchange(laneMode);
}

void ProcessingFrame::process(const ParameterValues& p, const double* const* inputs, int numInputs,
    double* const* outputs, int numOutputs, int nFrames)
{
    const dsp::DenormalGuard denormals;
    if (nFrames < 0)
        nFrames = 0;
    if (numInputs < 1 || numOutputs < 1 || inputs == nullptr || outputs == nullptr)
        return;
    ++blockNumber_;

    // --- Block prologue -------------------------------------------------------------------------
    prologueLanes(inputs, numInputs, numOutputs, nFrames);

    const BlockControls c = readControls(p);
    inputRamp_.setTarget(c.inputGain);
    outputRamp_.setTarget(c.outputGain);
    bypassRamp_.setTarget(c.bypassTarget);

    bleed_.setControls(
        static_cast<float>(c.bleedAmount), c.highPassOn ? static_cast<float>(p[kHighPass]) : 0.0f);
    feedback_.updateBlock(c.feedbackAmount);

    air_.setAmount(c.airAmount);
    ride_.setStrength(c.rideStrengthDb);
    if (std::isfinite(p[kVocalTarget]))
        ride_.setTarget(static_cast<float>(p[kVocalTarget]));
    for (int l = 0; l < activeLanes_; ++l)
        filterLanes_[static_cast<size_t>(l)].updateBlock(
            c.highPassOn, c.lowPassOn, p[kHighPass], p[kLowPass], nFrames);

    const dsp::FilterLane& lane0 = filterLanes_[0];
    airIdle_ = air_.updateBlock(p[kAirCorner], lane0.lowPassCurrent, lane0.lowPassEngaged(), nFrames);

    saturationIdle_ = saturation_.updateBlock(c.saturationAmount, c.saturationFocusHz,
        std::pow(10.0f, static_cast<float>(p[kSaturationDrive]) / 20.0f), nFrames);
    topSaturationIdle_ = topSaturation_.updateBlock(c.topSaturationAmount, c.topSaturationFocusHz,
        std::pow(10.0f, static_cast<float>(p[kTopSaturationDrive]) / 20.0f), nFrames);

    rideIdle_ = ride_.updateBlock(p[kVoiceFloor], feedback_.activeNotchCount() > 0);
    bleed_.setVoicePresent(ride_.voicePresent);

    // Full bypass: entered once the bypass ramp has landed on 1 while "Soft Bypass" is on.
    const bool fullBypass = c.bypassOn && !bypassRamp_.running() && bypassRamp_.current >= 1.0f;
    if (fullBypass && !fullBypass_)
        resetAllState();
    fullBypass_ = fullBypass;
    if (fullBypass_) {
        bypassPath(inputs, outputs, numOutputs, nFrames);
        publishSnapshot(p, nFrames, false);
        return;
    }

    bleed_.beginSamples(isOn(p[kEcoMode]), airIdle_ && rideIdle_);

    // --- Per-sample chain -----------------------------------------------------------------------
    const int lanes = activeLanes_;
    const float laneScale = 1.0f / static_cast<float>(lanes);
    const bool fillMeters = nFrames <= kMeterBufferFrames;

    for (int n = 0; n < nFrames; ++n) {
        const float gIn = inputRamp_.advance();
        const float gOut = outputRamp_.advance();
        const double b = bypassRamp_.advance();

        float x[kMaxLanes] = {0.0f, 0.0f};
        float sum = 0.0f;
        for (int l = 0; l < lanes; ++l) {
            const float v = finiteOr(static_cast<float>(inputs[l][n]) * gIn, 0.0f);
            x[l] = filterLanes_[static_cast<size_t>(l)].processHighPass(v);
            sum += x[l];
        }
        const float mono = sum * laneScale;
        if (fillMeters) {
            inputMonoBuffer_[static_cast<size_t>(n)] = mono;
        } else {
            // Long blocks meter host input channel 0. Host buffers may be in place, so the input is
            // copied out in pieces before this sample's output overwrites it.
            const size_t k = static_cast<size_t>(n) % kMeterBufferFrames;
            inputMonoBuffer_[k] = inputs[0][n];
            if (k + 1 == kMeterBufferFrames || n + 1 == nFrames)
                inputSender_.processBlock(inputMonoBuffer_.data(), static_cast<int>(k + 1));
        }

        float openness = 1.0f;
        const float g = bleed_.process(x, lanes, mono, openness);

        inputLevel_.process(mono, 1.0f);

        float gated = 0.0f;
        for (int l = 0; l < lanes; ++l) {
            x[l] *= g;
            gated += x[l];
        }
        gated *= laneScale;
        reduction_.process(mono, gated);

        for (int l = 0; l < lanes; ++l)
            x[l] = filterLanes_[static_cast<size_t>(l)].processLowPass(x[l]);
        if (!airIdle_)
            air_.process(x, lanes, openness);
        float airMean = 0.0f;
        for (int l = 0; l < lanes; ++l)
            airMean += x[l];
        airMean *= laneScale;

        ride_.feedDetectors(airMean, mono, openness, !rideIdle_);
        const float rideGain = rideIdle_ ? 1.0f : ride_.gain(openness);
        for (int l = 0; l < lanes; ++l)
            x[l] *= rideGain;
        if (!saturationIdle_)
            saturation_.process(x, lanes);
        if (!topSaturationIdle_)
            topSaturation_.process(x, lanes);

        if (!feedback_.idle())
            feedback_.process(x, lanes);

        for (int l = 0; l < lanes; ++l)
            x[l] *= gOut;
        limiter_.process(x, lanes);

        // Soft-bypass mix in double precision; every input is read before its output is written.
        double written = 0.0;
        for (int l = 0; l < lanes; ++l) {
            const double dry = finiteOrZero(inputs[l][n]);
            const double out = b * dry + (1.0 - b) * static_cast<double>(x[l]);
            outputs[l][n] = out;
            written += out;
        }
        for (int ch = lanes; ch < channelLanes_ && ch < numOutputs; ++ch) {
            const double dry = ch < numInputs ? finiteOrZero(inputs[ch][n]) : 0.0;
            outputs[ch][n] = b * dry + (1.0 - b) * static_cast<double>(x[0]);
        }
        if (fillMeters)
            outputMonoBuffer_[static_cast<size_t>(n)] = written / lanes;
    }

    // --- Block epilogue -------------------------------------------------------------------------
    for (int ch = channelLanes_; ch < numOutputs; ++ch)
        std::memmove(outputs[ch], outputs[0], sizeof(double) * static_cast<size_t>(nFrames));
    feedMetersAndPublish(outputs, nFrames);
    publishSnapshot(p, nFrames, true);
}

void ProcessingFrame::bypassPath(
    const double* const* inputs, double* const* outputs, int numOutputs, int nFrames)
{
    // Exact copy of the input; a non-finite input sample becomes 0 so nothing unsafe reaches the host.
    for (int ch = 0; ch < channelLanes_ && ch < numOutputs; ++ch) {
        const double* in = inputs[ch];
        double* out = outputs[ch];
        for (int n = 0; n < nFrames; ++n)
            out[n] = finiteOrZero(in[n]);
    }
    for (int ch = channelLanes_; ch < numOutputs; ++ch)
        std::memmove(outputs[ch], outputs[0], sizeof(double) * static_cast<size_t>(nFrames));
    inputSender_.processBlock(outputs[0], nFrames); // equal to the input, which may be the same memory

    outputSender_.processBlock(outputs[0], nFrames);
}

void ProcessingFrame::feedMetersAndPublish(double* const* outputs, int nFrames)
{
    // Short blocks meter the mono mixes; a long block's input was metered during the sample loop.
    if (nFrames <= kMeterBufferFrames) {
        inputSender_.processBlock(inputMonoBuffer_.data(), nFrames);
        outputSender_.processBlock(outputMonoBuffer_.data(), nFrames);
    } else {
        outputSender_.processBlock(outputs[0], nFrames);
    }

    const float reductionDb = reduction_.reductionDb();
    lastReductionDb_ = reductionDb;

    published.inputLevelDb.exchange(inputLevel_.rmsDb());
    published.bleedMeter.exchange(dsp::bleedMeterValue(reductionDb));
    published.feedbackMeter.exchange(dsp::feedbackMeterValue(feedback_.maxNotchDepth()));
    published.rideMeter.exchange(dsp::rideMeterValue(ride_.appliedDb));
    published.activeNotchCount.exchange(feedback_.activeNotchCount());
    published.deepestNotchFrequency.exchange(feedback_.deepestNotchFrequency());
}

void ProcessingFrame::publishSnapshot(const ParameterValues& p, int nFrames, bool processed)
{
    const auto gainDb = [](float g) { return 20.0f * std::log10(std::max(1.0e-6f, finiteOr(g, 1.0f))); };
    FrameSnapshot& s = snapshot_;
    s.blockNumber = blockNumber_;
    s.sampleRate = sampleRate_;
    s.frameCount = nFrames;
    s.processed = processed;
    s.resetCount = resetCount_;
    s.fullStateResets = fullStateResets_;
    s.transportRunning = transportRunning_;
    s.playheadSeconds = sampleRate_ > 0.0 ? playheadSamples_ / sampleRate_ : 0.0;
    s.laneMode = published.laneMode.load(std::memory_order_relaxed);
    s.channelLanes = channelLanes_;
    s.activeLanes = activeLanes_;
    s.fullBypass = fullBypass_;
    s.dspInitFailed = dspInitFailed_;
    s.detectorActive = feedback_.detectorActive();
    s.ecoActive = bleed_.ecoActive();
    s.modelReady = bleed_.modelReady();
    s.bleedIdle = bleed_.idle();
    s.gateIdle = bleed_.gateIdle();
    s.airIdle = airIdle_;
    s.rideIdle = rideIdle_;
    s.saturationIdle = saturationIdle_;
    s.topSaturationIdle = topSaturationIdle_;
    s.feedbackIdle = feedback_.idle();

    s.inputLevelDb = published.inputLevelDb.load(std::memory_order_relaxed);
    s.bleedMeter = published.bleedMeter.load(std::memory_order_relaxed);
    s.feedbackMeter = published.feedbackMeter.load(std::memory_order_relaxed);
    s.rideMeter = published.rideMeter.load(std::memory_order_relaxed);
    s.reductionDb = lastReductionDb_;
    s.rideAppliedDb = ride_.appliedDb;
    s.voicePresent = ride_.voicePresent;

    s.activeNotchCount = feedback_.activeNotchCount();
    s.deepestNotchFrequencyHz = feedback_.deepestNotchFrequency();
    s.maxNotchDepthDb = feedback_.maxNotchDepth();
    for (size_t k = 0; k < static_cast<size_t>(FrameSnapshot::kNotches); ++k) {
        s.notchHz[k] = feedback_.notchFrequency(k);
        s.notchDb[k] = feedback_.notchEffectiveDepth(k);
    }
    const dsp::FeedbackDetector& d = feedback_.detector();
    s.candidateHz = d.candidateHz();
    s.prominenceDb = d.prominenceDb();
    s.growthDb = d.growthDb();
    s.analysisRms = d.analysisRms();
    s.trackFrames = static_cast<int32_t>(std::min<uint64_t>(d.trackFrames(), INT32_MAX));
    s.directionality = d.directionality();
    s.loud = d.flags().loud;
    s.prominent = d.flags().prominent;
    s.growing = d.flags().growing;
    s.isolated = d.flags().isolated;

    const bool bypassOn = isOn(p[kSoftBypass]);
    s.bleedAmount = bypassOn ? 0.0f : static_cast<float>(p[kBleedReduction] / 100.0);
    s.feedbackAmount = feedback_.amount();
    s.inputGainDb = static_cast<float>(p[kInput]);
    s.outputGainDb = static_cast<float>(p[kOutput]);
    s.gateGainDb = bleed_.gateGainDb();
    s.limiterGainDb = gainDb(limiter_.gain);

    snapshots_.back() = s;
    snapshots_.publish();
}

} // namespace brindlecot
