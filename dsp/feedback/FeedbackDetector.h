// Acoustic feedback detector: watches the mono sum of the notched output and, every hop, decides
// whether one narrow spectral peak behaves like a ring building up: loud, far above its spectral
// neighbourhood, free of a voice's harmonic series and stable in frequency for long enough.
// Fixed 2048-point analysis whatever the sample rate; it never filters audio.
#pragma once

#include "dsp/feedback/Fft2048.h"

#include <array>
#include <cstdint>
#include <utility>

namespace brindlecot::dsp {

struct DetectorConfig
{
    float sampleRate = 48000.0f; // Hz
    float minFrequencyHz = 80.0f; // lowest frequency searched
    float maxFrequencyHz = 12000.0f; // highest frequency searched
    uint64_t hop = 512; // samples between analyses
    uint64_t hopPhase = 0; // start delay that staggers instances, samples
    float prominenceThresholdDb = 45.0f; // "prominent", and the zero point of the depth map
    float growthThresholdDb = 6.0f; // "growing"
    float binSmoothing = 0.02f; // one-pole coefficient of the smoothed spectrum
    float loudRms = 0.003f; // window RMS threshold, linear full scale
    uint64_t floorGuard = 3; // bins each side of a peak left out of its floor
    uint64_t floorNeighbourhood = 24; // outermost bin distance used for the floor
    float subharmonicRatio = 2.0f; // power ratio at which a sub-harmonic disqualifies
    uint64_t harmonicHalfWidth = 2; // half-width of each harmonic search window, bins
    float harmonicLevelDb = -30.0f; // a harmonic counts above peak level + this
    uint64_t minHarmonics = 2; // counted harmonics that make a peak voice-like
    uint64_t harmonicCount = 4; // harmonics 2 .. harmonicCount + 1 are examined
    float maxJumpBins = 3.0f; // largest frame-to-frame move of a tracked peak
    float trackSmoothing = 0.5f; // one-pole coefficient of the tracked position
    float steadyDriftBins = 0.05f; // mean absolute drift per frame that is steady
    float directionalityThreshold = 0.85f; // |signed drift| / abs drift of a consistent glide
    uint64_t growingPersistence = 24; // frames for a peak that grew early
    uint64_t growthWindow = 8; // early frames counted for growth, and the count needed
    uint64_t sustainedPersistence = 96; // frames otherwise
    float strongProminenceDb = 65.0f; // prominence that shortens the persistence
    uint64_t strongPersistence = 8; // frames for a strong peak
    float exclusionOctaves = 0.05f; // half-width of an exclusion range, octaves
    float depthSlope = 0.8f; // dB of notch depth per dB of prominence over threshold

    /// The configuration the suppression stage uses for a sample rate and a hop phase.
    static DetectorConfig forSampleRate(float sampleRate, float prominenceThresholdDb, uint64_t hopPhase);
};

struct DetectorFlags
{
    bool loud = false;
    bool prominent = false;
    bool growing = false;
    bool isolated = false;
};

class FeedbackDetector
{
public:
    static constexpr size_t kFrameSize = Fft2048::kSize;
    static constexpr size_t kBins = kFrameSize / 2 + 1;
    static constexpr size_t kExclusions = 8;
    static constexpr size_t kFloorBuffer = 128;
    static constexpr float kNoProminence = -1000.0f;

    /// Builds the tables and configures with the default record (48 kHz, 80 .. 12000 Hz).
    FeedbackDetector();

    /// Validates and applies a configuration, then resets. Throws std::invalid_argument with a fixed
    /// message on the first failing rule; the detector must then not be used until a later success.
    void prepare(const DetectorConfig& config);
    /// Clears all history and outputs; the exclusion ranges stay.
    void reset();

    /// One finite mono sample: drives frame capture and, on another sample, the peak analysis.
    void pushSample(float x);

    /// Sets exclusion range k (0..7) to +-exclusionOctaves around frequencyHz; a non-finite or
    /// non-positive frequency empties it.
    void setExclusion(size_t k, float frequencyHz);
    void clearExclusions();

    /// Nearest bin of a frequency (round half away from zero).
    uint64_t binOf(float frequencyHz) const;
    /// Peak power over the upper median of its neighbourhood, dB; -1000 with no neighbour in range.
    float prominenceAt(uint64_t bin) const;
    /// Notch depth for a prominence: clamp((p - threshold) * slope, 0, cap); 0 for non-finite p.
    float depthForProminence(float prominenceDb, float capDb) const;

