#include "controls/CornerScaleControl.h"

#include "editor/Theme.h"
#include "ui/Layout.h"
#include "ui/Readouts.h"

namespace brindlecot::controls {

CornerScaleControl::CornerScaleControl(
    std::function<float()> currentScale, std::function<void(float)> resizeTo)
    : currentScale_(std::move(currentScale))
    , resizeTo_(std::move(resizeTo))
{
    setMouseCursor(juce::MouseCursor::BottomRightCornerResizeCursor);
}

void CornerScaleControl::paint(juce::Graphics& g)
{
    const auto b = getLocalBounds().toFloat();
    juce::Path p;
    p.addTriangle(b.getX(), b.getBottom(), b.getRight(), b.getY(), b.getRight(), b.getBottom());
    g.setColour(editor::toColour(hover_ ? ui::palette::gripHover : ui::palette::gripIdle));
    g.fillPath(p);
}

void CornerScaleControl::mouseDown(const juce::MouseEvent&)
{
    startWidth_ = std::trunc(ui::kCanvasWidth * currentScale_());
}

void CornerScaleControl::mouseDrag(const juce::MouseEvent& e)
{
    // The offset from the press is in screen pixels, which already include the current scale; the
    // larger of the two directions drives the size.
    const auto d = e.getOffsetFromDragStart();
    const float k = ui::gripScale(startWidth_, static_cast<float>(std::max(d.x, d.y)));
    if (std::abs(k - currentScale_()) > 1e-6f)
        resizeTo_(k);
}

void CornerScaleControl::mouseDoubleClick(const juce::MouseEvent&)
{
    resizeTo_(1.0f);
}

void CornerScaleControl::mouseEnter(const juce::MouseEvent&)
{
    hover_ = true;
    repaint();
}

void CornerScaleControl::mouseExit(const juce::MouseEvent&)
{
    hover_ = false;
    repaint();
}

} // namespace brindlecot::controls
