#include "plugin/BrindlecotDeFeedback.h"

#include "editor/VelaruneEditor.h"
#include "plugin/HostParameters.h"
#include "plugin/PresetActions.h"
#include "store/DataFolders.h"
#include "store/Preferences.h"
#include "ui/ControlTags.h"
#include "ui/StatusLine.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace brindlecot {

namespace {
std::atomic<uint64_t> gInstanceCounter {0};

// Instances are constructed one at a time (hosts may create several from different threads).
std::mutex& constructionMutex()
{
    static std::mutex m;
    return m;
}

constexpr int kDefaultScratchFrames = 16384;
} // namespace

BrindlecotDeFeedback::BrindlecotDeFeedback()
    : AudioProcessor(BusesProperties()
                         .withInput("Input", juce::AudioChannelSet::stereo(), true)
                         .withOutput("Output", juce::AudioChannelSet::stereo(), true))
    , instanceNumber_(gInstanceCounter.fetch_add(1))
    , frame_(std::make_unique<ProcessingFrame>(instanceNumber_))
    , log_(std::make_unique<DiagnosticLog>())
    , updateCheck_(
          std::make_shared<updates::UpdateCheck>(updates::kProductKey, dsp::kProductVersion, makerFolder()))
    , updateWorker_(std::make_unique<updates::UpdateWorker>(updateCheck_))
    , presets_(presetsFolder())
    , logsFolder_(logsFolder())
{
    updateWorker_->start();
    ensureScratch(kDefaultScratchFrames);
    for (const auto& info : parameterTable()) {
        auto param = makeHostParameter(info);
        parameters_[static_cast<size_t>(info.index)] = param.get();
        addParameter(param.release());
    }
    // The bleed models are found and read once, here, never on the audio thread. A model file
    // beside the module is looked for in the bundle's Contents/Resources (VST3 layout), else
    // next to the module itself.
    dsp::ModelSearch search;
    const auto module = juce::File::getSpecialLocation(juce::File::currentExecutableFile);
    const auto resources = module.getParentDirectory().getSiblingFile("Resources");
    search.bareNameDirectory
        = (resources.isDirectory() ? resources : module.getParentDirectory()).getFullPathName().toStdString();
    frame_->loadModels(search);
    loadPreferences(preferencesPath(), loggingPreference_);
    log_->setEnabled(loggingPreference_);
    presetActions_ = std::make_unique<PresetActions>(*this);
    frame_->onReset(44100.0, parameterSnapshot());

    idleTimer_ = std::make_unique<IdleTimer>(*this);
    idleTimer_->startTimerHz(30);
    if (juce::PluginHostType::getPluginLoadedAs() == wrapperType_Standalone)
        standaloneQuit_ = std::make_unique<StandaloneQuit>();
}

BrindlecotDeFeedback::~BrindlecotDeFeedback()
{
    standaloneQuit_.reset();
    idleTimer_.reset();
}

bool BrindlecotDeFeedback::setLoggingPreference(bool on)
{
    loggingPreference_ = on;
    log_->setEnabled(on);
    return savePreferences(on, preferencesPath());
}

uint64_t BrindlecotDeFeedback::instancesCreated()
{
    return gInstanceCounter.load();
}

bool BrindlecotDeFeedback::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    // One in and one out, or two and two. Hosts describe a mono track in different ways (a centre
    // speaker, or only the left speaker of a stereo pair), so the channel count decides.
    const int in = layouts.getMainInputChannelSet().size();
    const int out = layouts.getMainOutputChannelSet().size();
    return in == out && (in == 1 || in == 2);
}

void BrindlecotDeFeedback::ensureScratch(int frames)
{
    if (frames <= scratchFrames_)
        return;
    for (auto& v : inScratch_)
        v.assign(static_cast<size_t>(frames), 0.0);
    for (auto& v : outScratch_)
        v.assign(static_cast<size_t>(frames), 0.0);
    scratchFrames_ = frames;
}

void BrindlecotDeFeedback::prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock)
{
    ensureScratch(std::max(kDefaultScratchFrames, 2 * maximumExpectedSamplesPerBlock));
    frame_->onReset(sampleRate, parameterSnapshot());
}

ParameterValues BrindlecotDeFeedback::parameterSnapshot() const
{
    ParameterValues values {};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = parameters_[i] != nullptr ? plainValueOf(*parameters_[i])
                                              : paramSpec(static_cast<int>(i)).defaultValue;
    return values;
}

