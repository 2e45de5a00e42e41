// Meter data from the audio thread to the editor for one channel: every 5 ms window yields a held
// peak (500 ms hold) and an RMS average with 1 ms attack and 100 ms decay ballistics. Windows are
// handed over through a lock-free single-producer/single-consumer ring: the audio thread pushes in
// processBlock, the user-interface thread pops. Quiet windows (below -90 dBFS) are not sent once
// the meter has fallen silent.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace brindlecot::dsp {

/// One meter reading: held peak and smoothed average, both linear amplitudes.
struct PeakAvgValue
{
    float peak = 0.0f;
    float average = 0.0f;
};

struct PeakAvgSettings
{
    double thresholdDb = -90.0;
    bool rmsMode = true;
    double windowMs = 5.0;
    double attackMs = 1.0;
    double decayMs = 100.0;
    double peakHoldMs = 500.0;
};

class PeakAvgSender
{
public:
    static constexpr uint32_t kQueueCapacity = 64; // power of two

    explicit PeakAvgSender(const PeakAvgSettings& settings = {});

    /// Window length, ballistics and hold for a sample rate; clears the running measurement
    /// (not the queue, which belongs to the reader as well). Audio side.
    void prepare(double sampleRate);
    /// Measures `nFrames` samples (non-finite samples count as 0) and queues one reading per
    /// completed window. Audio thread only; never allocates or blocks.
    void processBlock(const double* samples, int nFrames);

    /// Takes the oldest queued reading. Reader (user-interface) thread only.
    bool pop(PeakAvgValue& out);
    /// Pops every queued reading into sink(value) in order; returns how many. Reader thread only.
    template <typename Sink> int transmit(Sink&& sink)
    {
        int n = 0;
        PeakAvgValue v;
        while (pop(v)) {
            sink(v);
            ++n;
        }
        return n;
    }

    int windowSamples() const { return windowSamples_; }
    int holdSamples() const { return holdSamples_; }
    /// Readings dropped because the reader fell behind (the ring was full).
    uint64_t droppedReadings() const { return dropped_.load(std::memory_order_relaxed); }

private:
    void finishWindow();
    bool push(const PeakAvgValue& v);

    PeakAvgSettings settings_;
    float threshold_ = 0.0f; // linear
    int windowSamples_ = 240;
    int holdSamples_ = 24000;
    float attackWindows_ = 1.0f; // ballistics time constants in windows
    float decayWindows_ = 1.0f;

    // Running measurement (audio thread).
    int count_ = 0;
    double sum_ = 0.0;
    float windowPeak_ = 0.0f;
    float heldPeak_ = 0.0f;
    int holdCounter_ = 0;
    float average_ = 0.0f;
    float previousAverage_ = 0.0f;

    // Ring: head_ is written only by the producer, tail_ only by the consumer.
    std::array<PeakAvgValue, kQueueCapacity> ring_ {};
    alignas(64) std::atomic<uint32_t> head_ {0};
    alignas(64) std::atomic<uint32_t> tail_ {0};
    std::atomic<uint64_t> dropped_ {0};
};

} // namespace brindlecot::dsp
