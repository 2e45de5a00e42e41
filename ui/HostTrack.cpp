#include "ui/HostTrack.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brindlecot::ui {

std::string cutUtf8(const std::string& text, size_t limit)
{
    if (text.size() <= limit)
        return text;
    size_t end = limit;
    // Step back over continuation bytes (10xxxxxx) so the cut lands before a lead byte.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string composeTitle(const HostTrackInfo& info)
{
    if (info.reaperTrack && info.reaperNameRead) {
        // Track numbers are small integers (0 is the master track); anything else is clamped before
        // the conversion, which would be undefined outside the integer range.
        const double n = std::isfinite(info.reaperTrackNumber)
            ? std::clamp(std::trunc(info.reaperTrackNumber), -2147483648.0, 2147483647.0)
            : 0.0;
        const std::string number = "#" + std::to_string(static_cast<long long>(n));
        const std::string title = info.reaperName.empty() ? number : number + ": " + info.reaperName;
        return cutUtf8(title, kReaperTitleLimit);
    }
    if (info.channelReported && !info.channelName.empty()) {
        const std::string title = info.channelIndex >= 0
            ? "#" + std::to_string(info.channelIndex) + ": " + info.channelName
            : info.channelName;
        return cutUtf8(title, kChannelTitleLimit);
    }
    return {};
}

std::string displayedTitle(const std::string& title)
{
    return title.empty() ? std::string("VELARUNE") : title;
}

int32_t hostTrackColour(const HostTrackInfo& info)
{
    if (info.reaperTrack && info.colorFromNative && std::isfinite(info.reaperCustomColour)) {
        const auto c = static_cast<int64_t>(info.reaperCustomColour);
        if ((c & 0x1000000) != 0)
            return info.colorFromNative(static_cast<int32_t>(c & 0xFFFFFF)) & 0xFFFFFF;
    }
    if (info.channelColour > 0xFFFFFFu)
        return static_cast<int32_t>(info.channelColour & 0xFFFFFFu);
    return -1;
}

} // namespace brindlecot::ui
