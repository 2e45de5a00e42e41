// The whole chain through the built Velarune.vst3 against the core frame, in one run: what the
// plug-in path (JUCE's VST3 wrapper, the processor's host-buffer handling, the per-block snapshot
// and log feed) adds to the engine's own cost. 48 kHz, stereo, 64-sample blocks, every stage
// working (the settings of the WholeChain benchmark), full and ECO model; the plug-in is called
// through its IAudioProcessor in single and in double precision, as a host's audio thread would.
//
//   velarune_vst3_bench [--seconds S]   S seconds of audio per case and round (default 20)
//
// Prints the real-time factor (audio seconds per thread-CPU second) of each case, best of three
// interleaved rounds, and the plug-in's ratio to the core.
#include "bench/WholeChainSetup.h"
#include "engine/ProcessingFrame.h"
#include "engine/StateChunk.h"
#include "support/Vst3Direct.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace brindlecot;

constexpr double kRate = 48000.0;
constexpr int kBlock = 64;
constexpr int kSignalFrames = 4 * 48000;

double threadSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// One way of running the chain on 64-sample blocks of the signal.
struct Runner
{
    virtual ~Runner() = default;
    virtual void block(const std::vector<std::vector<double>>& in, int pos) = 0;
};

struct CoreRunner : Runner
{
    std::unique_ptr<ProcessingFrame> frame = std::make_unique<ProcessingFrame>(0);
    ParameterValues params;
    std::vector<double> out[2] = {std::vector<double>(kBlock), std::vector<double>(kBlock)};

    explicit CoreRunner(bool eco)
        : params(bench::wholeChainParameters(eco))
    {
        frame->loadModels();
        frame->onReset(kRate, params);
    }
    void block(const std::vector<std::vector<double>>& in, int pos) override
    {
        const double* ip[2] = {in[0].data() + pos, in[1].data() + pos};
        double* op[2] = {out[0].data(), out[1].data()};
        frame->process(params, ip, 2, op, 2, kBlock);
    }
};

template <typename Sample> struct Vst3Runner : Runner
{
    std::unique_ptr<juce::AudioPluginInstance> plugin;
    Steinberg::Vst::IAudioProcessor* processor = nullptr;
    std::vector<Sample> buffers[2] = {std::vector<Sample>(kBlock), std::vector<Sample>(kBlock)};
    Sample* pointers[2] = {buffers[0].data(), buffers[1].data()};

    Vst3Runner(juce::VST3PluginFormat& format, const juce::PluginDescription& description, bool eco)
    {
        juce::String error;
        plugin = format.createInstanceFromDescription(description, kRate, kBlock, error);
        if (plugin == nullptr)
            throw std::runtime_error("cannot load the plug-in: " + error.toStdString());
        plugin->setProcessingPrecision(std::is_same_v<Sample, double>
                ? juce::AudioProcessor::doublePrecision
                : juce::AudioProcessor::singlePrecision);
        plugin->prepareToPlay(kRate, kBlock);
        struct ComponentOf : juce::ExtensionsVisitor
        {
            Steinberg::Vst::IComponent* component = nullptr;
            void visitVST3Client(const VST3Client& client) override { component = client.getIComponentPtr(); }
        } visitor;
        plugin->getExtensions(visitor);
        if (visitor.component == nullptr
            || visitor.component->queryInterface(
                   Steinberg::Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&processor))
                != Steinberg::kResultOk)
            throw std::runtime_error("the plug-in has no IAudioProcessor");
        // The settings go straight to the component as our own state chunk (JUCE's hosting side
        // would expect its own wrapper format from setStateInformation).
        std::vector<uint8_t> chunk;
        writeStateChunk(chunk, 5, 542, 476, 0, bench::wholeChainParameters(eco));
        chunk.insert(chunk.end(), 4, uint8_t {0}); // the framework's bypass word
        test::Vst3ChunkStream stream(std::move(chunk));
        if (visitor.component->setState(&stream) != Steinberg::kResultOk)
            throw std::runtime_error("the plug-in refused the state chunk");
    }
    ~Vst3Runner() override
    {
        plugin->releaseResources();
        if (processor != nullptr)
            processor->release();
    }
    void block(const std::vector<std::vector<double>>& in, int pos) override
    {
        for (int c = 0; c < 2; ++c)
            for (int n = 0; n < kBlock; ++n)
                buffers[c][static_cast<size_t>(n)]
                    = static_cast<Sample>(in[static_cast<size_t>(c)][static_cast<size_t>(pos + n)]);
        test::processInPlace(*processor, pointers, 2, kBlock);
    }
};

// Real-time factor of `seconds` of audio after one second of warm-up.
double measure(Runner& runner, const std::vector<std::vector<double>>& in, double seconds)
{
    int pos = 0;
    const auto next = [&] {
        if (pos + kBlock > kSignalFrames)
            pos = 0;
        const int p = pos;
        pos += kBlock;
        return p;
    };
    for (int done = 0; done < static_cast<int>(kRate); done += kBlock)
        runner.block(in, next());
    const long blocks = static_cast<long>(seconds * kRate / kBlock);
    const double t0 = threadSeconds();
    for (long b = 0; b < blocks; ++b)
        runner.block(in, next());
    const double cpu = threadSeconds() - t0;
    return static_cast<double>(blocks) * kBlock / kRate / cpu;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 20.0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(0.1, std::atof(argv[i + 1]));

    juce::ScopedJuceInitialiser_GUI juce;
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile(found, juce::File(VELARUNE_VST3_BUNDLE).getFullPathName());
    if (found.isEmpty()) {
        std::fprintf(stderr, "no plug-in found in %s\n", VELARUNE_VST3_BUNDLE);
        return 1;
    }
    const auto in = bench::wholeChainSignal(kSignalFrames, kRate);
    std::printf("whole chain, 48 kHz, stereo, %d-sample blocks, %.1f s of audio per case and round\n", kBlock,
        seconds);
    std::printf("%-6s %10s %14s %14s %9s %9s\n", "model", "core RTF", "VST3 float RTF", "VST3 double RTF",
        "float/core", "double/core");
    try {
        for (bool eco : {false, true}) {
            CoreRunner core(eco);
            Vst3Runner<float> single(format, *found[0], eco);
            Vst3Runner<double> dual(format, *found[0], eco);
            if (!core.frame->models().fullModelLoaded || !core.frame->models().ecoModelLoaded) {
                std::fprintf(stderr, "the shipped bleed models are not embedded in this build\n");
                return 1;
            }
            double best[3] = {0.0, 0.0, 0.0};
            for (int round = 0; round < 3; ++round) {
                best[0] = std::max(best[0], measure(core, in, seconds));
                best[1] = std::max(best[1], measure(single, in, seconds));
                best[2] = std::max(best[2], measure(dual, in, seconds));
            }
            std::printf("%-6s %10.1f %14.1f %14.1f %9.3f %9.3f\n", eco ? "ECO" : "full", best[0], best[1],
                best[2], best[1] / best[0], best[2] / best[0]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
