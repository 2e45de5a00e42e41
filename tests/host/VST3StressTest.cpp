// What hosts do to a plug-in over a long session, all at once, through the built Velarune.vst3:
// block sizes from 0 to 10000, re-preparation at 8 kHz .. 192 kHz
// in single and double precision on mono and stereo buses, parameter changes and state restores
// (valid, truncated, garbage and older-layout chunks, handed straight to the VST3 component) from
// the message thread while the audio thread processes, and bursts
// of NaN, Inf and 1e30 in the input. The output must stay finite and inside the limiter's ceiling,
// and the audio thread must neither allocate nor lock beyond what the framework's wrapper does.
#include "PluginHost.h"
#include "engine/Parameters.h"
#include "engine/ProcessingFrame.h"
#include "engine/StateChunk.h"
#include "support/RealtimeProbe.h"
#include "support/Vst3Direct.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <thread>
#include <type_traits>
#include <vector>

using brindlecot::test::pluginHost;
using brindlecot::test::RealtimeScope;

namespace {

constexpr int kMaxFrames = 10000;
constexpr int kSoftBypassIndex = 8;
// The output limiter's ceiling, -0.3 dBFS; float hosts see it rounded to single precision.
const double kCeiling = std::pow(10.0, -0.3 / 20.0) * (1.0 + 1e-6);
constexpr double kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};
constexpr int kPreparedBlocks[] = {16, 64, 128, 512, 1024, 4096, 10000};

// Fills the input: a voice-like tone with noise at a random level (up to +12 dBFS, so the limiter
// works), sometimes with a burst of NaN, +-Inf or 1e30 somewhere in the block.
template <typename Sample>
void fillInput(juce::AudioBuffer<Sample>& buffer, int frames, std::mt19937& rng, double& phase, double rate)
{
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double level = std::pow(10.0, (static_cast<int>(rng() % 40) - 28) / 20.0);
    for (int n = 0; n < frames; ++n) {
        const double v = level * (0.7 * std::sin(phase) + 0.3 * unit(rng));
        phase += 2.0 * M_PI * 220.0 / rate;
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            buffer.setSample(c, n, static_cast<Sample>(c == 0 ? v : 0.8 * v));
    }
    if (frames > 0 && rng() % 6 == 0) {
        const Sample bad[]
            = {std::numeric_limits<Sample>::quiet_NaN(), std::numeric_limits<Sample>::infinity(),
                -std::numeric_limits<Sample>::infinity(), static_cast<Sample>(1e30)};
        const Sample value = bad[rng() % 4];
        const int start = static_cast<int>(rng() % static_cast<unsigned>(frames));
        const int length = std::min(frames - start, 1 + static_cast<int>(rng() % 300));
        const int channel = static_cast<int>(rng() % static_cast<unsigned>(buffer.getNumChannels()));
        for (int n = start; n < start + length; ++n)
            buffer.setSample(channel, n, value);
    }
}

// Any size the VST3 contract allows: 0 .. the prepared maximum, which goes up to 10000. (Larger
// blocks cannot be tried through this path: JUCE's VST3 wrapper copies the host's input into a
// scratch buffer sized for the prepared maximum before the plug-in's code runs, and a larger block
// overruns it. The processor itself takes any size; the editor tests feed it directly.)
int pickBlockSize(std::mt19937& rng, int prepared)
{
    const unsigned kind = rng() % 10;
    if (kind == 0)
        return 0;
    if (kind == 1)
        return prepared;
    return 1 + static_cast<int>(rng() % static_cast<unsigned>(prepared));
}

struct StressTally
{
    long blocks = 0;
    long frames = 0;
    long nonFinite = 0;
    long overCeiling = 0;
    double peak = 0.0;
    uint64_t allocations = 0;
    long blocksWithMoreThanOneAllocation = 0;
    long blocksWithOtherThanOneLock = 0;
    std::vector<const void*> lockAddresses;
    long controlOperations = 0;
};

