#include "ui/MainMenu.h"

#include "engine/EditorSizing.h"
#include "updates/UpdateCheck.h"

#include <cmath>

namespace brindlecot::ui {

const std::array<WindowScaleRow, 4>& windowScaleRows()
{
    static const std::array<WindowScaleRow, 4> rows {{
        {"Window 0.75x", 0.75},
        {"Window 1x", 1.0},
        {"Window 1.5x", 1.5},
        {"Window 2x", 2.0},
    }};
    return rows;
}

const std::array<const char*, 6>& themeNames()
{
    static const std::array<const char*, 6> names {"Green", "Red", "Orange", "Blue", "Purple", "DAW color"};
    return names;
}

namespace {
MenuItem separator()
{
    MenuItem m;
    m.separator = true;
    m.enabled = false;
    return m;
}

MenuItem item(std::string text, bool ticked, MenuAction action, int index)
{
    MenuItem m;
    m.text = std::move(text);
    m.ticked = ticked;
    m.action = action;
    m.index = index;
    return m;
}
} // namespace

const std::vector<MenuItem>& MainMenu::build()
{
    items_.clear();
    if (inputModeGet && inputModeSet) {
        const int mode = inputModeGet();
        items_.push_back(item("Input: auto", mode == 0, MenuAction::InputMode, 0));
        items_.push_back(item("Input: left channel only", mode == 1, MenuAction::InputMode, 1));
        items_.push_back(separator());
    }
    items_.push_back(item("Write diagnostic log", logGet && logGet(), MenuAction::ToggleLog, 0));
    items_.push_back(separator());

    const double scale = scaleGet ? scaleGet() : 1.0;
    const auto& rows = windowScaleRows();
    for (size_t r = 0; r < rows.size(); ++r)
        items_.push_back(item(rows[r].text, std::abs(scale - rows[r].scale) < kWindowScaleTickTolerance,
            MenuAction::WindowScale, static_cast<int>(r)));
    items_.push_back(separator());

    const int theme = themeGet ? themeGet() : 0;
    const auto& names = themeNames();
    for (size_t i = 0; i < names.size(); ++i)
        items_.push_back(
            item(names[i], theme == static_cast<int>(i), MenuAction::Theme, static_cast<int>(i)));
    items_.push_back(separator());

    if (extensionBuild) {
        std::vector<MenuItem> extra;
        extensionBuild(extra);
        int position = 0;
        for (auto& m : extra) {
            // Separators keep their own kind; every other appended item counts as the extension's.
            if (!m.separator) {
                m.action = MenuAction::Extension;
                m.index = position;
            }
            ++position;
            items_.push_back(std::move(m));
        }
    }

    MenuItem version = item("Velarune " + versionText, false, MenuAction::None, 0);
    version.enabled = false;
    items_.push_back(version);
    return items_;
}

void MainMenu::select(int position)
{
    if (position < 0 || position >= static_cast<int>(items_.size()))
        return;
    const MenuItem& m = items_[static_cast<size_t>(position)];
    if (m.separator || !m.enabled)
        return;
    switch (m.action) {
    case MenuAction::InputMode:
        if (inputModeSet)
            inputModeSet(m.index);
        break;
    case MenuAction::ToggleLog:
        if (logGet && logSet)
            logSet(!logGet());
        break;
    case MenuAction::WindowScale:
        if (scaleSet)
            scaleSet(windowScaleRows()[static_cast<size_t>(m.index)].scale);
        break;
    case MenuAction::Theme:
        if (themeSet)
            themeSet(m.index);
        break;
    case MenuAction::Extension:
        if (extensionSelect)
            extensionSelect(m.index);
        break;
    case MenuAction::None:
        break;
    }
}

void appendUpdateCheckItems(const updates::UpdateCheck& check, std::vector<MenuItem>& items)
{
    items.push_back(item("Check for updates", check.isEnabled(), MenuAction::Extension, 0));
    items.push_back(separator());
}

void selectUpdateCheckItem(updates::UpdateCheck& check, int index, const std::function<void()>& changed)
{
    if (index != 0)
        return;
    check.setEnabled(!check.isEnabled());
    if (changed)
        changed();
}

double currentWindowScale(bool editorOpen, double editorWidth, int storedWidth, double screenScale)
{
    if (editorOpen)
        return std::floor(editorWidth) / kEditorWidth;
    if (storedWidth > 0 && screenScale > 0.0)
        return storedWidth / (screenScale * kEditorWidth);
    return 1.0;
}

WindowSize windowSizeForScale(double k, double screenScale)
{
    WindowSize size;
    if (!std::isfinite(k) || k <= 0.0)
        k = 1.0;
    size.width = static_cast<int>(std::lround(kEditorWidth * k));
    size.height = static_cast<int>(std::lround(kEditorHeight * k));
    constrainEditorSize(size.width, size.height, screenScale);
    return size;
}

} // namespace brindlecot::ui
