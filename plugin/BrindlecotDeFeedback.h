// The JUCE audio processor: hosts the framework-free processing frame, exposes the 22 parameters
// in table order ("Soft Bypass" is the host's bypass), and saves/restores the state chunk.
#pragma once

#include "diag/DiagnosticLog.h"
#include "engine/FrameSnapshot.h"
#include "engine/ProcessingFrame.h"
#include "engine/StateChunk.h"
#include "plugin/ReaperHost.h"
#include "plugin/StandaloneQuit.h"
#include "store/PresetStore.h"
#include "ui/HostTrack.h"
#include "ui/Palette.h"
#include "updates/UpdateWorker.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace brindlecot {

class PresetActions;

class BrindlecotDeFeedback : public juce::AudioProcessor, public juce::VST3ClientExtensions
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
    /// What the preset bar and the main menu do (message thread only).
    PresetActions& presetActions() { return *presetActions_; }
    /// The shared update check: the pill reads its outcome, the menu switches it.
    updates::UpdateCheck& updateCheck() { return *updateCheck_; }
    int32_t accentIndex() const { return accentIndex_.load(); }
    /// Reads and clears the accent-changed flag in one exchange.
    bool takeAccentChanged() { return accentChanged_.exchange(false); }
    int32_t savedEditorWidth() const { return savedEditorWidth_.load(); }

    // ---- Editor and idle (message thread) ----------------------------------------------------
    /// The host parameter of an index (0..21), or nullptr.
    juce::RangedAudioParameter* hostParameter(int index) const;
    /// Theme index setter of the menu: outside 0..5 reads 0; a change raises accentChanged and
    /// marks the host project as modified.
    void setAccentIndex(int index);
    /// The current theme colour (the host track colour under "DAW color").
    ui::Argb accentColour(uint8_t alpha) const;
    /// Host track title ("" when the host says nothing) and the status line, as last composed.
    const std::string& titleText() const { return lastTitle_; }
    const std::string& statusText() const { return lastStatus_; }
    /// The sample rate the air readout computes with.
    double editorSampleRate() const;
    /// Editor size in device pixels: written by the editor, read when it opens again.
    int storedEditorWidth() const { return editorWidth_; }
    int storedEditorHeight() const { return editorHeight_; }
    void setStoredEditorSize(int width, int height);

    /// One idle tick: meters, title, track colour, theme rebuild, status line, filter switches.
    /// Runs from a message-thread timer at about 30 Hz, also while the editor is closed.
    void onIdle();
    /// The newest frame snapshot the idle task took (message thread).
    const FrameSnapshot& idleSnapshot() const { return idleSnapshot_; }

    void updateTrackProperties(const TrackProperties& properties) override;
    /// Track information as the host last reported it (channel context and REAPER interface).
    ui::HostTrackInfo hostTrackInfo() const;

private:
    // The VST3 wrapper finds these extensions by dynamic_cast on the processor.
    void setIHostApplication(Steinberg::FUnknown* host) override;
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
    std::unique_ptr<PresetActions> presetActions_;
    std::filesystem::path logsFolder_; // empty when the data folder is unknown (nothing is written)
    std::array<juce::RangedAudioParameter*, kNumParams> parameters_ {};

    std::atomic<int32_t> accentIndex_ {5};
    std::atomic<bool> accentChanged_ {false};
    std::atomic<int32_t> savedEditorWidth_ {0};
    // Editor size in pixels: the editor writes it on the message thread, state calls read it on
    // host threads.
    std::atomic<int32_t> editorWidth_ {542};
    std::atomic<int32_t> editorHeight_ {476};
    float screenScale_ = 1.0f;

    // Double-precision copies of the host input (the frame reads the dry input after writing the
    // outputs in place) and, for float hosts, of the output. Sized in prepareToPlay.
    int scratchFrames_ = 0;
    std::array<std::vector<double>, 2> inScratch_;
    std::array<std::vector<double>, 2> outScratch_;

    // Idle task state (message thread only, apart from the track properties).
    struct IdleTimer : juce::Timer
    {
        explicit IdleTimer(BrindlecotDeFeedback& p)
            : owner(p)
        { }
        void timerCallback() override { owner.onIdle(); }
        BrindlecotDeFeedback& owner;
    };
    FrameSnapshot idleSnapshot_ {};
    std::string lastTitle_;
    int32_t lastTrackColour_ = -1;
    bool lastHighPassOn_ = true;
    bool lastLowPassOn_ = true;
    std::string lastStatus_;
    ReaperHost reaper_;
    mutable std::mutex trackMutex_; // host threads report track properties
    std::string channelName_;
    uint32_t channelColour_ = 0;
    bool channelReported_ = false;
    std::unique_ptr<IdleTimer> idleTimer_;
    std::unique_ptr<StandaloneQuit> standaloneQuit_; // only in the Standalone app

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(BrindlecotDeFeedback)
};

} // namespace brindlecot
