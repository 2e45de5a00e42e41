#include "controls/CaptionControl.h"

#include "engine/Parameters.h"

namespace brindlecot::controls {

CaptionControl::CaptionControl(juce::RangedAudioParameter* parameter, editor::TextStyle style)
    : binding_(parameter, [this] { repaint(); })
    , style_(std::move(style))
{
    setInterceptsMouseClicks(false, false);
}

juce::String CaptionControl::text() const
{
    const int index = binding_.index();
    if (index < 0 || index >= kNumParams)
        return {};
    return juce::String::fromUTF8(formatValueWithUnit(paramSpec(index), binding_.plain()).c_str());
}

void CaptionControl::paint(juce::Graphics& g)
{
    style_.draw(g, text(), getLocalBounds().toFloat());
}

} // namespace brindlecot::controls
