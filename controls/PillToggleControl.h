// Rounded switch with a status dot and a text (ACTIVE/BYPASSED, ECO, HP, LP). A press flips the
// boolean parameter. "Inverted" pills light while the parameter is off (ACTIVE lights when not
// bypassed).
#pragma once

#include "controls/ParamBinding.h"
#include "editor/Theme.h"

namespace brindlecot::controls {

class PillToggleControl : public juce::Component
{
public:
    PillToggleControl(juce::RangedAudioParameter* parameter, juce::String offText, juce::String onText,
        bool inverted, const editor::Theme& theme);

    ParamBinding& binding() { return binding_; }
    bool isOn() const { return binding_.normalised() > 0.5f; }
    bool isLit() const { return isOn() != inverted_; }
    juce::String currentText() const { return isOn() ? onText_ : offText_; }

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;

private:
    ParamBinding binding_;
    juce::String offText_, onText_;
    bool inverted_;
    editor::TextStyle text_;
    float scale_;
    juce::Colour face_, frameOff_, frameOn_, dot_, dotOff_;
};

} // namespace brindlecot::controls
