#include "ui/MainMenu.h"

#include "updates/UpdateCheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>

using namespace brindlecot::ui;

namespace {

std::vector<std::string> texts(const std::vector<MenuItem>& items)
{
    std::vector<std::string> out;
    for (const auto& m : items)
        out.push_back(m.separator ? "-" : m.text);
    return out;
}

int positionOf(const std::vector<MenuItem>& items, const std::string& text)
{
    for (size_t i = 0; i < items.size(); ++i)
        if (!items[i].separator && items[i].text == text)
            return static_cast<int>(i);
    return -1;
}

struct MenuState
{
    bool log = false;
    double scale = 1.0;
    int theme = 5;
    int inputMode = 0;
    int logWrites = 0;
    std::vector<double> scalesSet;
    std::vector<int> extensionChoices;

    MainMenu menu()
    {
        MainMenu m;
        m.logGet = [this] { return log; };
        m.logSet = [this](bool on) {
            log = on;
            ++logWrites;
        };
        m.scaleGet = [this] { return scale; };
        m.scaleSet = [this](double k) { scalesSet.push_back(k); };
        m.themeGet = [this] { return theme; };
        m.themeSet = [this](int i) { theme = i; };
        m.inputModeGet = [this] { return inputMode; };
        m.inputModeSet = [this](int v) { inputMode = v; };
        m.extensionBuild = [](std::vector<MenuItem>& items) {
            MenuItem check;
            check.text = "Check for updates";
            items.push_back(check);
            MenuItem sep;
            sep.separator = true;
            items.push_back(sep);
        };
        m.extensionSelect = [this](int i) { extensionChoices.push_back(i); };
        return m;
    }
};

} // namespace

TEST(MainMenu, WithEveryCallbackListsInputLogScalesThemesUpdatesAndVersionInThatOrder)
{
    MenuState state;
    auto menu = state.menu();
    const std::vector<std::string> expected {"Input: auto", "Input: left channel only", "-",
        "Write diagnostic log", "-", "Window 0.75x", "Window 1x", "Window 1.5x", "Window 2x", "-", "Green",
        "Red", "Orange", "Blue", "Purple", "DAW color", "-", "Check for updates", "-", "Velarune 0.12.6"};
    EXPECT_EQ(texts(menu.build()), expected);
    EXPECT_FALSE(menu.items().back().enabled);
}

TEST(MainMenu, WithoutInputModeCallbacksStartsWithTheLogSwitch)
{
    MenuState state;
    auto menu = state.menu();
    menu.inputModeSet = nullptr;
    EXPECT_EQ(menu.build().front().text, "Write diagnostic log");
}

TEST(MainMenu, TicksTheScaleWithinTwoHundredthsOfTheWindowScale)
{
    MenuState state;
    auto menu = state.menu();
    // A window dragged to 1.49x: 807 whole pixels over 542 is 1.489, within 0.02 of 1.5.
    state.scale = currentWindowScale(true, 542.0 * 1.49, 0, 1.0);
    EXPECT_TRUE(menu.build()[static_cast<size_t>(positionOf(menu.items(), "Window 1.5x"))].ticked);
    // 1.47x: 796 / 542 = 1.4686, 0.031 away: nothing ticked.
    state.scale = currentWindowScale(true, 542.0 * 1.47, 0, 1.0);
    for (const auto& m : menu.build()) {
        if (m.action == MenuAction::WindowScale) {
            EXPECT_FALSE(m.ticked) << m.text;
        }
    }
}

TEST(MainMenu, CountsAMissingScaleGetterAsOneAndAMissingThemeGetterAsGreen)
{
    MainMenu menu;
    menu.build();
    EXPECT_TRUE(menu.items()[static_cast<size_t>(positionOf(menu.items(), "Window 1x"))].ticked);
    EXPECT_TRUE(menu.items()[static_cast<size_t>(positionOf(menu.items(), "Green"))].ticked);
    EXPECT_FALSE(menu.items()[static_cast<size_t>(positionOf(menu.items(), "Write diagnostic log"))].ticked);
}

TEST(MainMenu, TicksTheCurrentThemeAndInputMode)
{
    MenuState state;
    state.theme = 3;
    state.inputMode = 1;
    auto menu = state.menu();
    const auto& items = menu.build();
    EXPECT_TRUE(items[static_cast<size_t>(positionOf(items, "Blue"))].ticked);
    EXPECT_FALSE(items[static_cast<size_t>(positionOf(items, "DAW color"))].ticked);
    EXPECT_TRUE(items[static_cast<size_t>(positionOf(items, "Input: left channel only"))].ticked);
    EXPECT_FALSE(items[static_cast<size_t>(positionOf(items, "Input: auto"))].ticked);
}

