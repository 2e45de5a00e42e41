#include "support/TestSignals.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace brindlecot::test {

std::vector<double> sine(double frequencyHz, double amplitude, double sampleRate, int frames, double phase)
{
    std::vector<double> x(static_cast<size_t>(frames));
    for (int n = 0; n < frames; ++n)
        x[static_cast<size_t>(n)] = amplitude * std::sin(2.0 * M_PI * frequencyHz * n / sampleRate + phase);
    return x;
}

std::vector<double> noise(double amplitude, int frames, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    std::vector<double> x(static_cast<size_t>(frames));
    for (auto& v : x)
        v = dist(rng);
    return x;
}

double peakOf(const std::vector<double>& x, int from, int to)
{
    if (to < 0)
        to = static_cast<int>(x.size());
    double p = 0.0;
    for (int n = from; n < to; ++n)
        p = std::max(p, std::fabs(x[static_cast<size_t>(n)]));
    return p;
}

double rmsOf(const std::vector<double>& x, int from, int to)
{
    if (to < 0)
        to = static_cast<int>(x.size());
    double s = 0.0;
    for (int n = from; n < to; ++n)
        s += x[static_cast<size_t>(n)] * x[static_cast<size_t>(n)];
    return to > from ? std::sqrt(s / (to - from)) : 0.0;
}

FrameHarness::FrameHarness(double sampleRate, int /*channels: set by what run() is given*/, uint64_t instance)
    : params(defaultParameterValues())
    , frame(std::make_unique<ProcessingFrame>(instance))
    , sampleRate_(sampleRate)
{
    reset();
}

std::vector<std::vector<double>> FrameHarness::run(
    const std::vector<std::vector<double>>& in, int blockSize, int numOutputs)
{
    const int numInputs = static_cast<int>(in.size());
    if (numOutputs < 0)
        numOutputs = numInputs;
    const int frames = in.empty() ? 0 : static_cast<int>(in[0].size());
    std::vector<std::vector<double>> out(static_cast<size_t>(numOutputs), std::vector<double>(frames, 0.0));
    std::vector<const double*> ip(static_cast<size_t>(numInputs));
    std::vector<double*> op(static_cast<size_t>(numOutputs));
    for (int pos = 0; pos < frames || (frames == 0 && pos == 0); pos += std::max(1, blockSize)) {
        const int n = std::min(blockSize, frames - pos);
        for (int c = 0; c < numInputs; ++c)
            ip[static_cast<size_t>(c)] = in[static_cast<size_t>(c)].data() + pos;
        for (int c = 0; c < numOutputs; ++c)
            op[static_cast<size_t>(c)] = out[static_cast<size_t>(c)].data() + pos;
        frame->process(params, ip.data(), numInputs, op.data(), numOutputs, std::max(0, n));
        if (frames == 0)
            break;
    }
    return out;
}

void FrameHarness::processInPlace(std::vector<std::vector<double>>& io, int offset, int frames)
{
    double* ptr[ProcessingFrame::kMaxLanes] = {nullptr, nullptr};
    const int channels = std::min<int>(static_cast<int>(io.size()), ProcessingFrame::kMaxLanes);
    for (int c = 0; c < channels; ++c)
        ptr[c] = io[static_cast<size_t>(c)].data() + offset;
    frame->process(params, ptr, channels, ptr, channels, frames);
}

} // namespace brindlecot::test
