// Ride meter: a centred bar that grows up (boost, accent) or down (cut) from a centre line by the
// gain the vocal rider applies, with its readout "+1.5 dB" above. Ignores the mouse.
#pragma once

#include "editor/Theme.h"

namespace brindlecot::controls {

class RideMeterControl : public juce::Component
{
public:
    explicit RideMeterControl(const editor::Theme& theme);

    /// 0..1, 0.5 = no ride. Repaints only on change.
    void setValue(float value);
    float value() const { return value_; }
    juce::String readoutText() const;

    void paint(juce::Graphics& g) override;

    static constexpr float kRangeDb = 12.0f;

private:
    float readoutHeight_, barWidth_;
    editor::TextStyle text_;
    juce::Colour track_, boost_, cut_, centre_;
    float value_ = 0.5f;
};

} // namespace brindlecot::controls
