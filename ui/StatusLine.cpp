#include "ui/StatusLine.h"

#include <cstdio>

namespace brindlecot::ui {

namespace {
// Each piece is formatted into 64 bytes, as the status control was sized for.
constexpr size_t kPieceBytes = 64;
} // namespace

const char* laneSuffix(int32_t laneMode)
{
    switch (laneMode) {
    case 3:
        return " \xC2\xB7 left channel only";
    case 2:
        return " \xC2\xB7 mono path";
    case 1:
        return " \xC2\xB7 stereo";
    default:
        return "";
    }
}

std::string composeStatus(const StatusInputs& in)
{
    if (in.activeNotchCount > 0 && in.deepestNotchHz > 0.0f) {
        char text[kPieceBytes];
        if (in.deepestNotchHz >= 1000.0f)
            std::snprintf(
                text, sizeof text, "notching %.2f kHz", static_cast<double>(in.deepestNotchHz) / 1000.0);
        else
            std::snprintf(text, sizeof text, "notching %.0f Hz", static_cast<double>(in.deepestNotchHz));
        std::string status = text;
        if (in.activeNotchCount > 1) {
            std::snprintf(text, sizeof text, " and %d more", static_cast<int>(in.activeNotchCount - 1));
            status += text;
        }
        return status;
    }
    if (in.dspInitFailed || !in.detectorActive)
        return kDetectorInactiveText;
    return in.modelStatus + laneSuffix(in.laneMode);
}

} // namespace brindlecot::ui
