// The JUCE audio processor: hosts the framework-free processing frame, exposes the 22 parameters
// in table order ("Soft Bypass" is the host's bypass), and saves/restores the state chunk.
#pragma once

#include "diag/DiagnosticLog.h"
#include "engine/ProcessingFrame.h"
#include "engine/StateChunk.h"
#include "store/PresetStore.h"
#include "updates/UpdateWorker.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

namespace brindlecot {

class PresetActions;

class BrindlecotDeFeedback : public juce::AudioProcessor
{
public:
    BrindlecotDeFeedback();
    ~BrindlecotDeFeedback() override;

    // Instances are numbered in creation order within the process (the first is 0).
    static uint64_t instancesCreated();

    const juce::String getName() const override { return "Velarune"; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override { }
    const juce::String getProgramName(int) override { return "Default"; }
    void changeProgramName(int, const juce::String&) override { }

    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override { }

    bool supportsDoublePrecisionProcessing() const override { return true; }
    using AudioProcessor::processBlock;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    void processBlock(juce::AudioBuffer<double>& buffer, juce::MidiBuffer& midi) override;

    juce::AudioProcessorParameter* getBypassParameter() const override;

    bool hasEditor() const override { return true; }
    juce::AudioProcessorEditor* createEditor() override;

    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    /// Tells the host that non-parameter state (accent, input mode) changed.
    void markStateDirty();

    /// Current parameter values in their own units.
    ParameterValues parameterSnapshot() const;

    ProcessingFrame& frame() { return *frame_; }
    /// The diagnostic log: fed on the audio thread after every block, drained by the idle task.
    DiagnosticLog& diagnosticLog() { return *log_; }
    /// "Write diagnostic log": the preference read at construction; setting it switches the log and
    /// writes the preferences file (user-interface thread). Returns whether the file was written.
    bool loggingPreference() const { return loggingPreference_; }
    bool setLoggingPreference(bool on);
    /// The preset files of this user (user-interface thread only).
    PresetStore& presets() { return presets_; }
    /// The shared update check: the pill reads its outcome, the menu switches it.
    updates::UpdateCheck& updateCheck() { return *updateCheck_; }
    int32_t accentIndex() const { return accentIndex_.load(); }
    /// Reads and clears the accent-changed flag in one exchange.
    bool takeAccentChanged() { return accentChanged_.exchange(false); }
    int32_t savedEditorWidth() const { return savedEditorWidth_.load(); }

private:
    // The preset and menu actions restore state pieces the way the state reader does.
    friend class PresetActions;

    template <typename Sample> void processHostBuffer(juce::AudioBuffer<Sample>& buffer);
    void ensureScratch(int frames);

    uint64_t instanceNumber_;
    std::unique_ptr<ProcessingFrame> frame_;
    std::unique_ptr<DiagnosticLog> log_;
    // The worker is declared after the check it runs, so it stops before the check is released.
    std::shared_ptr<updates::UpdateCheck> updateCheck_;
    std::unique_ptr<updates::UpdateWorker> updateWorker_;
    bool loggingPreference_ = false;
    PresetStore presets_;
    std::array<juce::RangedAudioParameter*, kNumParams> parameters_ {};

    std::atomic<int32_t> accentIndex_ {5};
    std::atomic<bool> accentChanged_ {false};
    std::atomic<int32_t> savedEditorWidth_ {0};
    int32_t editorWidth_ = 542; // framework editor size, pixels
    int32_t editorHeight_ = 476;
    float screenScale_ = 1.0f;

    // Double-precision copies of the host input (the frame reads the dry input after writing the
    // outputs in place) and, for float hosts, of the output. Sized in prepareToPlay.
    int scratchFrames_ = 0;
    std::array<std::vector<double>, 2> inScratch_;
    std::array<std::vector<double>, 2> outScratch_;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(BrindlecotDeFeedback)
};

} // namespace brindlecot
