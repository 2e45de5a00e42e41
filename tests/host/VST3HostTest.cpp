// End-to-end check of the built Velarune.vst3 through JUCE's VST3 hosting: identity, parameters,
// audio on mono and stereo buses in several block sizes, and state moved into a second instance.
#include "PluginHost.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

using brindlecot::test::findParameter;

namespace {

brindlecot::test::PluginHost& host()
{
    return brindlecot::test::pluginHost();
}

// Default settings pass the signal unchanged except for the limiter (test level is under it).
void expectPassThrough(juce::AudioPluginInstance& plugin, int channels, int block)
{
    juce::AudioProcessor::BusesLayout layout;
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    layout.inputBuses.add(set);
    layout.outputBuses.add(set);
    ASSERT_TRUE(plugin.setBusesLayout(layout)) << channels << " channels";
    plugin.prepareToPlay(48000.0, block);
    juce::MidiBuffer midi;
    double phase = 0.0;
    double maxError = 0.0;
    double outEnergy = 0.0;
    for (int b = 0; b < 40; ++b) {
        juce::AudioBuffer<float> buffer(channels, block);
        std::vector<std::vector<float>> in(
            static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(block)));
        for (int n = 0; n < block; ++n) {
            for (int c = 0; c < channels; ++c) {
                const float v = static_cast<float>(0.4 * std::sin(phase * (c + 1)));
                in[static_cast<size_t>(c)][static_cast<size_t>(n)] = v;
                buffer.setSample(c, n, v);
            }
            phase += 2.0 * M_PI * 440.0 / 48000.0;
        }
        plugin.processBlock(buffer, midi);
        for (int c = 0; c < channels; ++c)
            for (int n = 0; n < block; ++n) {
                const double out = buffer.getSample(c, n);
                maxError
                    = std::max(maxError, std::fabs(out - in[static_cast<size_t>(c)][static_cast<size_t>(n)]));
                outEnergy += out * out;
            }
    }
    plugin.releaseResources();
    EXPECT_GT(outEnergy, 1.0) << "silent output with " << channels << " channel(s), block " << block;
    EXPECT_LT(maxError, 1e-6) << channels << " channel(s), block " << block;
}

} // namespace

TEST(VST3Host, FindsOneEffectClassWithTheProductsIdentity)
{
    const auto& d = host().description;
    EXPECT_EQ(d.name, "Velarune");
    EXPECT_EQ(d.manufacturerName, "Brindlecot");
    EXPECT_EQ(d.version, "0.12.6");
    EXPECT_EQ(d.category, "Fx|Dynamics");
    EXPECT_FALSE(d.isInstrument);
    EXPECT_EQ(d.pluginFormatName, "VST3");
}

TEST(VST3Host, ExposesExactlyTheTwentyTwoParametersInOrder)
{
    auto plugin = host().create();
    ASSERT_TRUE(plugin);
    const auto& params = plugin->getParameters();
    ASSERT_EQ(params.size(), 22);
    const char* names[] = {"Input", "Bleed Reduction", "Feedback Reduction", "Output", "High-Pass",
        "Low-Pass", "High-Pass On", "Low-Pass On", "Soft Bypass", "ECO Mode", "Air", "Air Corner",
        "Ride Strength", "Voice Floor", "Saturation", "Saturation Focus", "Saturation Drive", "Vocal Target",
        "Top Saturation", "Top Saturation Focus", "Top Saturation Drive", "BEEF Knob"};
    for (int i = 0; i < 22; ++i)
        EXPECT_EQ(params[i]->getName(100), names[i]) << i;
    EXPECT_EQ(params[0]->getLabel(), "dB");
    EXPECT_EQ(params[4]->getLabel(), "Hz");
    EXPECT_EQ(params[4]->getText(0.5f, 100), "141.4"); // sqrt(20 * 1000) Hz
    EXPECT_EQ(params[0]->getCurrentValueAsText(), "0.0");
    EXPECT_EQ(params[8]->getCurrentValueAsText(), "off");
    EXPECT_EQ(params[21]->getCurrentValueAsText(), "Low");
    EXPECT_TRUE(plugin->getBypassParameter() == params[8]);
    EXPECT_EQ(plugin->getLatencySamples(), 0);
}

