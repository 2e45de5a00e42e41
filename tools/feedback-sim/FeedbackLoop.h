// Closed-loop acoustic feedback simulation: the microphone hears the source plus the loudspeaker
// through a room impulse response scaled by a loop gain; the loudspeaker plays the processor's
// output one block later (the host's buffer latency). Everything here is plain maths so the loop
// can be tested on trivial rooms; the command-line front end lives in main.cpp.
#pragma once

#include "feedback-sim/BenchDsp.h"

#include <complex>
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
    /// Feedback analyses since the last reset, and those in which a running track stayed on its own
    /// peak while another bin was the most prominent (two rings at once); 0 without a detector.
    virtual uint64_t detectorAnalyses() const { return 0; }
    virtual uint64_t heldTrackAnalyses() const { return 0; }
    /// The detector tracks a loud, prominent, isolated peak (false without a detector).
    virtual bool trackRunning() const { return false; }
};

/// Passes the microphone straight to the loudspeaker.
class IdentityProcessor : public LoopProcessor
{
public:
    void reset() override { }
    void process(const double* in, double* out, int frames) override;
};

/// A plain gain stage: the loop's limit is then the room's own.
class GainProcessor : public LoopProcessor
{
public:
    explicit GainProcessor(double gainDb = 0.0);
    void reset() override { }
    void process(const double* in, double* out, int frames) override;

private:
    double gain_;
};

/// A fixed cascade of second-order sections, e.g. ideal notches placed from the room's response
/// (the oracle the bench's self-test measures against the notch bound).
class SectionsProcessor : public LoopProcessor
{
public:
    explicit SectionsProcessor(std::vector<Sos> sections);
    void reset() override;
    void process(const double* in, double* out, int frames) override;

private:
    std::vector<SosFilter> filters_;
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
    uint64_t detectorAnalyses() const override;
    uint64_t heldTrackAnalyses() const override;
    bool trackRunning() const override;
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

/// Impulse response of a processor at unity loop (what it adds to the open loop), measured with an
/// impulse of `level` in blocks of blockSize and scaled back by 1 / level.
std::vector<double> measureImpulse(LoopProcessor& processor, int length, int blockSize, double level = 1e-3);

/// Microphone and loudspeaker arithmetic of one run, block by block. The room path is a
/// convolution split in two: the first kPartition taps directly per sample, the rest by uniformly
/// partitioned overlap-save FFT convolution, one partition of loudspeaker history at a time, so
/// long reverberant rooms cost little and the output equals the direct sum to rounding.
class FeedbackLoop
{
public:
    static constexpr int kPartition = 256;
    /// The loudspeaker clips at this amplitude (an amplifier's rail), so a howl stays finite.
    static constexpr double kSpeakerLimit = 10.0;

    FeedbackLoop(std::vector<float> room, int blockSize, int totalFrames);

    /// Linear loop gain applied to the room path from now on.
    void setLoopGainDb(double gainDb);
    /// Builds the next block's microphone signal (source plus room of the loudspeaker history),
    /// runs the processor on it, and queues the output for the loudspeaker one block later.
    /// Returns the number of frames processed (the last block may be short).
    int step(const double* source, LoopProcessor& processor, double* micOut, double* out);
    int position() const { return position_; }

private:
    void computeTail(int chunk);

    std::vector<double> reversed_; // first kPartition taps of the room, reversed for a forward dot product
    int offset_ = 0; // leading zeros of the room (pre-delay) skipped in the direct sum
    int headLength_ = 0; // taps in the direct sum (room length up to kPartition)
    // Overlap-save tail: spectra of the room partitions beyond the head and a ring of the spectra of
    // past loudspeaker frames, bins 0..kPartition (the rest follows by conjugate symmetry).
    std::vector<std::vector<std::complex<double>>> tailSpectra_;
    std::vector<std::vector<std::complex<double>>> historySpectra_;
    int historyNewest_ = 0;
    std::vector<std::complex<double>> scratch_;
    std::vector<double> tailOut_; // room tail at frames chunk * kPartition + i
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
    int firstTrackFrame = -1; // first frame after the onset at which the detector tracked a ring (-1: none)
    int notchEngagements = 0; // sum of the rises of the sounding-notch count
    uint64_t analyses = 0; // feedback analyses in the run
    uint64_t heldTrackAnalyses = 0; // of which the track held its own peak against another ring
    int maxNotches = 0;
    double loopGainDb = 0.0; // after the onset
    std::vector<double> windowEnergy; // output energy per judge window while the source plays
    std::vector<double> windowLoopEnergy; // energy of the room's share of the microphone, same windows
    double excessDb = 0.0; // output over the expected level, median of the last levelWindows while playing
    double growthDb = 0.0; // smallest window-to-window rise of the output beyond expected
    double decayDb = 0.0; // output energy of the last window over the window before, source muted
    bool stable = true;
};

/// A run plays the source, then mutes it for the last 2 judge windows. It is judged while the
/// source still plays, against a reference run far below the limit (when given): the expected
/// output of a window is the reference's output plus its loop share (microphone minus source)
/// grown by the loop gain difference. A loop is unstable if, over the last windows before the mute, its
/// output exceeds that by more than howlExcessDb in most windows (a howl, held by a limiter or clipping), or
/// the output beyond that rises by more than growthLimitDb from each window to the next (a growing ring), or
/// if after the mute the output fails to fall (decayLimitDb).
struct RunSettings
{
    double sampleRate = 48000.0;
    int blockSize = 64;
    double loopGainDb = -40.0;
    double onsetSeconds = 0.0; // loop gain before this time: quietGainDb
    double quietGainDb = -80.0;
    double judgeWindowSeconds = 1.0;
    // Stable loops in rooms stay within about 2 dB of the expected output even at their limit; a howl
    // held by the output limiter stands 11 dB or more above a sung source (more above quieter ones).
    double howlExcessDb = 6.0; // dB over the expected output that counts as a howl
    int levelWindows = 3; // judge windows before the mute whose median level is compared
    double growthLimitDb = 3.0; // rise per window of the output beyond expected, every window: growth
    int growthWindows = 3; // judge windows before the mute whose rises are checked
    double referenceBelowDb = 20.0; // findMaxStableGainDb's reference run: this far below its start
    double decayLimitDb = -1.0; // muted: the last window must fall at least this much below the one before
    double silenceDbfs = -140.0; // a last window quieter than this (mean power) counts as rung down

    /// Frames at the end of the run during which the source is muted.
    int mutedFrames() const { return static_cast<int>(2.0 * judgeWindowSeconds * sampleRate); }
};

/// One closed-loop run of a source through the room and the processor, judged against `reference`
/// (a run of the same source, room and processor far below the limit; null: the source alone).
RunResult runLoop(const std::vector<double>& source, const std::vector<float>& room, LoopProcessor& processor,
    const RunSettings& settings, const RunResult* reference = nullptr);

/// Steps the loop gain up from startDb in stepDb until a run is unstable (or maxDb is passed);
/// returns the highest stable gain, or startDb - stepDb when even the first run was unstable.
/// Runs its own reference referenceBelowDb below startDb.
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
