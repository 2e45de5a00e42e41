// The filter strip at the bottom: the pass band between the high-pass and low-pass corners on a
// logarithmic scale (left half 20..1000 Hz, right half 1..20 kHz), with a draggable handle each.
// A press picks the nearest handle and jumps it to the pointer.
#pragma once

#include "controls/ParamBinding.h"
#include "editor/Theme.h"
#include "ui/BandStripRules.h"

namespace brindlecot::controls {

class BandStripControl : public juce::Component
{
public:
    BandStripControl(juce::RangedAudioParameter* highPass, juce::RangedAudioParameter* lowPass,
        juce::RangedAudioParameter* highPassOn, juce::RangedAudioParameter* lowPassOn,
        const editor::Theme& theme);

    ParamBinding& binding(int handle) { return handle == 0 ? highPass_ : lowPass_; }
    float position(int handle) const;
    ui::BandStripGeometry geometry() const;
    int draggedHandle() const { return dragHandle_; }

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;

private:
    ui::BandRange range(int handle) const;
    void segment(juce::Graphics& g, float xa, float xb) const;

    ParamBinding highPass_, lowPass_;
    juce::RangedAudioParameter* highPassOn_;
    juce::RangedAudioParameter* lowPassOn_;
    juce::Colour track_, band_, handleOn_, handleOff_;
    float scale_;
    int dragHandle_ = -1;
};

} // namespace brindlecot::controls
