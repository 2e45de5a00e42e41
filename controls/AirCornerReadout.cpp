#include "controls/AirCornerReadout.h"

#include "ui/Readouts.h"

namespace brindlecot::controls {

AirCornerReadout::AirCornerReadout(juce::RangedAudioParameter* airCorner, juce::RangedAudioParameter* lowPass,
    juce::RangedAudioParameter* lowPassOn, double sampleRate, const editor::Theme& theme)
    : airCorner_(airCorner, [this] { repaint(); })
    , lowPass_(lowPass, [this] { repaint(); })
    , lowPassOn_(lowPassOn, [this] { repaint(); })
    , sampleRate_(sampleRate)
    , style_(theme.caption)
{
    setInterceptsMouseClicks(false, false);
}

juce::String AirCornerReadout::text() const
{
    return ui::airCornerReadout(
        ui::airCornerHz(sampleRate_, airCorner_.plain(), lowPass_.plain(), lowPassOn_.plain() >= 0.5f));
}

void AirCornerReadout::paint(juce::Graphics& g)
{
    style_.draw(g, text(), getLocalBounds().toFloat());
}

} // namespace brindlecot::controls
