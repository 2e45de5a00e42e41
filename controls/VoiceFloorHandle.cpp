#include "controls/VoiceFloorHandle.h"

namespace brindlecot::controls {

using editor::toColour;

VoiceFloorHandle::VoiceFloorHandle(juce::RangedAudioParameter* parameter, const editor::Theme& theme)
    : binding_(parameter, [this] { repaint(); })
    , text_(theme.caption)
    , active_(theme.accent)
    , off_(toColour(ui::palette::floorOff))
    , labelBackground_(toColour(ui::palette::body))
    , scale_(theme.scale)
{
    scaleDb_.paramMinDb = binding_.minimum();
    scaleDb_.paramMaxDb = binding_.maximum();
}

ui::Rect VoiceFloorHandle::localBar() const
{
    const auto b = barInParent_ - getPosition().toFloat();
    return {b.getX(), b.getY(), b.getRight(), b.getBottom()};
}

bool VoiceFloorHandle::hitTest(int x, int y)
{
    const auto c = getLocalBounds().toFloat();
    return ui::voiceFloorHit({c.getX(), c.getY(), c.getRight(), c.getBottom()}, localBar(),
        static_cast<float>(x), static_cast<float>(y));
}

void VoiceFloorHandle::paint(juce::Graphics& g)
{
    const ui::Rect bar = localBar();
    const float v = binding_.plain();
    const float y = ui::voiceFloorY(bar, scaleDb_, v);
    const bool off = ui::voiceFloorOff(scaleDb_, v);
    g.setColour(off ? off_ : active_);

    // Dashes 3 long every 6, the last one cut at the end.
    const float x0 = bar.left - 2.0f * scale_;
    const float x1 = bar.right + 2.0f * scale_;
    for (float x = x0; x < x1; x += 6.0f * scale_)
        g.fillRect(juce::Rectangle<float>(x, y - 0.5f * scale_, std::min(3.0f * scale_, x1 - x), scale_));

    juce::Path tri;
    tri.addTriangle(bar.right + 3.0f * scale_, y, bar.right + 15.8f * scale_, y - 8.0f * scale_,
        bar.right + 15.8f * scale_, y + 8.0f * scale_);
    g.fillPath(tri);

    if (labelShown()) {
        const auto strip = juce::Rectangle<float>(0.0f, 0.0f, static_cast<float>(getWidth()), bar.top);
        g.setColour(labelBackground_);
        g.fillRect(strip);
        text_.draw(g, ui::voiceFloorLabel(scaleDb_, v), strip);
    }
}

void VoiceFloorHandle::setFromY(float y)
{
    binding_.setNormalisedInGesture(binding_.toNormalised(ui::voiceFloorFromY(localBar(), scaleDb_, y)));
}

void VoiceFloorHandle::mouseDown(const juce::MouseEvent& e)
{
    dragging_ = true;
    binding_.beginGesture();
    setFromY(e.position.y);
}

void VoiceFloorHandle::mouseDrag(const juce::MouseEvent& e)
{
    if (dragging_)
        setFromY(e.position.y);
}

void VoiceFloorHandle::mouseUp(const juce::MouseEvent&)
{
    dragging_ = false;
    binding_.endGesture();
    repaint();
}

void VoiceFloorHandle::mouseEnter(const juce::MouseEvent&)
{
    hovering_ = true;
    repaint();
}

void VoiceFloorHandle::mouseExit(const juce::MouseEvent&)
{
    hovering_ = false;
    repaint();
}

} // namespace brindlecot::controls
