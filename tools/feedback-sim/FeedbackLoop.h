// Closed-loop acoustic feedback simulation: the microphone hears the source plus the loudspeaker
// through a room impulse response scaled by a loop gain; the loudspeaker plays the processor's
// output one block later (the host's buffer latency). Everything here is plain maths so the loop
// can be tested on trivial rooms; the command-line front end lives in main.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindlecot {
class DiagnosticLog;
class ProcessingFrame;
} // namespace brindlecot

namespace brindlecot::sim {

/// What sits between microphone and loudspeaker: processes mono blocks, may report notches.
class LoopProcessor
{
public:
    virtual ~LoopProcessor() = default;
    /// Back to the state of a fresh start (called before every run).
    virtual void reset() = 0;
    virtual void process(const double* in, double* out, int frames) = 0;
    /// Sounding feedback notches after the last block (0 for processors without any).
    virtual int activeNotchCount() const { return 0; }
};

/// Passes the microphone straight to the loudspeaker.
class IdentityProcessor : public LoopProcessor
{
public:
    void reset() override { }
    void process(const double* in, double* out, int frames) override;
};

/// The plug-in's processing frame (mono), "Feedback Reduction" at a given percentage.
class FrameProcessor : public LoopProcessor
{
public:
    FrameProcessor(double sampleRate, double feedbackReductionPercent);
    ~FrameProcessor() override;
    void reset() override;
    void process(const double* in, double* out, int frames) override;
    int activeNotchCount() const override;
    const ProcessingFrame& frame() const { return *frame_; }

    /// Records every block into `log` (transport running, playhead counted from the start of each
    /// run) and drains it into `folder` after each block. Null detaches.
    void attachLog(DiagnosticLog* log, std::string folder);

private:
    double sampleRate_;
    double reduction_;
    std::unique_ptr<ProcessingFrame> frame_;
    DiagnosticLog* log_ = nullptr;
    std::string logFolder_;
    double playheadSamples_ = 0.0;
};

/// Settings of the built-in synthetic room: a pre-delay, a few early reflections and an
/// exponentially decaying noise tail. Seeded, so a seed always gives the same room.
struct RoomSettings
{
    uint32_t seed = 1;
    double preDelayMs = 6.0; // loudspeaker to microphone, direct sound
    int earlyReflections = 4; // discrete reflections within earlyWindowMs after the direct sound
    double earlyWindowMs = 25.0;
    double tailStartMs = 10.0; // diffuse tail begins this long after the direct sound
    double rt60Seconds = 0.12; // decay time of the tail to -60 dB
    double tailLevelDb = -12.0; // tail's initial level relative to the direct sound
    double lowCutHz = 100.0; // loudspeaker/microphone band, Butterworth second order each side
    double highCutHz = 8000.0;
};

/// Impulse response of the synthetic room (direct sound at gain 1 before the band filters).
std::vector<float> syntheticRoom(const RoomSettings& settings, double sampleRate);
/// Pure delay: one tap of gain 1 after `delaySamples`.
std::vector<float> pureDelayRoom(int delaySamples);

/// -20 log10 of the peak of |H(f)| over [loHz, hiHz]: the loop gain at which an identity loop
/// (plus its block delay) would just reach unity somewhere, in dB.
double theoreticalStableGainDb(const std::vector<float>& room, double sampleRate, double loHz, double hiHz);

/// Microphone and loudspeaker arithmetic of one run, block by block.
class FeedbackLoop
{
public:
    FeedbackLoop(std::vector<float> room, int blockSize, int totalFrames);

    /// Linear loop gain applied to the room path from now on.
    void setLoopGainDb(double gainDb);
    /// Builds the next block's microphone signal (source plus room of the loudspeaker history),
    /// runs the processor on it, and queues the output for the loudspeaker one block later.
    /// Returns the number of frames processed (the last block may be short).
    int step(const double* source, LoopProcessor& processor, double* micOut, double* out);
    int position() const { return position_; }

private:
    std::vector<float> reversed_; // room reversed for a forward dot product
    int offset_ = 0; // leading zeros of the room (pre-delay) skipped in the sum
    int blockSize_;
    double gain_ = 0.0;
    int position_ = 0;
    std::vector<double> speaker_; // padded loudspeaker signal: speaker_[pad + n] plays at n
    int pad_;
    std::vector<double> pending_; // output of the last block, played during the next one
};

struct RunResult
{
    std::vector<double> mic;
    std::vector<double> output;
    int firstNotchFrame = -1; // first frame after the onset at which a notch was sounding (-1: none)
    int notchEngagements = 0; // sum of the rises of the sounding-notch count
    int maxNotches = 0;
    double decayDb = 0.0; // output energy of the last window over the window before, source muted
    bool stable = true;
};

/// A run plays the source, then mutes it for the last 2 judge windows: a stable loop rings down,
/// an unstable one keeps growing (or stays pinned at the output limiter).
struct RunSettings
{
    double sampleRate = 48000.0;
    int blockSize = 64;
    double loopGainDb = -40.0;
    double onsetSeconds = 0.0; // loop gain before this time: quietGainDb
    double quietGainDb = -80.0;
    double judgeWindowSeconds = 1.0;
    double decayLimitDb = -3.0; // the last window must fall at least this much below the one before
    double silenceDbfs = -140.0; // a last window quieter than this (mean power) counts as rung down

    /// Frames at the end of the run during which the source is muted.
    int mutedFrames() const { return static_cast<int>(2.0 * judgeWindowSeconds * sampleRate); }
};

/// One closed-loop run of a source through the room and the processor.
RunResult runLoop(const std::vector<double>& source, const std::vector<float>& room, LoopProcessor& processor,
    const RunSettings& settings);

/// Steps the loop gain up from startDb in stepDb until a run is unstable (or maxDb is passed);
/// returns the highest stable gain, or startDb - stepDb when even the first run was unstable.
double findMaxStableGainDb(const std::vector<double>& source, const std::vector<float>& room,
    LoopProcessor& processor, RunSettings settings, double startDb, double stepDb, double maxDb);

/// Log-spectral distance of long-term average spectra (2048-point Hann frames) of output against
/// source over [loHz, hiHz], with the broadband level difference removed, dB RMS.
double spectralDistortionDb(const std::vector<double>& source, const std::vector<double>& output,
    double sampleRate, double loHz, double hiHz, int fromFrame);

/// Built-in test signals: "voice" (sung phrases: harmonic tones with vibrato, note changes,
/// breath noise and short gaps) and "noise" (steady pink-ish noise). Seeded.
std::vector<double> testSignal(const std::string& kind, double sampleRate, double seconds, uint32_t seed);

} // namespace brindlecot::sim
