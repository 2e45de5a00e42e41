// A parameter's value text with its unit ("1000.0 Hz", "45 %"), redrawn when the value changes.
#pragma once

#include "controls/ParamBinding.h"
#include "editor/Theme.h"

namespace brindlecot::controls {

class CaptionControl : public juce::Component
{
public:
    CaptionControl(juce::RangedAudioParameter* parameter, editor::TextStyle style);

    ParamBinding& binding() { return binding_; }
    juce::String text() const;
    void paint(juce::Graphics& g) override;

private:
    ParamBinding binding_;
    editor::TextStyle style_;
};

} // namespace brindlecot::controls
