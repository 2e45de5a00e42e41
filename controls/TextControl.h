// Static or idle-fed text in one style (title, section titles, labels, status line, chevrons,
// dB scale numbers). Ignores the mouse.
#pragma once

#include "editor/Theme.h"

namespace brindlecot::controls {

class TextControl : public juce::Component
{
public:
    TextControl(juce::String text, editor::TextStyle style);

    void setText(const juce::String& text);
    const juce::String& text() const { return text_; }
    void setStyle(const editor::TextStyle& style);
    void paint(juce::Graphics& g) override;

private:
    juce::String text_;
    editor::TextStyle style_;
};

} // namespace brindlecot::controls
