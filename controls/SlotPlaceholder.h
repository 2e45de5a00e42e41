// An empty, named place in the layout that another editor piece fills in later (the preset bar,
// the menu button, the update pill). It draws nothing and takes no clicks until a child is added.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace brindlecot::controls {

class SlotPlaceholder : public juce::Component
{
public:
    explicit SlotPlaceholder(const juce::String& name);

    /// Puts a component into the slot; it fills the slot's bounds from then on.
    void fill(std::unique_ptr<juce::Component> content);
    juce::Component* content() const { return content_.get(); }
    void resized() override;

private:
    std::unique_ptr<juce::Component> content_;
};

} // namespace brindlecot::controls
