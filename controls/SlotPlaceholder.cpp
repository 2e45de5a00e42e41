#include "controls/SlotPlaceholder.h"

namespace brindlecot::controls {

SlotPlaceholder::SlotPlaceholder(const juce::String& name)
    : juce::Component(name)
{
    setInterceptsMouseClicks(false, true);
}

void SlotPlaceholder::fill(std::unique_ptr<juce::Component> content)
{
    content_ = std::move(content);
    if (content_ != nullptr) {
        addAndMakeVisible(*content_);
        content_->setBounds(getLocalBounds());
    }
}

void SlotPlaceholder::resized()
{
    if (content_ != nullptr)
        content_->setBounds(getLocalBounds());
}

} // namespace brindlecot::controls
