#include "controls/RingKnobControl.h"

namespace brindlecot::controls {

RingKnobControl::RingKnobControl(juce::RangedAudioParameter* parameter, Colours colours)
    : binding_(parameter, [this] { repaint(); })
    , colours_(colours)
{ }

void RingKnobControl::paint(juce::Graphics& g)
{
    const auto bounds = getLocalBounds().toFloat();
    const float cx = bounds.getCentreX();
    const float cy = bounds.getCentreY();
    const float radius = 0.5f * std::min(bounds.getWidth(), bounds.getHeight()) - kTrackWidth;
    const auto toRadians = [](float deg) { return juce::degreesToRadians(deg); };
    const float angle = kStartDegrees + (kEndDegrees - kStartDegrees) * binding_.normalised();

    const auto arc = [&](float fromDeg, float toDeg, juce::Colour colour) {
        juce::Path p;
        p.addCentredArc(cx, cy, radius, radius, 0.0f, toRadians(fromDeg), toRadians(toDeg), true);
        g.setColour(colour);
        g.strokePath(p, juce::PathStrokeType(kTrackWidth, juce::PathStrokeType::curved));
    };
    arc(kStartDegrees, kEndDegrees, colours_.ring);
    if (angle > kStartDegrees)
        arc(kStartDegrees, angle, colours_.accent);

    // The body sits four units inside the track; the pointer runs from 10 % to the body's edge.
    const float bodyRadius = radius - 4.0f;
    g.setColour(pressed_ ? colours_.pressed : colours_.body);
    g.fillEllipse(cx - bodyRadius, cy - bodyRadius, 2.0f * bodyRadius, 2.0f * bodyRadius);
    const float a = toRadians(angle);
    const float sx = std::sin(a), sy = -std::cos(a);
    g.setColour(colours_.pointer);
    g.drawLine(cx + sx * 0.1f * bodyRadius, cy + sy * 0.1f * bodyRadius, cx + sx * bodyRadius,
        cy + sy * bodyRadius, 2.5f);
}

void RingKnobControl::mouseDown(const juce::MouseEvent& e)
{
    pressed_ = true;
    dragValue_ = binding_.normalised();
    lastY_ = e.getPosition().y;
    binding_.beginGesture();
    repaint();
}

void RingKnobControl::mouseDrag(const juce::MouseEvent& e)
{
    const int y = e.getPosition().y;
    const float fine = e.mods.isShiftDown() ? 10.0f : 1.0f;
    dragValue_ = juce::jlimit(0.0f, 1.0f,
        dragValue_ + static_cast<float>(lastY_ - y) / (static_cast<float>(getHeight()) * kGearing * fine));
    lastY_ = y;
    binding_.setNormalisedInGesture(dragValue_);
}

void RingKnobControl::mouseUp(const juce::MouseEvent&)
{
    pressed_ = false;
    binding_.endGesture();
    repaint();
}

void RingKnobControl::mouseDoubleClick(const juce::MouseEvent&)
{
    binding_.setNormalisedAsGesture(binding_.defaultNormalised());
}

void RingKnobControl::mouseWheelMove(const juce::MouseEvent&, const juce::MouseWheelDetails& w)
{
    binding_.setNormalisedAsGesture(binding_.normalised() + 0.1f * w.deltaY / kGearing);
}

} // namespace brindlecot::controls
