// The REAPER host interface, when the host offers it: three host functions through which the idle
// task reads the name, number and colour of the track the plug-in sits on. Other hosts leave
// everything null and the VST3 channel context is used instead.
#pragma once

#include "ui/HostTrack.h"

namespace Steinberg {
class FUnknown;
}

namespace brindlecot {

class ReaperHost
{
public:
    /// Asks the host context for the REAPER interface and fetches the functions by name. Safe to
    /// call with nullptr or a host without the interface. Message thread.
    void connect(Steinberg::FUnknown* hostContext);
    void disconnect();

    bool available() const { return host_ != nullptr; }
    /// Fills the REAPER fields of `info` from the parent track, if the host gives one.
    void readTrack(ui::HostTrackInfo& info) const;

    ~ReaperHost() { disconnect(); }

private:
    using GetSetMediaTrackInfoString = bool (*)(void* track, const char* key, char* buffer, bool set);
    using GetMediaTrackInfoValue = double (*)(void* track, const char* key);
    using ColorFromNative = void (*)(int colour, int* red, int* green, int* blue);

    void* host_ = nullptr; // IReaperHostApplication, one reference held
    GetSetMediaTrackInfoString getSetMediaTrackInfoString_ = nullptr;
    GetMediaTrackInfoValue getMediaTrackInfoValue_ = nullptr;
    ColorFromNative colorFromNative_ = nullptr;
};

} // namespace brindlecot
