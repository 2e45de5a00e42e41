// The editor's main menu as plain data: its items in order (text, tick, enabled, separator) and what
// each item does. The menu is rebuilt at every opening from getters, so ticks always show the current
// state; a choice is carried out through setters. The JUCE menu button only turns the items into a
// popup and hands the chosen position back to select().
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace brindlecot::updates {
class UpdateCheck;
}

namespace brindlecot::ui {

enum class MenuAction
{
    None,
    InputMode,
    ToggleLog,
    WindowScale,
    Theme,
    Extension
};

struct MenuItem
{
    std::string text; // empty for a separator
    bool separator = false;
    bool ticked = false;
    bool enabled = true;
    MenuAction action = MenuAction::None;
    int index = 0; // mode, scale row, theme index or position among the extension's items
};

struct WindowScaleRow
{
    const char* text;
    double scale;
};

/// "Window 0.75x", "Window 1x", "Window 1.5x", "Window 2x".
const std::array<WindowScaleRow, 4>& windowScaleRows();
/// A scale item is ticked when the window's scale lies within this distance of it.
inline constexpr double kWindowScaleTickTolerance = 0.02;

/// The six theme names in index order ("Green" ... "DAW color").
const std::array<const char*, 6>& themeNames();

/// Product version shown in the menu's last line.
inline constexpr const char* kMenuVersionText = "0.12.6";

class MainMenu
{
public:
    std::function<bool()> logGet;
    std::function<void(bool)> logSet;
    std::function<double()> scaleGet;
    std::function<void(double)> scaleSet;
    std::function<int()> themeGet;
    std::function<void(int)> themeSet;
    std::function<int()> inputModeGet;
    std::function<void(int)> inputModeSet;
    /// Appends further items (the update check's switch); each becomes an Extension item.
    std::function<void(std::vector<MenuItem>&)> extensionBuild;
    std::function<void(int)> extensionSelect;
    std::string versionText = kMenuVersionText;

    /// Rebuilds and returns the items (separators included), from the getters' current answers.
    const std::vector<MenuItem>& build();
    const std::vector<MenuItem>& items() const { return items_; }

    /// Carries out the item at `position` of the last build; a negative position (menu dismissed),
    /// one past the end, a separator or a disabled item does nothing.
    void select(int position);

private:
    std::vector<MenuItem> items_;
};

/// The "Check for updates" switch for MainMenu::extensionBuild / extensionSelect: ticked while the
/// check is on; choosing it stores the opposite (the marker file). `changed` runs after a switch.
void appendUpdateCheckItems(const updates::UpdateCheck& check, std::vector<MenuItem>& items);
void selectUpdateCheckItem(updates::UpdateCheck& check, int index, const std::function<void()>& changed);

/// The window scale now: the editor's width (whole pixels) over 542 while it is open; with the
/// editor closed the stored width in device pixels over (screenScale * 542) when above 0; else 1.
double currentWindowScale(bool editorOpen, double editorWidth, int storedWidth, double screenScale);

struct WindowSize
{
    int width = 0;
    int height = 0;
};
/// The window size for scale k: 542k x 476k rounded, then kept within the editor's limits and
/// aspect ratio ("Window 1.5x" gives 813 x 714 at screen scale 1).
WindowSize windowSizeForScale(double k, double screenScale);

} // namespace brindlecot::ui