template <typename Sample> void BrindlecotDeFeedback::processHostBuffer(juce::AudioBuffer<Sample>& buffer)
{
    const int numIn = std::min(getTotalNumInputChannels(), ProcessingFrame::kMaxLanes);
    const int numOut = std::min(getTotalNumOutputChannels(), buffer.getNumChannels());
    const int frames = buffer.getNumSamples();
    for (int ch = ProcessingFrame::kMaxLanes; ch < numOut; ++ch)
        buffer.clear(ch, 0, frames);
    if (numIn < 1 || numOut < 1) {
        buffer.clear();
        return;
    }
    const ParameterValues params = parameterSnapshot();
    const int outLanes = std::min(numOut, ProcessingFrame::kMaxLanes);

    // Host transport for the snapshot and the diagnostic log (the playhead in samples).
    bool playing = false;
    double playheadSamples = 0.0;
    if (auto* head = getPlayHead()) {
        if (const auto position = head->getPosition()) {
            playing = position->getIsPlaying();
            if (const auto samples = position->getTimeInSamples())
                playheadSamples = static_cast<double>(*samples);
        }
    }

    // Blocks longer than the scratch buffers (sized for the host's announced maximum) run in pieces.
    int pos = 0;
    do {
        const int n = std::min(frames - pos, scratchFrames_);
        const double* in[ProcessingFrame::kMaxLanes] = {};
        double* out[ProcessingFrame::kMaxLanes] = {};
        for (int ch = 0; ch < numIn; ++ch) {
            const Sample* src = buffer.getReadPointer(ch, pos);
            double* dst = inScratch_[static_cast<size_t>(ch)].data();
            for (int i = 0; i < n; ++i)
                dst[i] = static_cast<double>(src[i]);
            in[ch] = dst;
        }
        for (int ch = 0; ch < outLanes; ++ch) {
            if constexpr (std::is_same_v<Sample, double>)
                out[ch] = buffer.getWritePointer(ch, pos);
            else
                out[ch] = outScratch_[static_cast<size_t>(ch)].data();
        }
        frame_->setTransport(playing, playheadSamples + pos);
        frame_->process(params, in, numIn, out, outLanes, n);
        log_->recordBlock(frame_->lastSnapshot());
        if constexpr (!std::is_same_v<Sample, double>) {
            for (int ch = 0; ch < outLanes; ++ch) {
                Sample* dst = buffer.getWritePointer(ch, pos);
                for (int i = 0; i < n; ++i)
                    dst[i] = static_cast<Sample>(out[ch][i]);
            }
        }
        pos += n;
    } while (pos < frames);
}

void BrindlecotDeFeedback::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    processHostBuffer(buffer);
}

void BrindlecotDeFeedback::processBlock(juce::AudioBuffer<double>& buffer, juce::MidiBuffer&)
{
    processHostBuffer(buffer);
}

juce::AudioProcessorParameter* BrindlecotDeFeedback::getBypassParameter() const
{
    return parameters_[kSoftBypass];
}

juce::AudioProcessorEditor* BrindlecotDeFeedback::createEditor()
{
    return new editor::VelaruneEditor(*this);
}

juce::RangedAudioParameter* BrindlecotDeFeedback::hostParameter(int index) const
{
    return index >= 0 && index < kNumParams ? parameters_[static_cast<size_t>(index)] : nullptr;
}

void BrindlecotDeFeedback::setAccentIndex(int index)
{
    const int i = index >= 0 && index < ui::kNumThemes ? index : 0;
    if (accentIndex_.exchange(i) != i) {
        accentChanged_.store(true);
        markStateDirty();
    }
}

ui::Argb BrindlecotDeFeedback::accentColour(uint8_t alpha) const
{
    // Under "DAW color" the colour is asked of the host each time the controls are built.
    const int index = accentIndex_.load();
    const int32_t host = index == ui::kThemeDawColour ? ui::hostTrackColour(hostTrackInfo()) : -1;
    return ui::accentColour(index, host, alpha);
}

double BrindlecotDeFeedback::editorSampleRate() const
{
    return frame_->sampleRate();
}

void BrindlecotDeFeedback::setStoredEditorSize(int width, int height)
{
    editorWidth_ = width;
    editorHeight_ = height;
}

void BrindlecotDeFeedback::updateTrackProperties(const TrackProperties& properties)
{
    std::lock_guard<std::mutex> lock(trackMutex_);
    channelReported_ = true;
    channelName_ = properties.name.toStdString();
    channelColour_ = properties.colour.getARGB();
}

ui::HostTrackInfo BrindlecotDeFeedback::hostTrackInfo() const
{
    ui::HostTrackInfo info;
    {
        std::lock_guard<std::mutex> lock(trackMutex_);
        info.channelReported = channelReported_;
        info.channelName = channelName_;
        info.channelColour = channelColour_;
    }
    reaper_.readTrack(info);
    return info;
}

void BrindlecotDeFeedback::setIHostApplication(Steinberg::FUnknown* host)
{
    reaper_.connect(host);
}

