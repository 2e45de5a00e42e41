#include "controls/BeefSelectControl.h"

namespace brindlecot::controls {

using editor::toColour;

BeefSelectControl::BeefSelectControl(juce::RangedAudioParameter* parameter, const editor::Theme& theme)
    : binding_(parameter, [this] { repaint(); })
    , accent_(theme.accent)
    , label_(theme.label)
    , unselected_(theme.letter.withColour(toColour(ui::palette::white)))
    , selected_(theme.letter.withColour(toColour(ui::palette::black)))
    , boxSize_(12.0f * theme.scale)
    , cornerRadius_(2.0f * theme.scale)
{ }

juce::Rectangle<float> BeefSelectControl::lowBox() const
{
    const auto b = getLocalBounds().toFloat();
    return {b.getX(), b.getCentreY() - boxSize_ / 2.0f, boxSize_, boxSize_};
}

juce::Rectangle<float> BeefSelectControl::highBox() const
{
    const auto b = getLocalBounds().toFloat();
    return {b.getRight() - boxSize_, b.getCentreY() - boxSize_ / 2.0f, boxSize_, boxSize_};
}

void BeefSelectControl::paint(juce::Graphics& g)
{
    label_.draw(g, "BEEF", getLocalBounds().toFloat());
    const bool high = highSelected();
    const auto box = [&](juce::Rectangle<float> r, const char* letter, bool selected) {
        g.setColour(accent_);
        if (selected) {
            g.fillRoundedRectangle(r, cornerRadius_);
            selected_.draw(g, letter, r);
        } else {
            g.drawRoundedRectangle(r.reduced(0.5f), cornerRadius_, 1.0f);
            unselected_.draw(g, letter, r);
        }
    };
    box(lowBox(), "L", !high);
    box(highBox(), "H", high);
}

void BeefSelectControl::mouseDown(const juce::MouseEvent& e)
{
    const auto p = e.position;
    int choice = -1;
    if (lowBox().contains(p))
        choice = 0;
    else if (highBox().contains(p))
        choice = 1;
    // A press between the boxes or on the selected box informs nobody.
    if (choice < 0 || choice == (highSelected() ? 1 : 0))
        return;
    binding_.setNormalisedAsGesture(static_cast<float>(choice));
}

} // namespace brindlecot::controls
