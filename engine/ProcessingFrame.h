// The per-block processing frame: lane handling, parameter snapshot, block-rate control and idle
// transitions of every stage, the per-sample voice chain, the soft-bypass copy path, meters and the
// published status words. Framework-free: the JUCE processor, the command-line tools, the tests and
// the benchmarks all drive this same object.
#pragma once

#include "dsp/bleed/BleedStage.h"
#include "dsp/feedback/FeedbackSuppressor.h"
#include "dsp/voice/AirStage.h"
#include "dsp/voice/FilterLane.h"
#include "dsp/voice/GainRamp.h"
#include "dsp/voice/LevelDetector.h"
#include "dsp/voice/Meters.h"
#include "dsp/voice/OutputLimiter.h"
#include "dsp/voice/PeakAvgSender.h"
#include "dsp/voice/Saturator.h"
#include "dsp/voice/VocalRide.h"
#include "engine/FrameSnapshot.h"
#include "engine/Parameters.h"
#include "engine/PublishedValues.h"
#include "engine/SnapshotChannel.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace brindlecot {

/// Plain parameter values in index order, each in its own unit (dB, Hz, percent, 0/1).
using ParameterValues = std::array<double, kNumParams>;

/// Input routing chosen in the editor menu and stored in the state chunk.
enum InputMode : int32_t
{
    kInputAuto = 0,
    kInputLeftOnly = 1
};

/// Lane mode published for the status line.
enum LaneMode : int32_t
{
    kLaneSingle = 0,
    kLaneStereo = 1,
    kLaneMonoPath = 2,
    kLaneLeftOnly = 3
};

class ProcessingFrame
{
public:
    static constexpr int kMaxLanes = 2;
    static constexpr int kMeterBufferFrames = 8192;

    explicit ProcessingFrame(uint64_t instanceNumber = 0);

    /// Configures every stage for the sample rate, starts every smoother at its parameter target
    /// and clears all running state. Never throws: a failing step sets dspInitFailed() and runs
    /// resetAllState().
    void onReset(double sampleRate, const ParameterValues& params);

    /// Clears running state without reconfiguring anything (used on entering full bypass).
    void resetAllState();

    /// Finds and loads both bleed models and writes their status. Call once, at construction of the
    /// host object, never from the audio thread (it allocates and reads files).
    void loadModels(const dsp::ModelSearch& search = dsp::ModelSearch {}) { bleed_.loadModels(search); }

    /// Processes one block. `inputs` and `outputs` are the host's connected channels; an output
    /// buffer may be the same memory as its input. Never allocates, locks or throws.
    void process(const ParameterValues& params, const double* const* inputs, int numInputs,
        double* const* outputs, int numOutputs, int nFrames);

    /// Host transport for the next block (playhead in samples); shown in the snapshot and the log.
    void setTransport(bool running, double playheadSamples)
    {
        transportRunning_ = running;
        playheadSamples_ = playheadSamples;
    }

    /// Audio thread (the frame's owner, after process()): the snapshot of the last block.
    const FrameSnapshot& lastSnapshot() const { return snapshot_; }
    /// Other threads: the newest published snapshot, copied out wait-free (one reader only).
    bool readSnapshot(FrameSnapshot& out) { return snapshots_.read(out); }

    // Written by the editor menu and the state reader; read once per block.
    std::atomic<int32_t> inputMode {kInputAuto};

    PublishedValues published;

    // Read-only views for the status line, tests and tools.
    double sampleRate() const { return sampleRate_; }
    bool dspInitFailed() const { return dspInitFailed_; }
    bool monoPath() const { return monoPath_; }
    bool fullBypass() const { return fullBypass_; }
    int channelLanes() const { return channelLanes_; }
    int activeLanes() const { return activeLanes_; }
    uint64_t instanceNumber() const { return instanceNumber_; }
    bool feedbackIdle() const { return feedback_.idle(); }
    bool airIdle() const { return airIdle_; }
    bool saturationIdle() const { return saturationIdle_; }
    bool topSaturationIdle() const { return topSaturationIdle_; }
    bool rideIdle() const { return rideIdle_; }
    /// Number of times the full state reset ran (bypass entries and failed resets).
    uint64_t fullStateResets() const { return fullStateResets_; }

