// The kebab button (three rounded bars) that opens the main menu: a juce::PopupMenu rebuilt from
// the framework-free menu model at every opening, shown asynchronously; the chosen item goes back
// to the model. The preset bar can draw the button itself and open the menu through showMenu().
#pragma once

#include "ui/MainMenu.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace brindlecot::controls {

struct MenuButtonStyle
{
    juce::Colour icon = juce::Colour::fromRGBA(250, 250, 250, 107); // idle bars
    juce::Colour iconHover = juce::Colour::fromRGBA(250, 250, 250, 255); // bars under the pointer
    juce::Colour hover = juce::Colour::fromRGBA(250, 250, 250, 18); // wash under the pointer
};

class MenuButtonControl : public juce::Component
{
public:
    explicit MenuButtonControl(ui::MainMenu menu, MenuButtonStyle style = {});

    ui::MainMenu& model() { return menu_; }
    /// Shows a popup anchored at a screen rectangle and calls back with the chosen item id (0 when
    /// dismissed); showMenuAsync by default, replaceable where no display exists (tests).
    std::function<void(juce::PopupMenu, juce::Rectangle<int>, std::function<void(int)>)> showPopup;

    /// Rebuilds the items and turns them into a popup (item id = position + 1).
    juce::PopupMenu buildPopup();
    /// Shows the menu anchored at `anchor` in `target`'s coordinates (this button when null).
    void showMenu(juce::Component* target = nullptr, juce::Rectangle<int> anchor = {});
    /// The popup's result: the item id, 0 when dismissed.
    void menuResult(int itemId);

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;

private:
    ui::MainMenu menu_;
    MenuButtonStyle style_;
    bool hovering_ = false;
};

} // namespace brindlecot::controls
