#include "controls/DotSliderControl.h"

namespace brindlecot::controls {

DotSliderControl::DotSliderControl(
    juce::RangedAudioParameter* parameter, Colours colours, float handleSize, float trackSize)
    : binding_(parameter, [this] { repaint(); })
    , colours_(colours)
    , handleSize_(handleSize)
    , trackSize_(trackSize)
{ }

juce::Range<float> DotSliderControl::travel() const
{
    // The handle stays inside the control: its centre travels half a handle from either end.
    const float half = 0.5f * handleSize_;
    return {half, std::max(half, static_cast<float>(getHeight()) - half)};
}

void DotSliderControl::paint(juce::Graphics& g)
{
    const auto range = travel();
    const float cx = 0.5f * static_cast<float>(getWidth());
    const float t = 0.5f * trackSize_;
    const float yValue = range.getEnd() - range.getLength() * binding_.normalised();

    g.setColour(colours_.track);
    g.fillRoundedRectangle(cx - t, range.getStart(), trackSize_, range.getLength(), t);
    if (range.getEnd() - yValue > 0.0f) {
        g.setColour(colours_.fill);
        g.fillRoundedRectangle(cx - t, yValue, trackSize_, range.getEnd() - yValue, t);
    }
    const float d = std::max(1.0f, handleSize_);
    const juce::Rectangle<float> handle(cx - d / 2.0f, yValue - d / 2.0f, d, d);
    g.setColour(pressed_ ? colours_.pressed : colours_.handle);
    g.fillEllipse(handle);
    g.setColour(colours_.outline);
    g.drawEllipse(handle, 1.5f);
}

void DotSliderControl::mouseDown(const juce::MouseEvent& e)
{
    pressed_ = true;
    dragValue_ = binding_.normalised();
    lastY_ = e.getPosition().y;
    binding_.beginGesture();
    repaint();
}

void DotSliderControl::mouseDrag(const juce::MouseEvent& e)
{
    const int y = e.getPosition().y;
    const float fine = e.mods.isShiftDown() ? 10.0f : 1.0f;
    const float length = std::max(1.0f, travel().getLength());
    dragValue_
        = juce::jlimit(0.0f, 1.0f, dragValue_ + static_cast<float>(lastY_ - y) / (length * kGearing * fine));
    lastY_ = y;
    binding_.setNormalisedInGesture(dragValue_);
}

void DotSliderControl::mouseUp(const juce::MouseEvent&)
{
    pressed_ = false;
    binding_.endGesture();
    repaint();
}

void DotSliderControl::mouseDoubleClick(const juce::MouseEvent&)
{
    binding_.setNormalisedAsGesture(binding_.defaultNormalised());
}

void DotSliderControl::mouseWheelMove(const juce::MouseEvent&, const juce::MouseWheelDetails& w)
{
    binding_.setNormalisedAsGesture(binding_.normalised() + 0.1f * w.deltaY / kGearing);
}

} // namespace brindlecot::controls
