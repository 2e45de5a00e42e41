#include "plugin/BrindlecotDeFeedback.h"

#include "plugin/HostParameters.h"
#include "store/DataFolders.h"
#include "store/Preferences.h"

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
    frame_->onReset(44100.0, parameterSnapshot());
}

BrindlecotDeFeedback::~BrindlecotDeFeedback() = default;

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
    return new juce::GenericAudioProcessorEditor(*this);
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
