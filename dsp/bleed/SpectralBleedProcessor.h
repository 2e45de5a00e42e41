// Spectral bleed processor: every 128 samples it compares the spectrum of the mix with that of the
// canceller's clean reference over the last 1024 samples, turns the comparison into a gain per bin
// (bounded below by a floor that depends on the amount, the frequency and the phrase), designs a
// 512-tap minimum-phase FIR with that magnitude (real cepstrum) and filters every lane with it.
// Causal FIRs, so no latency; each new filter is crossfaded in over 128 samples.
#pragma once

#include "dsp/bleed/BleedFft.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace brindlecot::dsp {

/// Corners of the floor curve (low, high) in Hz for a high-pass frequency (0 when it is off).
std::pair<float, float> cornersForHighPass(float highPassHz);

class SpectralBleedProcessor
{
public:
    static constexpr std::size_t kRing = 1024;
    static constexpr std::size_t kHop = 128;
    static constexpr std::size_t kBins = BleedFft::kBins;
    static constexpr std::size_t kTaps = 512;
    static constexpr std::size_t kFade = 128;
    static constexpr int kMaxLanes = 2;
    /// A bin that lost this much (dB) against the level-matched mix is at the floor (mask 0).
    static constexpr float kMaskRangeDb = 1.5f;
    /// Upper clamp of the level match between the mix and the clean reference (sum of magnitudes).
    static constexpr float kLevelMatchMax = 64.0f;

    SpectralBleedProcessor();

    /// Configures for a sample rate and the floor-curve corners; both floors 0 dB; then reset.
    void prepare(double sampleRate, std::pair<float, float> corners);
    /// Floors in dB (NaN, infinite or positive read as 0); rebuilds the floor curve on change.
    void setFloors(float deepFloorDb, float shallowFloorDb);
    /// Corners in Hz; rebuilds the floor curve on change.
    void setCorners(float cornerLowHz, float cornerHighHz);
    /// Lane count the stage is set up for (1 or 2); a change resets the stage.
    void setLaneCapacity(int lanes);
    /// Lanes processed in this block; lanes that start being processed continue from lane 0.
    void setActiveLanes(int lanes);
    /// The phrase gate's openness (0..1).
    void setVoiceTarget(float openness) { voiceTarget_ = openness; }

    // The processing frame's names for the lane operations.
    void setChannelLanes(int lanes) { setLaneCapacity(lanes); }
    void syncLanes(int lanes) { setActiveLanes(lanes); }
    /// True when lane 1's history equals lane 0's bytewise.
    bool lanesEqual() const;

    /// Stage idle: records the lane samples and the clean sample and advances the hop counter
    /// without analysis; the lanes pass unchanged.
    void push(const float* lanes, int count, float clean);
    /// Filters one sample of each active lane in place.
    void process(float* lanes, int count, float clean);
    /// Rings cleared, masks 1, both filters the unit impulse: transparent until the first analysis.
    void reset();

    // Read-only views for tests, the diagnostic log and benchmarks.
    float sampleRate() const { return sampleRate_; }
    float deepFloorDb() const { return deepFloorDb_; }
    float shallowFloorDb() const { return shallowFloorDb_; }
    float cornerLow() const { return cornerLow_; }
    float cornerHigh() const { return cornerHigh_; }
    int laneCapacity() const { return laneCapacity_; }
    int activeLanes() const { return activeLanes_; }
    float voiceTarget() const { return voiceTarget_; }
    float voicePresence() const { return voicePresence_; }
    std::size_t hopCounter() const { return hopCounter_; }
    std::size_t fadeCounter() const { return fadeCounter_; }
    uint64_t analysisCount() const { return analyses_; }
    const std::array<float, kBins>& floorCurve() const { return floorCurve_; }
    const std::array<float, kBins>& mask() const { return mask_; }
    const std::array<float, kBins>& binGains() const { return binGains_; }
    const std::array<float, kTaps>& currentFir() const { return currentFir_; }
    const std::array<float, kTaps>& previousFir() const { return previousFir_; }
    /// Lane ring value `age` samples ago (0 = newest).
    float laneHistory(int lane, std::size_t age) const;

    /// Minimum-phase FIR (real cepstrum) whose magnitude follows `gains` (513 bins, each > 0).
    void designFilter(const float* gains, float* fir);

private:
    void writeRings(const float* lanes, float clean);
    void analyse();
    void buildFloorCurve();

    BleedFft fft_;

    // Configuration.
    float sampleRate_ = 48000.0f;
    float deepFloorDb_ = 0.0f;
    float shallowFloorDb_ = 0.0f;
    float maskRangeDb_ = kMaskRangeDb;
    float voiceHigh_ = 0.35f;
    float voiceLow_ = 0.1f;
    float cornerLow_ = 78.125f;
    float cornerHigh_ = 125.0f;
    float slowTime_ = 0.05f;

    // State.
    int laneCapacity_ = 1;
    int activeLanes_ = 1;
    float laneScale_ = 1.0f;
    std::size_t writeIndex_ = 0;
    std::size_t hopCounter_ = 0;
    std::size_t fadeCounter_ = kFade;
    float slowCoefficient_ = 1.0f;
    float deepFloorGain_ = 1.0f;
    bool curveValid_ = false;
    float voiceTarget_ = 1.0f;
    float voicePresence_ = 1.0f;
    uint64_t analyses_ = 0;

    std::array<float, kRing> hannWindow_ {};
    // Each lane ring stored time-reversed and twice (slot j at 1023-j and 2047-j): the newest-first
    // run of 512 samples is then contiguous for the FIR dot products.
    alignas(64) std::array<std::array<float, 2 * kRing>, kMaxLanes> laneMirrors_ {};
    std::array<float, kRing> cleanRing_ {};
    std::array<float, kBins> floorCurve_ {};
    std::array<float, kBins> rawMask_ {};
    std::array<float, kBins> mask_ {};
    std::array<float, kBins> binGains_ {};
    alignas(64) std::array<float, kTaps> previousFir_ {};
    alignas(64) std::array<float, kTaps> currentFir_ {};

    // Analysis scratch.
    std::array<float, kRing> mixFrame_ {};
    std::array<float, kRing> cleanFrame_ {};
    std::array<BleedFft::Complex, kBins> mixBins_ {};
    std::array<BleedFft::Complex, kBins> cleanBins_ {};
    std::array<BleedFft::Complex, kBins> designBins_ {};
    std::array<float, kRing> cepstrum_ {};
    // Per-bin vector scratch, padded to whole vectors (the padding only ever holds finite values).
    static constexpr std::size_t kPaddedBins = 520;
    alignas(64) std::array<float, kPaddedBins> binScratchRe_ {};
    alignas(64) std::array<float, kPaddedBins> binScratchIm_ {};
    BleedFft::Scratch fftScratch_;
};

} // namespace brindlecot::dsp
