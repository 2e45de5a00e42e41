// The small orange pill in the title row, shown only while the update check knows of a newer
// version: "<version> AVAILABLE", right-aligned in its rectangle, sized to its text, opening the
// download page when clicked. It polls the check's change counter at every idle tick (its own timer,
// or poll() from the plug-in's idle task) and reports where it drew so the title can end before it.
#pragma once

#include "ui/MainMenu.h"
#include "updates/UpdateCheck.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace brindlecot::controls {

struct UpdatePillStyle
{
    juce::Colour pill = juce::Colour::fromRGBA(252, 120, 92, 255);
    juce::Colour hover = juce::Colour::fromRGBA(253, 146, 124, 255);
    juce::Colour text = juce::Colour::fromRGBA(10, 10, 10, 255);
    juce::Font font {11.0f}; // the section style at the editor's scale
};

class UpdatePillControl : public juce::Component, private juce::Timer
{
public:
    /// `idleTickHz` 0 leaves the polling to poll().
    UpdatePillControl(updates::UpdateCheck& check, UpdatePillStyle style = {}, int idleTickHz = 30);
    ~UpdatePillControl() override;

    /// Told whenever the pill's rectangle changes (this component's coordinates; empty when hidden).
    std::function<void(juce::Rectangle<int>)> onPillRect;
    /// Opens a link in the system's browser (replaceable for tests).
    std::function<void(const juce::String&)> openLink;

    /// Reads the change counter; refreshes and repaints when it moved. True when it did.
    bool poll();
    /// Where the pill is drawn (empty when hidden) and its text.
    juce::Rectangle<int> pillRect() const { return pillRect_; }
    const juce::String& label() const { return label_; }
    const juce::String& url() const { return url_; }
    /// Width the pill wants for its text: 2/3 of the height plus the text width (0 when hidden).
    int preferredWidth() const;
    bool isHovering() const { return hovering_; }

    /// The menu extension: "Check for updates" (ticked while on) and a separator; choosing it
    /// switches the check (marker file) and refreshes the pill.
    void appendMenuItems(std::vector<ui::MenuItem>& items) const;
    void selectMenuItem(int index);

    void setFont(juce::Font font);

    void paint(juce::Graphics& g) override;
    bool hitTest(int x, int y) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseMove(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;
    void resized() override;

private:
    void timerCallback() override;
    void refresh();

    updates::UpdateCheck& check_;
    UpdatePillStyle style_;
    int64_t seenChange_ = -1;
    juce::Rectangle<int> pillRect_;
    juce::String label_;
    juce::String url_;
    bool hovering_ = false;
};

} // namespace brindlecot::controls
