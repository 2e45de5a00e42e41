#include "controls/ScrimControl.h"

namespace brindlecot::controls {

ScrimControl::ScrimControl(juce::RangedAudioParameter* softBypass, juce::Colour colour)
    : binding_(softBypass, [this] { repaint(); })
    , colour_(colour)
{
    setInterceptsMouseClicks(false, false);
}

void ScrimControl::paint(juce::Graphics& g)
{
    if (veiling())
        g.fillAll(colour_);
}

} // namespace brindlecot::controls