    const dsp::GainRamp& inputRamp() const { return inputRamp_; }
    const dsp::GainRamp& outputRamp() const { return outputRamp_; }
    const dsp::GainRamp& bypassRamp() const { return bypassRamp_; }
    const dsp::OutputLimiter& limiter() const { return limiter_; }
    const double* inputMonoBuffer() const { return inputMonoBuffer_.data(); }
    const double* outputMonoBuffer() const { return outputMonoBuffer_.data(); }

    dsp::FeedbackSuppressor& feedbackSuppressor() { return feedback_; }
    const dsp::FeedbackSuppressor& feedbackSuppressor() const { return feedback_; }
    const dsp::FilterLane& filterLane(int lane) const { return filterLanes_[static_cast<size_t>(lane)]; }
    const dsp::AirStage& airStage() const { return air_; }
    const dsp::Saturator& saturation() const { return saturation_; }
    const dsp::Saturator& topSaturation() const { return topSaturation_; }
    const dsp::VocalRide& ride() const { return ride_; }
    const dsp::LevelDetector& inputLevel() const { return inputLevel_; }
    const dsp::ReductionMeter& reductionMeter() const { return reduction_; }
    /// Bleed reduction in dB measured over the last block (before normalisation).
    float lastReductionDb() const { return lastReductionDb_; }
    const dsp::BleedStage& bleed() const { return bleed_; }
    /// The bleed models (status text, loaded flags); loaded once at construction.
    const dsp::BleedModels& models() const { return bleed_.models; }
    dsp::PeakAvgSender& inputSender() { return inputSender_; }
    dsp::PeakAvgSender& outputSender() { return outputSender_; }

private:
    void prologueLanes(const double* const* inputs, int numInputs, int numOutputs, int nFrames);
    bool laneStatesAgree() const;
    void bypassPath(const double* const* inputs, double* const* outputs, int numOutputs, int nFrames);
    void feedMetersAndPublish(double* const* outputs, int nFrames);
    void publishSnapshot(const ParameterValues& p, int nFrames, bool processed);

    uint64_t instanceNumber_;
    double sampleRate_ = 44100.0;

    // Lane bookkeeping.
    bool monoPath_ = false;
    int channelLanes_ = 0; // 0 until the first block so the stages see the first lane count
    int activeLanes_ = 1;
    uint64_t activeFilterLanes_ = 1;

    // Idle flags (initial values as at construction).
    bool airIdle_ = false;
    bool saturationIdle_ = true;
    bool topSaturationIdle_ = true;
    bool rideIdle_ = false;
    bool fullBypass_ = false;
    bool dspInitFailed_ = false;
    uint64_t fullStateResets_ = 0;
    uint64_t resetCount_ = 0;

    // Stages, in signal order.
    dsp::GainRamp inputRamp_;
    std::array<dsp::FilterLane, kMaxLanes> filterLanes_ {};
    dsp::BleedStage bleed_;
    dsp::AirStage air_;
    dsp::VocalRide ride_;
    dsp::Saturator saturation_;
    dsp::Saturator topSaturation_;
    dsp::FeedbackSuppressor feedback_;
    dsp::GainRamp outputRamp_;
    dsp::OutputLimiter limiter_;
    dsp::GainRamp bypassRamp_;

    // Meters.
    dsp::LevelDetector inputLevel_;
    dsp::ReductionMeter reduction_;
    float lastReductionDb_ = 0.0f;
    dsp::PeakAvgSender inputSender_;
    dsp::PeakAvgSender outputSender_;
    double senderSampleRate_ = 0.0;
    std::array<double, kMeterBufferFrames> inputMonoBuffer_ {};
    std::array<double, kMeterBufferFrames> outputMonoBuffer_ {};

    // Snapshot of the last block and its hand-over to other threads.
    bool transportRunning_ = false;
    double playheadSamples_ = 0.0;
    uint64_t blockNumber_ = 0;
    FrameSnapshot snapshot_ {};
    SnapshotChannel<FrameSnapshot> snapshots_;
};

/// Detector settings of the slow input level meter.
inline constexpr dsp::LevelDetectorConfig kInputLevelConfig {0.4f, 0.5f, 0.3f, -96.0f, 0.001f, 0.15f};

} // namespace brindlecot
