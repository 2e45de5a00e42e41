#include "dsp/voice/PeakAvgSender.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

PeakAvgSender::PeakAvgSender(const PeakAvgSettings& settings)
    : settings_(settings)
{
    prepare(44100.0);
}

void PeakAvgSender::prepare(double sampleRate)
{
    const double fs = std::isfinite(sampleRate) ? std::max(1.0, sampleRate) : 1.0;
    threshold_ = static_cast<float>(std::pow(10.0, settings_.thresholdDb / 20.0));
    windowSamples_ = std::max(1, static_cast<int>(settings_.windowMs * 0.001 * fs));
    holdSamples_ = std::max(0, static_cast<int>(settings_.peakHoldMs * 0.001 * fs));
    attackWindows_ = static_cast<float>(settings_.attackMs * 0.001 * fs / windowSamples_);
    decayWindows_ = static_cast<float>(settings_.decayMs * 0.001 * fs / windowSamples_);
    count_ = 0;
    sum_ = 0.0;
    windowPeak_ = 0.0f;
    heldPeak_ = 0.0f;
    holdCounter_ = 0;
    average_ = 0.0f;
    previousAverage_ = 0.0f;
}

void PeakAvgSender::processBlock(const double* samples, int nFrames)
{
    if (samples == nullptr)
        return;
    int n = 0;
    while (n < nFrames) {
        // Measure up to the end of the current window in one tight loop.
        const int chunk = std::min(nFrames - n, windowSamples_ - count_);
        const double* x = samples + n;
        double peak = 0.0;
        double sum[4] = { 0.0, 0.0, 0.0, 0.0 };
        int i = 0;
        for (; i + 4 <= chunk; i += 4) {
            for (int k = 0; k < 4; ++k) {
                const double a = std::fabs(x[i + k]);
                peak = std::max(peak, a);
                sum[k] += settings_.rmsMode ? a * a : a;
            }
        }
        for (; i < chunk; ++i) {
            const double a = std::fabs(x[i]);
            peak = std::max(peak, a);
            sum[0] += settings_.rmsMode ? a * a : a;
        }
        double total = (sum[0] + sum[1]) + (sum[2] + sum[3]);
        if (!std::isfinite(total) || !std::isfinite(peak)) {
            // Rare: measure again with non-finite samples read as silence.
            peak = 0.0;
            total = 0.0;
            for (int j = 0; j < chunk; ++j) {
                const double a = std::isfinite(x[j]) ? std::fabs(x[j]) : 0.0;
                peak = std::max(peak, a);
                total += settings_.rmsMode ? a * a : a;
            }
        }
        windowPeak_ = std::max(windowPeak_, static_cast<float>(peak));
        sum_ += total;
        count_ += chunk;
        n += chunk;
        if (count_ >= windowSamples_)
            finishWindow();
    }
}

void PeakAvgSender::finishWindow()
{
    const double mean = sum_ / windowSamples_;
    const float level = static_cast<float>(settings_.rmsMode ? std::sqrt(mean) : mean);
    const float peak = windowPeak_;
    count_ = 0;
    sum_ = 0.0;
    windowPeak_ = 0.0f;

    // Peak hold: a new maximum restarts the hold; once the hold has run out the next window's
    // peak replaces the held one.
    if (holdCounter_ <= 0)
        heldPeak_ = 0.0f;
    if (peak > heldPeak_) {
        heldPeak_ = peak;
        holdCounter_ = holdSamples_;
    } else if (holdCounter_ > 0) {
        holdCounter_ -= windowSamples_;
    }

    // Average ballistics: one-pole steps of 1/(time in windows), instant when shorter than a window.
    const float time = level > average_ ? attackWindows_ : decayWindows_;
    if (time > 1.0f)
        average_ += (level - average_) / time;
    else
        average_ = level;
    if (std::fabs(average_) < 1e-20f)
        average_ = 0.0f;

    // Quiet windows are sent only while the meter still shows something: the window after the
    // average fell below the threshold still goes out, so the display reaches the bottom.
    const bool audible = average_ > threshold_ || previousAverage_ > threshold_ || heldPeak_ > threshold_;
    if (audible)
        push({heldPeak_, average_});
    previousAverage_ = average_;
}

bool PeakAvgSender::push(const PeakAvgValue& v)
{
    const uint32_t head = head_.load(std::memory_order_relaxed);
    const uint32_t tail = tail_.load(std::memory_order_acquire);
    if (head - tail >= kQueueCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    ring_[head & (kQueueCapacity - 1)] = v;
    head_.store(head + 1, std::memory_order_release);
    return true;
}

bool PeakAvgSender::pop(PeakAvgValue& out)
{
    const uint32_t tail = tail_.load(std::memory_order_relaxed);
    const uint32_t head = head_.load(std::memory_order_acquire);
    if (tail == head)
        return false;
    out = ring_[tail & (kQueueCapacity - 1)];
    tail_.store(tail + 1, std::memory_order_release);
    return true;
}

} // namespace brindlecot::dsp
