// Veil over the editor body while "Soft Bypass" is on. Ignores the mouse: the controls under it
// stay usable.
#pragma once

#include "controls/ParamBinding.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace brindlecot::controls {

class ScrimControl : public juce::Component
{
public:
    ScrimControl(juce::RangedAudioParameter* softBypass, juce::Colour colour);

    bool veiling() const { return binding_.normalised() > 0.5f; }
    void paint(juce::Graphics& g) override;

private:
    ParamBinding binding_;
    juce::Colour colour_;
};

} // namespace brindlecot::controls
