#include "controls/PanelControl.h"

namespace brindlecot::controls {

PanelControl::PanelControl(juce::Colour colour)
    : colour_(colour)
{
    setInterceptsMouseClicks(false, false);
    setOpaque(colour.isOpaque());
}

void PanelControl::paint(juce::Graphics& g)
{
    g.fillAll(colour_);
}

} // namespace brindlecot::controls
