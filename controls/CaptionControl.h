// A parameter's value text with its unit ("1000.0 Hz", "45 %"), redrawn when the value changes.
// A click opens a text entry over the caption: a number typed there (unit optional) is clamped
// into the parameter's range and sent to the host as one gesture; anything else changes nothing.
#pragma once

#include "controls/ParamBinding.h"
#include "editor/Theme.h"

#include <memory>

namespace brindlecot::controls {

class CaptionControl : public juce::Component
{
public:
    CaptionControl(juce::RangedAudioParameter* parameter, editor::TextStyle style);

    ParamBinding& binding() { return binding_; }
    juce::String text() const;
    /// The text entry while it is open, else nullptr.
    juce::TextEditor* entry() const { return entry_.get(); }
    void openEntry();

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;

private:
    void finishEntry(bool commit);

    ParamBinding binding_;
    editor::TextStyle style_;
    std::unique_ptr<juce::TextEditor> entry_;
};

} // namespace brindlecot::controls
