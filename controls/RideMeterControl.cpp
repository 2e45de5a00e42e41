#include "controls/RideMeterControl.h"

#include "ui/Readouts.h"

namespace brindlecot::controls {

using editor::toColour;
using ui::ink;

RideMeterControl::RideMeterControl(const editor::Theme& theme)
    : readoutHeight_(20.0f * theme.scale)
    , barWidth_(16.0f * theme.scale)
    , text_(theme.value)
    , track_(toColour(ink(18)))
    , boost_(theme.accent)
    , cut_(toColour(ui::palette::rideCut))
    , centre_(toColour(ink(107)))
{
    setInterceptsMouseClicks(false, false);
}

void RideMeterControl::setValue(float value)
{
    const float v = std::isfinite(value) ? juce::jlimit(0.0f, 1.0f, value) : 0.5f;
    if (v == value_)
        return;
    value_ = v;
    repaint();
}

juce::String RideMeterControl::readoutText() const
{
    return ui::rideReadout(value_, kRangeDb);
}

void RideMeterControl::paint(juce::Graphics& g)
{
    const auto b = getLocalBounds().toFloat();
    const auto bar = juce::Rectangle<float>::leftTopRightBottom(b.getCentreX() - barWidth_ / 2.0f,
        b.getY() + readoutHeight_, b.getCentreX() + barWidth_ / 2.0f, b.getBottom());
    const float m = bar.getCentreY();
    const float h = 0.5f * bar.getHeight();
    g.setColour(track_);
    g.fillRect(bar);
    const float r = juce::jlimit(-1.0f, 1.0f, ui::rideGainDb(value_, kRangeDb) / kRangeDb);
    if (std::abs(r) > 0.001f) {
        g.setColour(r > 0.0f ? boost_ : cut_);
        if (r > 0.0f)
            g.fillRect(juce::Rectangle<float>::leftTopRightBottom(bar.getX(), m - r * h, bar.getRight(), m));
        else
            g.fillRect(juce::Rectangle<float>::leftTopRightBottom(bar.getX(), m, bar.getRight(), m - r * h));
    }
    g.setColour(centre_);
    g.fillRect(bar.getX() - 2.0f, m - 0.5f, bar.getWidth() + 4.0f, 1.0f);
    text_.draw(g, readoutText(), b.withHeight(readoutHeight_));
}

} // namespace brindlecot::controls