    // Outputs of the last analysis (kept between analyses).
    bool candidate() const { return candidate_; }
    float candidateHz() const { return candidateHz_; }
    float prominenceDb() const { return prominenceDb_; }
    float growthDb() const { return growthDb_; }
    float analysisRms() const { return analysisRms_; }
    uint64_t trackFrames() const { return trackFrames_; }
    float trackedBin() const { return trackedBin_; }
    float signedDrift() const { return signedDrift_; }
    float absDrift() const { return absDrift_; }
    uint64_t growFrames() const { return growFrames_; }
    /// |signedDrift| / absDrift, or 1 while absDrift is 0.
    float directionality() const;
    const DetectorFlags& flags() const { return flags_; }

    // Configuration views.
    const DetectorConfig& config() const { return config_; }
    uint64_t minBin() const { return minBin_; }
    uint64_t maxBin() const { return maxBin_; }
    float window(size_t i) const { return window_[i]; }
    double power(size_t bin) const { return power_[bin]; }
    double smoothedPower(size_t bin) const { return smoothedPower_[bin]; }
    bool excluded(float bin) const;
    /// Frames captured and analyses run since the last reset (diagnostics and tests).
    uint64_t captureCount() const { return captureCount_; }
    uint64_t analysisCount() const { return analysisCount_; }
    /// Median selections the prominence search needed since the last reset (its cost, for tests).
    uint64_t medianSelections() const { return medianSelections_; }
    /// Analyses in which the track stayed on its own peak while another bin was the most prominent.
    uint64_t heldFrames() const { return heldFrames_; }

private:
    void captureFrame();
    void analyse();
    void beginProminenceSearch();
    void advanceProminenceSearch(uint64_t bins);
    /// The most prominent searchable bin within a jump of the tracked position, and its prominence.
    std::pair<uint64_t, float> heldPeak() const;
    /// Power over the smoothed power of a bin, dB (0 before the first smoothing).
    float growthAt(uint64_t bin) const;
    size_t collectFloor(uint64_t bin, std::array<double, kFloorBuffer>& floor) const;
    float prominenceFromFloor(uint64_t bin, std::array<double, kFloorBuffer>& floor, size_t count) const;
    float refinedPosition(uint64_t bin) const;
    bool subharmonicFree(uint64_t bin) const;
    bool harmonicSeries(uint64_t bin) const;
    double windowMax(uint64_t centre) const;

    Fft2048 fft_;
    DetectorConfig config_ {};
    uint64_t minBin_ = 1;
    uint64_t maxBin_ = 1;
    std::array<float, kFrameSize> window_ {};

    std::array<float, kFrameSize> ring_ {};
    uint64_t writeIndex_ = 0;
    uint64_t fill_ = 0;
    uint64_t hopCounter_ = 0;
    uint64_t startCountdown_ = 0;

    std::array<float, kFrameSize> frame_ {};
    std::array<float, kFrameSize> re_ {};
    std::array<float, kFrameSize> im_ {};
    std::array<double, kBins> power_ {};
    std::array<double, kBins> smoothedPower_ {};
    bool haveSmoothed_ = false;
    float windowRms_ = 0.0f;

    // The search for the most prominent bin of the captured frame runs a few bins per sample between
    // the capture and the analysis. It skips excluded bins, so it is repeated on the analysis sample
    // when an exclusion range changed after it started.
    uint64_t searchNext_ = 0; // next bin to examine; maxBin_ + 1 when the search is complete
    float searchBest_ = kNoProminence;
    uint64_t searchBestBin_ = 0;
    uint64_t searchExclusions_ = 0; // exclusionChanges_ when the search started
    uint64_t exclusionChanges_ = 0;
    float boundFor_ = 0.0f; // the best prominence boundScale_ was worked out for
    double boundScale_ = 1.0; // 10^(-boundFor_ / 10)
    bool captureSample_ = false;
    bool analysisPending_ = false;
    uint64_t analysisCountdown_ = 0;

    struct Range
    {
        float lo = 1.0f;
        float hi = 0.0f;
    };
    std::array<Range, kExclusions> exclusions_ {};
    void assignExclusion(size_t k, const Range& r);

    uint64_t trackFrames_ = 0;
    float trackedBin_ = 0.0f;
    float signedDrift_ = 0.0f;
    float absDrift_ = 0.0f;
    uint64_t growFrames_ = 0;

    float candidateHz_ = 0.0f;
    float prominenceDb_ = 0.0f;
    float growthDb_ = 0.0f;
    float analysisRms_ = 0.0f;
    DetectorFlags flags_ {};
    bool candidate_ = false;

    uint64_t captureCount_ = 0;
    uint64_t analysisCount_ = 0;
    uint64_t medianSelections_ = 0;
    uint64_t heldFrames_ = 0;
};

} // namespace brindlecot::dsp
