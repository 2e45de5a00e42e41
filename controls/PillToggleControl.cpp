#include "controls/PillToggleControl.h"

namespace brindlecot::controls {

using editor::toColour;
using ui::ink;

PillToggleControl::PillToggleControl(juce::RangedAudioParameter* parameter, juce::String offText,
    juce::String onText, bool inverted, const editor::Theme& theme)
    : binding_(parameter, [this] { repaint(); })
    , offText_(std::move(offText))
    , onText_(std::move(onText))
    , inverted_(inverted)
    , text_(theme.section)
    , scale_(theme.scale)
    , face_(toColour(ui::palette::body))
    , frameOff_(toColour(ink(56)))
    , frameOn_(toColour(ink(107)))
    , dot_(theme.accent)
    , dotOff_(toColour(ink(56)))
{ }

void PillToggleControl::paint(juce::Graphics& g)
{
    const auto b = getLocalBounds().toFloat();
    const float r = 0.5f * b.getHeight();
    const bool lit = isLit();
    g.setColour(face_);
    g.fillRoundedRectangle(b, r);
    g.setColour(lit ? frameOn_ : frameOff_);
    g.drawRoundedRectangle(b.reduced(0.5f), r - 0.5f, 1.0f);
    const float d = 5.0f * scale_;
    const float dotLeft = b.getX() + 0.6f * r;
    g.setColour(lit ? dot_ : dotOff_);
    g.fillEllipse(dotLeft, b.getCentreY() - d / 2.0f, d, d);
    text_.draw(g, currentText(),
        juce::Rectangle<float>::leftTopRightBottom(
            dotLeft + d, b.getY(), b.getRight() - 0.6f * r, b.getBottom()));
}

void PillToggleControl::mouseDown(const juce::MouseEvent&)
{
    binding_.setNormalisedAsGesture(isOn() ? 0.0f : 1.0f);
}

} // namespace brindlecot::controls
