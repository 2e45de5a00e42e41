#include "controls/TextControl.h"

namespace brindlecot::controls {

TextControl::TextControl(juce::String text, editor::TextStyle style)
    : text_(std::move(text))
    , style_(std::move(style))
{
    setInterceptsMouseClicks(false, false);
}

void TextControl::setText(const juce::String& text)
{
    if (text == text_)
        return;
    text_ = text;
    repaint();
}

void TextControl::setStyle(const editor::TextStyle& style)
{
    style_ = style;
    repaint();
}

void TextControl::paint(juce::Graphics& g)
{
    style_.draw(g, text_, getLocalBounds().toFloat());
}

} // namespace brindlecot::controls
