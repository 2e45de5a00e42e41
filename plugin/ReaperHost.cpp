#include "plugin/ReaperHost.h"

#include <pluginterfaces/base/funknown.h>

#include <array>

namespace brindlecot {

namespace {

// REAPER's host-application extension, as the host lays it out: FUnknown followed by these calls.
class IReaperHostApplication : public Steinberg::FUnknown
{
public:
    virtual void* PLUGIN_API getReaperApi(Steinberg::CStringA name) = 0;
    virtual void* PLUGIN_API getReaperParent(Steinberg::uint32 what) = 0;
    virtual void* PLUGIN_API reaperExtended(Steinberg::uint32 call, void* a, void* b, void* c) = 0;
};

// {79655E36-77EE-4267-A573-FEF74912C27C}
const Steinberg::TUID kReaperHostIid = INLINE_UID(0x79655E36, 0x77EE4267, 0xA573FEF7, 0x4912C27C);

IReaperHostApplication* asReaper(void* p)
{
    return static_cast<IReaperHostApplication*>(p);
}

} // namespace

void ReaperHost::connect(Steinberg::FUnknown* hostContext)
{
    disconnect();
    if (hostContext == nullptr)
        return;
    void* obj = nullptr;
    if (hostContext->queryInterface(kReaperHostIid, &obj) != Steinberg::kResultOk || obj == nullptr)
        return;
    host_ = obj;
    auto* reaper = asReaper(host_);
    getSetMediaTrackInfoString_
        = reinterpret_cast<GetSetMediaTrackInfoString>(reaper->getReaperApi("GetSetMediaTrackInfo_String"));
    getMediaTrackInfoValue_
        = reinterpret_cast<GetMediaTrackInfoValue>(reaper->getReaperApi("GetMediaTrackInfo_Value"));
    colorFromNative_ = reinterpret_cast<ColorFromNative>(reaper->getReaperApi("ColorFromNative"));
}

void ReaperHost::disconnect()
{
    if (host_ != nullptr)
        asReaper(host_)->release();
    host_ = nullptr;
    getSetMediaTrackInfoString_ = nullptr;
    getMediaTrackInfoValue_ = nullptr;
    colorFromNative_ = nullptr;
}

void ReaperHost::readTrack(ui::HostTrackInfo& info) const
{
    if (host_ == nullptr || getMediaTrackInfoValue_ == nullptr)
        return;
    void* track = asReaper(host_)->getReaperParent(1); // 1: the parent track
    if (track == nullptr)
        return;
    info.reaperTrack = true;
    info.reaperCustomColour = getMediaTrackInfoValue_(track, "I_CUSTOMCOLOR");
    info.reaperTrackNumber = getMediaTrackInfoValue_(track, "IP_TRACKNUMBER");
    if (getSetMediaTrackInfoString_ != nullptr) {
        std::array<char, 512> name {};
        if (getSetMediaTrackInfoString_(track, "P_NAME", name.data(), false)) {
            name.back() = '\0';
            info.reaperNameRead = true;
            info.reaperName = name.data();
        }
    }
    if (colorFromNative_ != nullptr) {
        const auto convert = colorFromNative_;
        info.colorFromNative = [convert](int32_t native) {
            int r = 0, g = 0, b = 0;
            convert(native, &r, &g, &b);
            return static_cast<int32_t>(((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF));
        };
    }
}

} // namespace brindlecot
