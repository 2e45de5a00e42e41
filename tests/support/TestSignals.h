// Signal generators and a small harness that drives the processing frame like a host does.
#pragma once

#include "engine/ProcessingFrame.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace brindlecot::test {

std::vector<double> sine(
    double frequencyHz, double amplitude, double sampleRate, int frames, double phase = 0.0);
/// Uniform white noise in [-amplitude, amplitude] from a fixed seed.
std::vector<double> noise(double amplitude, int frames, uint32_t seed = 1);
double peakOf(const std::vector<double>& x, int from = 0, int to = -1);
double rmsOf(const std::vector<double>& x, int from = 0, int to = -1);

/// Owns a frame, a parameter snapshot and planar host buffers; processes whole signals in blocks.
class FrameHarness
{
public:
    explicit FrameHarness(double sampleRate = 48000.0, int channels = 2, uint64_t instance = 0);

    ParameterValues params;
    std::unique_ptr<ProcessingFrame> frame; // large (meter buffers): keep it off the stack

    void reset() { frame->onReset(sampleRate_, params); }
    /// Processes `in` (one vector per input channel) in blocks; returns one vector per output channel.
    std::vector<std::vector<double>> run(
        const std::vector<std::vector<double>>& in, int blockSize, int numOutputs = -1);
    /// Processes one block in place in preallocated buffers (no allocation): `io` holds channels.
    void processInPlace(std::vector<std::vector<double>>& io, int offset, int frames);

    double sampleRate() const { return sampleRate_; }

private:
    double sampleRate_;
};

} // namespace brindlecot::test
