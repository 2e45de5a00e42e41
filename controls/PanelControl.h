// A solid rectangle (body panel, separator, bar backgrounds, ticks). Ignores the mouse.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace brindlecot::controls {

class PanelControl : public juce::Component
{
public:
    explicit PanelControl(juce::Colour colour);

    void paint(juce::Graphics& g) override;

private:
    juce::Colour colour_;
};

} // namespace brindlecot::controls
