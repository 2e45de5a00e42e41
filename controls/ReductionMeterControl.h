// Gain-reduction meter for de-bleed and de-feedback: the bar fills downwards from the top with
// the amount of reduction; readout "--" or the reduction in dB below the bar.
#pragma once

#include "editor/Theme.h"

namespace brindlecot::controls {

class ReductionMeterControl : public juce::Component
{
public:
    ReductionMeterControl(float zeroDb, float fullDb, const editor::Theme& theme);

    /// Normalised reduction 0..1. Repaints only on change.
    void setValue(float value);
    float value() const { return value_; }
    juce::String readoutText() const;

    void paint(juce::Graphics& g) override;

private:
    float zeroDb_, fullDb_;
    float barWidth_, readoutHeight_;
    editor::TextStyle readout_;
    juce::Colour track_, fill_, tick_;
    float value_ = 0.0f;
};

} // namespace brindlecot::controls
