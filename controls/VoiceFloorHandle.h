// Pointer beside the input meter that sets "Voice Floor": a dashed line across the bar and a
// triangle right of it. It takes the pointer only right of the bar; presses on and left of the bar
// go to the input meter's target editing underneath.
#pragma once

#include "controls/ParamBinding.h"
#include "editor/Theme.h"
#include "ui/VoiceFloorRules.h"

namespace brindlecot::controls {

class VoiceFloorHandle : public juce::Component
{
public:
    /// barBounds: the input meter's bar in this control's parent coordinates.
    VoiceFloorHandle(juce::RangedAudioParameter* parameter, const editor::Theme& theme);

    ParamBinding& binding() { return binding_; }
    void setBar(juce::Rectangle<float> barInParent) { barInParent_ = barInParent; }
    ui::Rect localBar() const;
    bool labelShown() const { return dragging_ || hovering_; }

    bool hitTest(int x, int y) override;
    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;

private:
    void setFromY(float y);

    ParamBinding binding_;
    ui::VoiceFloorScale scaleDb_;
    juce::Rectangle<float> barInParent_;
    editor::TextStyle text_;
    juce::Colour active_, off_, labelBackground_;
    float scale_;
    bool dragging_ = false;
    bool hovering_ = false;
};

} // namespace brindlecot::controls