void BrindlecotDeFeedback::onIdle()
{
    auto* ed = dynamic_cast<editor::VelaruneEditor*>(getActiveEditor());
    frame_->readSnapshot(idleSnapshot_);
    const FrameSnapshot& snap = idleSnapshot_;

    // A loaded preset edited since: the bar shows "*".
    presetActions_->idleCheck();

    const ui::HostTrackInfo track = hostTrackInfo();
    if (accentIndex_.load() == ui::kThemeDawColour) {
        const int32_t colour = ui::hostTrackColour(track);
        if (colour != lastTrackColour_) {
            lastTrackColour_ = colour;
            accentChanged_.store(true);
        }
    }
    if (takeAccentChanged() && ed != nullptr)
        ed->rebuildControls();

    const std::string title = ui::composeTitle(track);
    if (title != lastTitle_) {
        lastTitle_ = title;
        if (ed != nullptr)
            ed->setControlText(ui::kCtrlTagTitle, juce::String::fromUTF8(ui::displayedTitle(title).c_str()));
    }

    // Meters: only the newest sender reading is shown; older ones in the queue are drained.
    dsp::PeakAvgValue latest;
    if (frame_->inputSender().transmit([&latest](const dsp::PeakAvgValue& v) { latest = v; }) > 0
        && ed != nullptr)
        ed->pushMeterReading(ui::kCtrlTagInputMeter, latest.peak, latest.average);
    if (frame_->outputSender().transmit([&latest](const dsp::PeakAvgValue& v) { latest = v; }) > 0
        && ed != nullptr)
        ed->pushMeterReading(ui::kCtrlTagOutputMeter, latest.peak, latest.average);
    if (ed != nullptr) {
        ed->setControlValue(ui::kCtrlTagBleedReduction, snap.bleedMeter);
        ed->setControlValue(ui::kCtrlTagFeedbackReduction, snap.feedbackMeter);
        ed->setControlValue(ui::kCtrlTagRideMeter, snap.rideMeter);
        ed->sendInputLevel(snap.inputLevelDb);
    }

    // Queued diagnostic rows go to disk here, never on the audio thread.
    if (log_->enabled())
        log_->drain(logsFolder_);

    ui::StatusInputs in;
    in.activeNotchCount = snap.activeNotchCount;
    in.deepestNotchHz = snap.deepestNotchFrequencyHz;
    in.dspInitFailed = snap.dspInitFailed;
    in.detectorActive = snap.detectorActive;
    in.modelStatus = frame_->models().status;
    in.laneMode = snap.laneMode;
    const std::string status = ui::composeStatus(in);

    const bool hpOn = isOn(plainValueOf(*parameters_[kHighPassOn]));
    const bool lpOn = isOn(plainValueOf(*parameters_[kLowPassOn]));
    if (hpOn != lastHighPassOn_ || lpOn != lastLowPassOn_) {
        lastHighPassOn_ = hpOn;
        lastLowPassOn_ = lpOn;
        if (ed != nullptr)
            ed->markDirty(ui::kCtrlTagBandStrip);
    }
    if (status != lastStatus_) {
        lastStatus_ = status;
        if (ed != nullptr)
            ed->setControlText(ui::kCtrlTagStatus, juce::String::fromUTF8(status.c_str()));
    }
}

void BrindlecotDeFeedback::getStateInformation(juce::MemoryBlock& destData)
{
    StateFields fields;
    fields.editorWidth = editorWidth_;
    fields.editorHeight = editorHeight_;
    fields.screenScale = screenScale_;
    int32_t width = 0;
    int32_t height = 0;
    unscaledEditorSize(fields, width, height);

    std::vector<uint8_t> bytes;
    writeStateChunk(bytes, accentIndex_.load(), width, height, frame_->inputMode.load(), parameterSnapshot());
    bytes.insert(bytes.end(), 4, uint8_t {0}); // the framework's bypass word, kept for interchange
    destData.append(bytes.data(), bytes.size());
}

void BrindlecotDeFeedback::setStateInformation(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 0)
        return;
    StateFields fields;
    fields.accentIndex = accentIndex_.load();
    fields.inputMode = frame_->inputMode.load();
    fields.savedEditorWidth = savedEditorWidth_.load();
    fields.editorWidth = editorWidth_;
    fields.editorHeight = editorHeight_;
    fields.screenScale = screenScale_;
    fields.editorOpen = getActiveEditor() != nullptr;

    ParameterValues values = parameterSnapshot();
    int read = 0;
    readStateChunk(
        static_cast<const uint8_t*>(data), static_cast<size_t>(sizeInBytes), 0, fields, values, &read);

    accentIndex_.exchange(fields.accentIndex);
    if (fields.accentChanged)
        accentChanged_.store(true);
    frame_->inputMode.store(fields.inputMode);
    savedEditorWidth_.store(fields.savedEditorWidth);
    editorWidth_ = fields.editorWidth;
    editorHeight_ = fields.editorHeight;
    for (int i = 0; i < read; ++i) {
        auto* p = parameters_[static_cast<size_t>(i)];
        p->setValueNotifyingHost(p->convertTo0to1(static_cast<float>(values[static_cast<size_t>(i)])));
    }
}

void BrindlecotDeFeedback::markStateDirty()
{
    updateHostDisplay(ChangeDetails().withNonParameterStateChanged(true));
}

} // namespace brindlecot

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    std::lock_guard<std::mutex> lock(brindlecot::constructionMutex());
    return new brindlecot::BrindlecotDeFeedback();
}
