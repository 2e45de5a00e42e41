#include "controls/BandStripControl.h"

namespace brindlecot::controls {

using editor::toColour;
using ui::ink;

BandStripControl::BandStripControl(juce::RangedAudioParameter* highPass, juce::RangedAudioParameter* lowPass,
    juce::RangedAudioParameter* highPassOn, juce::RangedAudioParameter* lowPassOn, const editor::Theme& theme)
    : highPass_(highPass, [this] { repaint(); })
    , lowPass_(lowPass, [this] { repaint(); })
    , highPassOn_(highPassOn)
    , lowPassOn_(lowPassOn)
    , track_(toColour(ink(18)))
    , band_(theme.accent)
    , handleOn_(toColour(ink()))
    , handleOff_(toColour(ink(56)))
    , scale_(theme.scale)
{ }

ui::BandRange BandStripControl::range(int handle) const
{
    const auto& b = handle == 0 ? highPass_ : lowPass_;
    return {b.minimum(), b.maximum()};
}

float BandStripControl::position(int handle) const
{
    const auto& b = handle == 0 ? highPass_ : lowPass_;
    return ui::bandPosition(handle, range(handle), b.plain());
}

ui::BandStripGeometry BandStripControl::geometry() const
{
    const auto b = getLocalBounds().toFloat();
    return ui::bandStripGeometry({b.getX(), b.getY(), b.getRight(), b.getBottom()}, scale_);
}

void BandStripControl::segment(juce::Graphics& g, float xa, float xb) const
{
    // A 6-unit gap in the middle marks 1 kHz, where the two halves meet.
    const auto geo = geometry();
    const float mid = 0.5f * (geo.xL + geo.xR);
    const float gapL = mid - 3.0f * scale_;
    const float gapR = mid + 3.0f * scale_;
    const float top = geo.cy - 1.5f * scale_;
    const float h = 3.0f * scale_;
    if (xa < gapL && std::min(xb, gapL) > xa)
        g.fillRect(juce::Rectangle<float>(xa, top, std::min(xb, gapL) - xa, h));
    if (xb > gapR && xb > std::max(xa, gapR))
        g.fillRect(juce::Rectangle<float>(std::max(xa, gapR), top, xb - std::max(xa, gapR), h));
}

void BandStripControl::paint(juce::Graphics& g)
{
    const auto geo = geometry();
    g.setColour(track_);
    segment(g, geo.xL, geo.xR);
    const bool hpOn = highPassOn_ != nullptr && highPassOn_->getValue() >= 0.5f;
    const bool lpOn = lowPassOn_ != nullptr && lowPassOn_->getValue() >= 0.5f;
    const float p0 = position(0), p1 = position(1);
    const auto span = ui::bandSpan(p0, p1, hpOn, lpOn);
    if (span.to > span.from) {
        g.setColour(band_);
        segment(g, geo.x(span.from), geo.x(span.to));
    }
    const float d = 12.0f * scale_;
    g.setColour(hpOn ? handleOn_ : handleOff_);
    g.fillEllipse(geo.x(p0) - d / 2.0f, geo.cy - d / 2.0f, d, d);
    g.setColour(lpOn ? handleOn_ : handleOff_);
    g.fillEllipse(geo.x(p1) - d / 2.0f, geo.cy - d / 2.0f, d, d);
}

void BandStripControl::mouseDown(const juce::MouseEvent& e)
{
    dragHandle_ = ui::nearestBandHandle(geometry(), e.position.x, position(0), position(1));
    binding(dragHandle_).beginGesture();
    mouseDrag(e);
}

void BandStripControl::mouseDrag(const juce::MouseEvent& e)
{
    if (dragHandle_ < 0)
        return;
    auto& b = binding(dragHandle_);
    const double hz = ui::bandFrequencyAt(geometry(), dragHandle_, range(dragHandle_), e.position.x);
    b.setNormalisedInGesture(b.toNormalised(static_cast<float>(hz)));
}

void BandStripControl::mouseUp(const juce::MouseEvent&)
{
    if (dragHandle_ >= 0)
        binding(dragHandle_).endGesture();
    dragHandle_ = -1;
}

} // namespace brindlecot::controls
