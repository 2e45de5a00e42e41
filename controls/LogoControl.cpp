#include "controls/LogoControl.h"

namespace brindlecot::controls {

LogoControl::LogoControl(std::unique_ptr<juce::Drawable> picture)
    : picture_(std::move(picture))
{
    setInterceptsMouseClicks(false, false);
}

void LogoControl::paint(juce::Graphics& g)
{
    if (picture_ != nullptr)
        picture_->drawWithin(g, getLocalBounds().toFloat(), juce::RectanglePlacement::centred, 1.0f);
}

} // namespace brindlecot::controls