TEST(MainMenu, SelectionCarriesOutEachKindOfItem)
{
    MenuState state;
    auto menu = state.menu();
    menu.build();
    menu.select(positionOf(menu.items(), "Window 1.5x"));
    menu.select(positionOf(menu.items(), "Purple"));
    menu.select(positionOf(menu.items(), "Input: left channel only"));
    menu.select(positionOf(menu.items(), "Check for updates"));
    EXPECT_EQ(state.scalesSet, std::vector<double> {1.5});
    EXPECT_EQ(state.theme, 4);
    EXPECT_EQ(state.inputMode, 1);
    EXPECT_EQ(state.extensionChoices, std::vector<int> {0});
}

TEST(MainMenu, TheLogSwitchTogglesOnEveryChoice)
{
    MenuState state;
    auto menu = state.menu();
    const int log = positionOf(menu.build(), "Write diagnostic log");
    menu.select(log);
    EXPECT_TRUE(state.log);
    menu.build();
    menu.select(log);
    EXPECT_FALSE(state.log);
    EXPECT_EQ(state.logWrites, 2);
}

TEST(MainMenu, IgnoresDismissalOutOfRangeSeparatorsAndTheVersionLine)
{
    MenuState state;
    auto menu = state.menu();
    const auto& items = menu.build();
    menu.select(-1);
    menu.select(static_cast<int>(items.size()));
    menu.select(2); // separator after the input items
    menu.select(static_cast<int>(items.size()) - 1); // version line
    EXPECT_TRUE(state.scalesSet.empty());
    EXPECT_EQ(state.theme, 5);
    EXPECT_EQ(state.inputMode, 0);
    EXPECT_EQ(state.logWrites, 0);
    EXPECT_TRUE(state.extensionChoices.empty());
}

TEST(WindowScale, OneAndAHalfGivesEightHundredThirteenBySevenHundredFourteen)
{
    const auto size = windowSizeForScale(1.5, 1.0);
    EXPECT_EQ(size.width, 813);
    EXPECT_EQ(size.height, 714);
}

TEST(WindowScale, SizesStayWithinTheLimitsAndANonsenseScaleMeansOne)
{
    // 0.75x: 406.5 rounds to 407 x 357, which the aspect step brings back to round(357 x 1.1386554) = 406.
    EXPECT_EQ(windowSizeForScale(0.75, 1.0).width, 406);
    EXPECT_EQ(windowSizeForScale(0.75, 1.0).height, 357);
    EXPECT_EQ(windowSizeForScale(3.0, 1.0).width, 1084);
    EXPECT_EQ(windowSizeForScale(0.0, 1.0).width, 542);
    EXPECT_EQ(windowSizeForScale(std::nan(""), 1.0).height, 476);
}

TEST(WindowScale, AClosedEditorReadsTheStoredWidthOverTheScreenScale)
{
    EXPECT_DOUBLE_EQ(currentWindowScale(false, 0.0, 1626, 2.0), 1.5);
    EXPECT_DOUBLE_EQ(currentWindowScale(false, 0.0, 0, 1.0), 1.0);
    EXPECT_DOUBLE_EQ(currentWindowScale(true, 813.9, 0, 1.0), 1.5);
}

TEST(UpdateCheckMenuItem, IsTickedWhileCheckingIsOnAndTogglesTheMarker)
{
    const auto folder
        = std::filesystem::temp_directory_path() / ("velarune-menu-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    brindlecot::updates::UpdateCheck check("velarune", "0.12.6", folder, "http://127.0.0.1:9/updates.json");
    std::vector<MenuItem> items;
    appendUpdateCheckItems(check, items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, "Check for updates");
    EXPECT_TRUE(items[0].ticked);
    EXPECT_TRUE(items[1].separator);

    int changes = 0;
    selectUpdateCheckItem(check, 0, [&] { ++changes; });
    EXPECT_TRUE(std::filesystem::exists(check.markerPath()));
    items.clear();
    appendUpdateCheckItems(check, items);
    EXPECT_FALSE(items[0].ticked);
    selectUpdateCheckItem(check, 1, [&] { ++changes; }); // the separator's index: nothing
    selectUpdateCheckItem(check, 0, [&] { ++changes; });
    EXPECT_FALSE(std::filesystem::exists(check.markerPath()));
    EXPECT_EQ(changes, 2);
    std::filesystem::remove_all(folder);
}
