// Fixed integer tags through which the processor's idle task, the tests and later editor pieces
// reach individual editor controls. Controls that nobody addresses from outside get no tag.
#pragma once

namespace brindlecot::ui {

enum ControlTag : int
{
    kCtrlTagNone = -1,
    kCtrlTagInputMeter = 100,
    kCtrlTagOutputMeter = 101,
    kCtrlTagTitle = 103,
    kCtrlTagInputKnob = 104,
    kCtrlTagBypassPill = 105,
    kCtrlTagEcoPill = 106,
    kCtrlTagBleedSlider = 107,
    kCtrlTagFeedbackSlider = 108,
    kCtrlTagBleedReduction = 109,
    kCtrlTagFeedbackReduction = 110,
    kCtrlTagHighPassCaption = 111,
    kCtrlTagHighPassPill = 112,
    kCtrlTagLowPassCaption = 113,
    kCtrlTagLowPassPill = 114,
    kCtrlTagStatus = 115,
    kCtrlTagBody = 116,
    kCtrlTagLogo = 117,
    kCtrlTagSeparator = 118,
    kCtrlTagBandStrip = 119,
    kCtrlTagAirSlider = 120,
    kCtrlTagAirCornerKnob = 121,
    kCtrlTagAirCornerReadout = 122,
    kCtrlTagRideMeter = 123,
    kCtrlTagVoiceFloor = 124,
    kCtrlTagRideKnob = 125,
    kCtrlTagSaturationKnob = 126,
    kCtrlTagBeef = 127,
    kCtrlTagUpdatePill = 128,
    kCtrlTagSectionTitle = 200, // + column 0..5
    kCtrlTagSectionValue = 210, // + column; only 211, 212 and 213 exist
    kCtrlTagInputCaption = 220,
    kCtrlTagRideCaption = 224,
    kCtrlTagSaturationCaption = 225,
    kCtrlTagKnobLabel = 230, // + column; only 230, 233 and 234 exist
    kCtrlTagScrim = 240,
};

/// Control message carrying the slow input level (one 4-byte float, dB) to the input meter.
inline constexpr int kMsgTagInputLevel = 8001;

} // namespace brindlecot::ui
