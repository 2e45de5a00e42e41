#include "controls/ReductionMeterControl.h"

#include "ui/Readouts.h"

namespace brindlecot::controls {

using editor::toColour;
using ui::ink;

ReductionMeterControl::ReductionMeterControl(float zeroDb, float fullDb, const editor::Theme& theme)
    : zeroDb_(zeroDb)
    , fullDb_(fullDb)
    , barWidth_(16.0f * theme.scale)
    , readoutHeight_(20.0f * theme.scale)
    , readout_(theme.caption)
    , track_(toColour(ink(18)))
    , fill_(toColour(ui::palette::reductionFill))
    , tick_(toColour(ink(56)))
{ }

void ReductionMeterControl::setValue(float value)
{
    const float v = std::isfinite(value) ? juce::jlimit(0.0f, 1.0f, value) : 0.0f;
    if (v == value_)
        return;
    value_ = v;
    repaint();
}

juce::String ReductionMeterControl::readoutText() const
{
    return ui::reductionReadout(value_, zeroDb_, fullDb_);
}

void ReductionMeterControl::paint(juce::Graphics& g)
{
    const auto b = getLocalBounds().toFloat();
    auto bar = juce::Rectangle<float>::leftTopRightBottom(
        b.getX(), b.getY(), b.getRight(), b.getBottom() - readoutHeight_);
    if (barWidth_ > 0.0f && barWidth_ < b.getWidth())
        bar = bar.withSizeKeepingCentre(barWidth_, bar.getHeight());
    g.setColour(track_);
    g.fillRect(bar);
    const float filled = bar.getHeight() * value_;
    if (filled > 0.5f) {
        g.setColour(fill_);
        g.fillRect(bar.withHeight(filled));
    }
    g.setColour(tick_);
    for (float f : {0.25f, 0.5f, 0.75f})
        g.fillRect(bar.getX(), bar.getY() + bar.getHeight() * f - 0.5f, bar.getWidth(), 1.0f);
    g.drawRect(bar, 1.0f);
    readout_.draw(g, readoutText(),
        juce::Rectangle<float>::leftTopRightBottom(
            b.getX(), b.getBottom() - readoutHeight_, b.getRight(), b.getBottom()));
}

} // namespace brindlecot::controls
