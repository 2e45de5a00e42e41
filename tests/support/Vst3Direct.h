// Talking to a loaded plug-in's VST3 interfaces directly, without a host around the calls: a plain
// in-memory IBStream to hand its component a state chunk of our choosing (IComponent::setState),
// and one in-place process call (IAudioProcessor::process), so that what runs is the plug-in alone.
#pragma once

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace brindlecot::test {

class Vst3ChunkStream : public Steinberg::IBStream
{
public:
    explicit Vst3ChunkStream(std::vector<uint8_t> bytes)
        : bytes_(std::move(bytes))
    { }
    virtual ~Vst3ChunkStream() = default;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override
    {
        if (Steinberg::FUnknownPrivate::iidEqual(iid, Steinberg::IBStream::iid)
            || Steinberg::FUnknownPrivate::iidEqual(iid, Steinberg::FUnknown::iid)) {
            addRef();
            *obj = this;
            return Steinberg::kResultOk;
        }
        *obj = nullptr;
        return Steinberg::kNoInterface;
    }
    Steinberg::uint32 PLUGIN_API addRef() override { return ++refs_; }
    Steinberg::uint32 PLUGIN_API release() override { return --refs_; } // owned by the caller's scope

    Steinberg::tresult PLUGIN_API read(
        void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numRead) override
    {
        const auto n = static_cast<size_t>(
            std::clamp<int64_t>(static_cast<int64_t>(bytes_.size()) - position_, 0, std::max(0, numBytes)));
        if (n > 0)
            std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += static_cast<int64_t>(n);
        if (numRead != nullptr)
            *numRead = static_cast<Steinberg::int32>(n);
        return Steinberg::kResultOk;
    }
    Steinberg::tresult PLUGIN_API write(void*, Steinberg::int32, Steinberg::int32* numWritten) override
    {
        if (numWritten != nullptr)
            *numWritten = 0;
        return Steinberg::kResultFalse;
    }
    Steinberg::tresult PLUGIN_API seek(
        Steinberg::int64 pos, Steinberg::int32 mode, Steinberg::int64* result) override
    {
        const int64_t base = mode == kIBSeekSet ? 0
            : mode == kIBSeekCur                ? position_
                                                : static_cast<int64_t>(bytes_.size());
        position_ = std::clamp<int64_t>(base + pos, 0, static_cast<int64_t>(bytes_.size()));
        if (result != nullptr)
            *result = position_;
        return Steinberg::kResultOk;
    }
    Steinberg::tresult PLUGIN_API tell(Steinberg::int64* pos) override
    {
        if (pos != nullptr)
            *pos = position_;
        return Steinberg::kResultOk;
    }

private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
    std::atomic<Steinberg::uint32> refs_ {1};
};

/// One in-place process call on one bus of `numChannels` channels (float or double), with no
/// parameter changes, events or process context.
template <typename Sample>
Steinberg::tresult processInPlace(
    Steinberg::Vst::IAudioProcessor& processor, Sample** channels, int numChannels, int frames)
{
    Steinberg::Vst::AudioBusBuffers bus {};
    bus.numChannels = numChannels;
    if constexpr (std::is_same_v<Sample, double>)
        bus.channelBuffers64 = channels;
    else
        bus.channelBuffers32 = channels;
    Steinberg::Vst::ProcessData data;
    data.processMode = Steinberg::Vst::kRealtime;
    data.symbolicSampleSize
        = std::is_same_v<Sample, double> ? Steinberg::Vst::kSample64 : Steinberg::Vst::kSample32;
    data.numSamples = frames;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &bus;
    data.outputs = &bus;
    return processor.process(data);
}

} // namespace brindlecot::test
