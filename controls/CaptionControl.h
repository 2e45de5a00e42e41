// A parameter's value text with its unit ("1000.0 Hz", "45 %"), redrawn when the value changes.
// A click opens a text entry over the caption: a number typed there (unit optional) is clamped
// into the parameter's range and sent to the host as one gesture; anything else changes nothing.
#pragma once

#include "controls/ParamBinding.h"
#include "controls/TextEntry.h"
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
    juce::TextEditor* entry() const { return entry_.editor(); }
    void openEntry();

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;

private:
    void entered(bool commit, const std::string& typed);

    ParamBinding binding_;
    editor::TextStyle style_;
    TextEntry entry_;
};

} // namespace brindlecot::controls
