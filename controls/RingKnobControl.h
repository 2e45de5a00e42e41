// Round knob with a full-range background ring and an accent value arc from -135 to +135 degrees.
// Vertical drag with gearing 4 (the whole range takes four knob heights), double-click to default.
#pragma once

#include "controls/ParamBinding.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace brindlecot::controls {

class RingKnobControl : public juce::Component
{
public:
    struct Colours
    {
        juce::Colour body, pressed, accent, pointer, ring;
    };

    RingKnobControl(juce::RangedAudioParameter* parameter, Colours colours);

    ParamBinding& binding() { return binding_; }

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseDoubleClick(const juce::MouseEvent& e) override;
    void mouseWheelMove(const juce::MouseEvent& e, const juce::MouseWheelDetails& w) override;

    static constexpr float kStartDegrees = -135.0f;
    static constexpr float kEndDegrees = 135.0f;
    static constexpr float kGearing = 4.0f;
    static constexpr float kTrackWidth = 2.0f; // absolute units

private:
    ParamBinding binding_;
    Colours colours_;
    bool pressed_ = false;
    float dragValue_ = 0.0f;
    int lastY_ = 0;
};

} // namespace brindlecot::controls
