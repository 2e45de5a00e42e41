// Prints the frequency at which the air stage acts ("7.7 kHz"), following "Air Corner", the
// low-pass corner and its switch. Ignores the mouse.
#pragma once

#include "controls/ParamBinding.h"
#include "editor/Theme.h"

namespace brindlecot::controls {

class AirCornerReadout : public juce::Component
{
public:
    AirCornerReadout(juce::RangedAudioParameter* airCorner, juce::RangedAudioParameter* lowPass,
        juce::RangedAudioParameter* lowPassOn, double sampleRate, const editor::Theme& theme);

    juce::String text() const;
    void paint(juce::Graphics& g) override;

private:
    ParamBinding airCorner_, lowPass_, lowPassOn_;
    double sampleRate_;
    editor::TextStyle style_;
};

} // namespace brindlecot::controls
