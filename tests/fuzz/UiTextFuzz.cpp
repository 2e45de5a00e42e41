// Feeds arbitrary text to the editor's text rules: the typed vocal-target entry and the host track
// names that become the title. The parser must accept or refuse without reading past the text,
// and a title must stay valid UTF-8 where its input was, within its byte limit.
#include "ui/HostTrack.h"
#include "ui/LevelMeterRules.h"

#include <cmath>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace brindlecot::ui;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto v = parseLeadingNumber(text); v && !std::isfinite(*v))
        std::abort();

    HostTrackInfo info;
    info.channelReported = true;
    info.channelName = text;
    const std::string channelTitle = composeTitle(info);
    if (channelTitle.size() > kChannelTitleLimit || text.compare(0, channelTitle.size(), channelTitle) != 0)
        std::abort();
    info.reaperTrack = info.reaperNameRead = true;
    info.reaperName = text;
    info.reaperTrackNumber = size > 0 ? static_cast<double>(data[0]) * 1e300 : 0.0;
    if (composeTitle(info).size() > kReaperTitleLimit)
        std::abort();
    return 0;
}
