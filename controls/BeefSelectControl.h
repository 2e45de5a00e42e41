// Two-way Low/High selector for "BEEF Knob": "BEEF" across the control with an L box at the left
// and an H box at the right; the selected box is filled in the accent colour.
#pragma once

#include "controls/ParamBinding.h"
#include "editor/Theme.h"

namespace brindlecot::controls {

class BeefSelectControl : public juce::Component
{
public:
    BeefSelectControl(juce::RangedAudioParameter* parameter, const editor::Theme& theme);

    ParamBinding& binding() { return binding_; }
    bool highSelected() const { return binding_.normalised() >= 0.5f; }
    juce::Rectangle<float> lowBox() const;
    juce::Rectangle<float> highBox() const;

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;

private:
    ParamBinding binding_;
    juce::Colour accent_;
    editor::TextStyle label_, unselected_, selected_;
    float boxSize_, cornerRadius_;
};

} // namespace brindlecot::controls
