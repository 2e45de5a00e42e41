// What the host tells us about the track the plug-in sits on, and the two rules that use it:
// the editor title and the track colour that the "DAW color" theme follows. Two sources exist:
// the REAPER host interface (name, number, native colour) and the VST3 channel context (name,
// optional index, ARGB colour with alpha 0 meaning none).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brindlecot::ui {

struct HostTrackInfo
{
    // REAPER interface: present only when the host offers it and returns a parent track.
    bool reaperTrack = false;
    bool reaperNameRead = false; // "P_NAME" was read
    std::string reaperName;
    double reaperTrackNumber = 0.0; // "IP_TRACKNUMBER"
    double reaperCustomColour = 0.0; // "I_CUSTOMCOLOR", bit 24 set when the track has a colour
    std::function<int32_t(int32_t)> colorFromNative; // native colour -> 0xRRGGBB; empty when absent

    // VST3 channel context.
    bool channelReported = false;
    std::string channelName;
    int channelIndex = -1; // -1: the host did not say
    uint32_t channelColour = 0; // ARGB; alpha 0 = none
};

inline constexpr size_t kReaperTitleLimit = 160;
inline constexpr size_t kChannelTitleLimit = 128;

/// "#3: Lead vox", "#3" for an unnamed REAPER track, the channel name with its index when known,
/// or "" when the host says nothing. Titles are cut at their limit on a UTF-8 boundary.
std::string composeTitle(const HostTrackInfo& info);

/// What the title control shows: the title, or "VELARUNE" when it is empty.
std::string displayedTitle(const std::string& title);

/// Track colour 0xRRGGBB, or -1 when the host gives none.
int32_t hostTrackColour(const HostTrackInfo& info);

/// Cuts a UTF-8 string to at most `limit` bytes without splitting a character.
std::string cutUtf8(const std::string& text, size_t limit);

} // namespace brindlecot::ui
