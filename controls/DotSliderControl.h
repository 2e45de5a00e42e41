// Vertical amount slider: a thin track filled in the accent colour up to a round handle.
// Relative vertical drag with gearing 4 over the track length, double-click to default.
#pragma once

#include "controls/ParamBinding.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace brindlecot::controls {

class DotSliderControl : public juce::Component
{
public:
    struct Colours
    {
        juce::Colour track, fill, handle, pressed, outline;
    };

    DotSliderControl(
        juce::RangedAudioParameter* parameter, Colours colours, float handleSize, float trackSize);

    ParamBinding& binding() { return binding_; }
    /// Track span (local y of the top and bottom ends of the handle's travel).
    juce::Range<float> travel() const;

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseDoubleClick(const juce::MouseEvent& e) override;
    void mouseWheelMove(const juce::MouseEvent& e, const juce::MouseWheelDetails& w) override;

    static constexpr float kGearing = 4.0f;

private:
    ParamBinding binding_;
    Colours colours_;
    float handleSize_;
    float trackSize_;
    bool pressed_ = false;
    float dragValue_ = 0.0f;
    int lastY_ = 0;
};

} // namespace brindlecot::controls