// One round: prepare at a rate, precision and bus layout, then process random blocks, first while
// nothing else happens, then while the message thread changes parameters and restores state.
template <typename Sample>
void runRound(juce::AudioPluginInstance& plugin, Steinberg::Vst::IComponent* component,
    Steinberg::Vst::IAudioProcessor* processor, double rate, int prepared, int channels,
    const std::vector<std::vector<uint8_t>>& states, std::mt19937& rng, StressTally& tally)
{
    plugin.releaseResources();
    juce::AudioProcessor::BusesLayout layout;
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    layout.inputBuses.add(set);
    layout.outputBuses.add(set);
    ASSERT_TRUE(plugin.setBusesLayout(layout));
    plugin.setProcessingPrecision(std::is_same_v<Sample, double> ? juce::AudioProcessor::doublePrecision
                                                                 : juce::AudioProcessor::singlePrecision);
    plugin.prepareToPlay(rate, prepared);

    std::vector<std::vector<Sample>> storage(
        static_cast<size_t>(channels), std::vector<Sample>(static_cast<size_t>(kMaxFrames)));
    std::vector<Sample*> pointers;
    for (auto& channel : storage)
        pointers.push_back(channel.data());
    double phase = 0.0;

    // The audio thread processes; this thread, the message thread as in a host, changes parameters
    // and restores state (JUCE's VST3 hosting restores state under the message-manager lock).
    std::atomic<int> stage {0}; // 0: quiet, 1: with control, 2: done
    std::thread audio([&] {
        for (int phaseOfRound = 0; phaseOfRound < 2; ++phaseOfRound) {
            const bool withControl = phaseOfRound == 1;
            stage.store(withControl ? 1 : 0);
            for (int b = 0; b < 120; ++b) {
                const int frames = pickBlockSize(rng, prepared);
                juce::AudioBuffer<Sample> buffer(pointers.data(), channels, frames);
                fillInput(buffer, frames, rng, phase, rate);
                // In place, as most hosts do; no parameter changes or events in the call, so all
                // that runs inside the probe's scope is the plug-in's own process().
                uint64_t allocations = 0, locks = 0;
                {
                    RealtimeScope realtime;
                    brindlecot::test::processInPlace(*processor, pointers.data(), channels, frames);
                    allocations = realtime.allocations();
                    locks = realtime.locks();
                }
                tally.allocations += allocations;
                tally.blocksWithMoreThanOneAllocation += allocations > 1;
                if (locks != 1)
                    ++tally.blocksWithOtherThanOneLock;
                else
                    tally.lockAddresses.push_back(brindlecot::test::realtimeCounts().lastLock);
                for (int c = 0; c < channels; ++c)
                    for (int n = 0; n < frames; ++n) {
                        const double y = static_cast<double>(buffer.getSample(c, n));
                        if (!std::isfinite(y))
                            ++tally.nonFinite;
                        else if (std::fabs(y) > kCeiling)
                            ++tally.overCeiling;
                        else
                            tally.peak = std::max(tally.peak, std::fabs(y));
                    }
                ++tally.blocks;
                tally.frames += frames;
            }
        }
        stage.store(2);
    });

    std::mt19937 local(static_cast<unsigned>(prepared * 7919 + channels));
    auto& params = plugin.getParameters();
    while (stage.load() != 2) {
        if (stage.load() != 1) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        if (local() % 8 == 0) {
            brindlecot::test::Vst3ChunkStream stream(states[local() % states.size()]);
            component->setState(&stream);
        } else {
            int index = static_cast<int>(local() % 22);
            if (index == kSoftBypassIndex)
                index = 0;
            params[index]->setValueNotifyingHost(static_cast<float>(local() % 1001) / 1000.0f);
        }
        ++tally.controlOperations;
        std::this_thread::sleep_for(std::chrono::microseconds(local() % 400));
    }
    audio.join();
}

} // namespace

