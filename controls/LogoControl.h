// The logo picture, scaled into its rectangle. Ignores the mouse.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace brindlecot::controls {

class LogoControl : public juce::Component
{
public:
    explicit LogoControl(std::unique_ptr<juce::Drawable> picture);

    void paint(juce::Graphics& g) override;

private:
    std::unique_ptr<juce::Drawable> picture_;
};

} // namespace brindlecot::controls