TEST(VST3Host, PassesAudioOnMonoAndStereoBusesInSeveralBlockSizes)
{
    auto plugin = host().create();
    ASSERT_TRUE(plugin);
    for (int channels : {1, 2})
        for (int block : {32, 512, 4096})
            expectPassThrough(*plugin, channels, block);
}

TEST(VST3Host, StateMovesIntoASecondInstance)
{
    auto first = host().create();
    auto second = host().create();
    ASSERT_TRUE(first && second);
    auto* input = findParameter(*first, "Input");
    auto* bleed = findParameter(*first, "Bleed Reduction");
    auto* beef = findParameter(*first, "BEEF Knob");
    ASSERT_TRUE(input && bleed && beef);
    input->setValueNotifyingHost(0.25f); // -12 dB
    bleed->setValueNotifyingHost(0.8f);
    beef->setValueNotifyingHost(1.0f);

    juce::MemoryBlock state;
    first->getStateInformation(state);
    second->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    for (int i = 0; i < 22; ++i)
        EXPECT_FLOAT_EQ(second->getParameters()[i]->getValue(), first->getParameters()[i]->getValue()) << i;
    EXPECT_EQ(findParameter(*second, "Input")->getCurrentValueAsText(), "-12.0");
}

// Xlib's error-handler hook (Xlib.h's macros clash with JUCE's names). A host without a JUCE
// application keeps Xlib's fatal default handler; Xvfb refuses some window-manager properties.
extern "C" {
struct _XDisplay;
using XErrorHandlerFn = int (*)(_XDisplay*, void*);
XErrorHandlerFn XSetErrorHandler(XErrorHandlerFn handler);
}

namespace {
int ignoreXError(_XDisplay*, void*)
{
    return 0;
}
} // namespace

// The plug-in's own editor through the host's editor path: opened on the desktop, resized by the
// host at 0.75x to 2x, and closed while audio runs on another thread. Needs an X display (the
// test is registered to run under xvfb-run).
TEST(VST3HostEditor, OpensResizesAndClosesWhileAudioRuns)
{
    if (juce::SystemStats::getEnvironmentVariable("DISPLAY", {}).isEmpty())
        GTEST_SKIP() << "no X display";
    auto plugin = host().create(48000.0, 256);
    ASSERT_TRUE(plugin);
    plugin->prepareToPlay(48000.0, 256);
    std::atomic<bool> stop {false};
    std::atomic<int> blocks {0};
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        double phase = 0.0;
        while (!stop.load()) {
            for (int n = 0; n < 256; ++n) {
                const float v = static_cast<float>(0.3 * std::sin(phase));
                phase += 2.0 * M_PI * 440.0 / 48000.0;
                buffer.setSample(0, n, v);
                buffer.setSample(1, n, v);
            }
            plugin->processBlock(buffer, midi);
            blocks.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<juce::AudioProcessorEditor> editor(plugin->createEditorIfNeeded());
        ASSERT_TRUE(editor != nullptr);
        EXPECT_EQ(editor->getWidth(), 542);
        EXPECT_EQ(editor->getHeight(), 476);
        editor->setVisible(true);
        editor->addToDesktop(juce::ComponentPeer::windowIsTemporary);
        for (auto size : {std::pair<int, int> {406, 357}, {542, 476}, {813, 714}, {1084, 952}}) {
            editor->setSize(size.first, size.second);
            EXPECT_EQ(editor->getWidth(), size.first);
            EXPECT_EQ(editor->getHeight(), size.second);
        }
        editor->setSize(542, 476);
        editor->removeFromDesktop();
        plugin->editorBeingDeleted(editor.get());
        editor.reset();
    }
    while (blocks.load() < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop.store(true);
    audio.join();
    plugin->releaseResources();
}

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    XSetErrorHandler(ignoreXError);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