TEST(VST3Stress, RandomBlocksRatesRestoresAndBurstsStayFiniteBoundedAndRealtimeSafe)
{
    if (!brindlecot::test::realtimeProbeActive())
        GTEST_SKIP() << "the real-time probe is off under a sanitizer";
    auto plugin = pluginHost().create(48000.0, 512);
    ASSERT_TRUE(plugin);
    std::mt19937 rng(20261210);

    // State chunks for the message thread to restore, handed to the component as they are:
    // valid ones with every stage switched on at random settings (soft bypass off, so the ceiling
    // applies), a truncated one, garbage, and the older trailer layout.
    std::vector<std::vector<uint8_t>> states;
    for (int k = 0; k < 6; ++k) {
        brindlecot::ParameterValues values = brindlecot::defaultParameterValues();
        for (int i = 0; i < 22; ++i) {
            const auto& range = brindlecot::paramSpec(i);
            values[static_cast<size_t>(i)] = range.minValue
                + (range.maxValue - range.minValue) * static_cast<double>(rng() % 1001) / 1000.0;
        }
        values[kSoftBypassIndex] = 0.0;
        std::vector<uint8_t> chunk;
        brindlecot::writeStateChunk(
            chunk, static_cast<int32_t>(rng() % 6), 542, 476, static_cast<int32_t>(rng() % 2), values);
        chunk.insert(chunk.end(), 4, uint8_t {0});
        states.push_back(chunk);
    }
    states.emplace_back(
        states[0].begin(), states[0].begin() + static_cast<std::ptrdiff_t>(states[0].size() / 3));
    // Garbage: no tag, so it is read as 22 doubles of the older layout; its ninth double (Soft
    // Bypass) is zero so the ceiling still applies, the others are random bits.
    std::vector<uint8_t> garbage(97);
    for (auto& byte : garbage)
        byte = static_cast<uint8_t>(rng());
    std::fill(
        garbage.begin() + 8 * kSoftBypassIndex, garbage.begin() + 8 * (kSoftBypassIndex + 1), uint8_t {0});
    states.push_back(garbage);
    std::vector<uint8_t> trailer(states[1].begin() + 24, states[1].begin() + 24 + 22 * 8);
    for (uint32_t word : {0x50574143u, 1u, 3u}) // "PWAC", 1, accent 3
        for (int k = 0; k < 4; ++k)
            trailer.push_back(static_cast<uint8_t>(word >> (8 * k)));
    states.push_back(trailer);

    // The probe must see the plug-in's own allocations, or a zero below would prove nothing:
    // preparing sizes its buffers.
    {
        RealtimeScope probe;
        plugin->prepareToPlay(96000.0, 8192);
        EXPECT_GT(probe.allocations(), 0u) << "the probe does not reach into the loaded plug-in";
    }

    // The audio calls go straight to the plug-in's IAudioProcessor: JUCE's hosting side allocates
    // and locks by itself around it, which is not the plug-in's doing.
    struct ComponentOf : juce::ExtensionsVisitor
    {
        Steinberg::Vst::IComponent* component = nullptr;
        void visitVST3Client(const VST3Client& client) override { component = client.getIComponentPtr(); }
    } visitor;
    plugin->getExtensions(visitor);
    auto* component = visitor.component;
    ASSERT_TRUE(component != nullptr);
    ASSERT_TRUE(component != nullptr);
    Steinberg::Vst::IAudioProcessor* processor = nullptr;
    ASSERT_EQ(
        component->queryInterface(Steinberg::Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&processor)),
        Steinberg::kResultOk);

    StressTally tally;
    for (int round = 0; round < 22; ++round) {
        const double rate = kRates[round % std::size(kRates)];
        const int prepared = kPreparedBlocks[rng() % std::size(kPreparedBlocks)];
        const int channels = (round / 2) % 2 == 0 ? 2 : 1;
        if (round % 2 == 0)
            runRound<float>(*plugin, component, processor, rate, prepared, channels, states, rng, tally);
        else
            runRound<double>(*plugin, component, processor, rate, prepared, channels, states, rng, tally);
    }
    plugin->releaseResources();
    processor->release();

    std::printf("%ld blocks, %ld frames, %ld control operations; output peak %.4f\n", tally.blocks,
        tally.frames, tally.controlOperations, tally.peak);
    EXPECT_EQ(tally.nonFinite, 0);
    EXPECT_EQ(tally.overCeiling, 0);
    EXPECT_GT(tally.controlOperations, 100);
    // What the audio thread does besides processing is the framework's, and only that:
    // - JUCE 7.0.5's VST3 wrapper copies its input-bus channel mapping (a std::vector) on every
    //   call, one allocation per call; anything beyond that would be ours. (The processor's own
    //   callback allocates nothing: the editor tests check it without the wrapper.)
    // - It holds the processor's callback lock around every processBlock (so that
    //   suspendProcessing works): one mutex, taken once per call; any other lock would be ours.
    EXPECT_EQ(tally.blocksWithMoreThanOneAllocation, 0);
    EXPECT_EQ(tally.blocksWithOtherThanOneLock, 0);
    ASSERT_FALSE(tally.lockAddresses.empty());
    for (const void* address : tally.lockAddresses)
        ASSERT_EQ(address, tally.lockAddresses.front());
}
