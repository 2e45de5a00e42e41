// The main menu's popup and result callback on a real processor: window scale, theme, input mode,
// the log switch, the update switch; and what loading a preset tells the host.
#include "ControlsTestSupport.h"

#include "controls/MenuButtonControl.h"
#include "engine/Parameters.h"
#include "store/DataFolders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace brindlecot;
using controls::MenuButtonControl;

namespace {

struct MenuFixture : test::ProcessorFixture
{
    MenuButtonControl button {actions->makeMenu()};
    test::HostListener host;

    MenuFixture()
    {
        button.setBounds(0, 0, 24, 24);
        processor->addListener(&host);
    }
    ~MenuFixture() { processor->removeListener(&host); }

    /// Builds the popup as an opening does and returns the item id of a text (0 when missing).
    int idOf(const std::string& text)
    {
        button.buildPopup();
        const auto& items = button.model().items();
        for (size_t i = 0; i < items.size(); ++i)
            if (!items[i].separator && items[i].text == text)
                return static_cast<int>(i) + 1;
        return 0;
    }
    bool ticked(const std::string& text)
    {
        const int id = idOf(text);
        return id > 0 && button.model().items()[static_cast<size_t>(id - 1)].ticked;
    }
    void choose(const std::string& text) { button.menuResult(idOf(text)); }
};

std::string readFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(MainMenuPopup, MirrorsTheModelWithSeparatorsTicksAndTheDisabledVersionLine)
{
    MenuFixture f;
    auto popup = f.button.buildPopup();
    int items = 0, separators = 0;
    bool versionDisabled = false;
    for (juce::PopupMenu::MenuItemIterator it(popup); it.next();) {
        auto& item = it.getItem();
        if (item.isSeparator) {
            ++separators;
            continue;
        }
        ++items;
        if (item.text == "Velarune 0.12.6")
            versionDisabled = !item.isEnabled;
        if (item.text == "DAW color" || item.text == "Window 1x") {
            EXPECT_TRUE(item.isTicked) << item.text;
        }
    }
    EXPECT_EQ(items, 15);
    EXPECT_EQ(separators, 5);
    EXPECT_TRUE(versionDisabled);
}

TEST(MainMenuPopup, WindowOneAndAHalfStoresEightThirteenBySevenFourteenAndTicksIt)
{
    MenuFixture f;
    f.choose("Window 1.5x");
    EXPECT_TRUE(f.ticked("Window 1.5x"));
    EXPECT_FALSE(f.ticked("Window 1x"));
    EXPECT_NEAR(f.actions->windowScale(), 1.5, 0.002);
    // The next state chunk carries the new size.
    juce::MemoryBlock state;
    f.processor->getStateInformation(state);
    const auto* b = static_cast<const uint8_t*>(state.getData());
    EXPECT_EQ(b[12] | (b[13] << 8), 813);
    EXPECT_EQ(b[16] | (b[17] << 8), 714);
}

TEST(MainMenuPopup, WindowScaleResizesAnOpenEditor)
{
    MenuFixture f;
    std::unique_ptr<juce::AudioProcessorEditor> editor(f.processor->createEditorIfNeeded());
    ASSERT_NE(editor, nullptr);
    f.choose("Window 1.5x");
    EXPECT_EQ(editor->getWidth(), 813);
    EXPECT_EQ(editor->getHeight(), 714);
    EXPECT_TRUE(f.ticked("Window 1.5x"));
    // A window dragged to 1.49x keeps the tick; 1.47x shows none.
    editor->setSize(juce::roundToInt(542 * 1.49), juce::roundToInt(476 * 1.49));
    EXPECT_TRUE(f.ticked("Window 1.5x"));
    editor->setSize(juce::roundToInt(542 * 1.47), juce::roundToInt(476 * 1.47));
    for (const auto* t : {"Window 0.75x", "Window 1x", "Window 1.5x", "Window 2x"})
        EXPECT_FALSE(f.ticked(t)) << t;
}

TEST(MainMenuPopup, AThemeChangeRaisesTheRebuildFlagAndMarksTheProjectOnce)
{
    MenuFixture f;
    f.processor->takeAccentChanged();
    f.choose("Red");
    EXPECT_EQ(f.processor->accentIndex(), 1);
    EXPECT_TRUE(f.processor->takeAccentChanged());
    EXPECT_EQ(f.host.dirtyCalls, 1);
    f.choose("Red"); // already selected: nothing
    EXPECT_FALSE(f.processor->takeAccentChanged());
    EXPECT_EQ(f.host.dirtyCalls, 1);
    EXPECT_TRUE(f.ticked("Red"));
}

TEST(MainMenuPopup, LeftChannelOnlyChosenTwiceMarksTheProjectOnce)
{
    MenuFixture f;
    f.choose("Input: left channel only");
    f.choose("Input: left channel only");
    EXPECT_EQ(f.processor->frame().inputMode.load(), 1);
    EXPECT_EQ(f.host.dirtyCalls, 1);
    EXPECT_TRUE(f.ticked("Input: left channel only"));
    f.choose("Input: auto");
    EXPECT_EQ(f.processor->frame().inputMode.load(), 0);
    EXPECT_EQ(f.host.dirtyCalls, 2);
}

TEST(MainMenuPopup, TheLogSwitchTogglesAndWritesThePreferencesFileEachTime)
{
    MenuFixture f;
    f.choose("Write diagnostic log");
    EXPECT_TRUE(f.processor->loggingPreference());
    EXPECT_NE(readFile(preferencesPath()).find("logging=1"), std::string::npos);
    EXPECT_TRUE(f.ticked("Write diagnostic log"));
    f.choose("Write diagnostic log");
    EXPECT_FALSE(f.processor->loggingPreference());
    EXPECT_NE(readFile(preferencesPath()).find("logging=0"), std::string::npos);
}

TEST(MainMenuPopup, CheckForUpdatesTogglesTheMarkerFile)
{
    MenuFixture f;
    EXPECT_TRUE(f.ticked("Check for updates"));
    f.choose("Check for updates");
    EXPECT_TRUE(std::filesystem::exists(f.processor->updateCheck().markerPath()));
    EXPECT_FALSE(f.ticked("Check for updates"));
    f.choose("Check for updates");
    EXPECT_FALSE(std::filesystem::exists(f.processor->updateCheck().markerPath()));
    EXPECT_TRUE(f.ticked("Check for updates"));
}

TEST(MainMenuPopup, APressOnTheButtonShowsTheMenuAndItsChoiceIsCarriedOut)
{
    MenuFixture f;
    std::function<void(int)> done;
    int shownItems = 0;
    f.button.showPopup = [&](const juce::PopupMenu& m, juce::Rectangle<int>, std::function<void(int)> d) {
        shownItems = m.getNumItems();
        done = std::move(d);
    };
    test::mouseDownAt(f.button, {12.0f, 12.0f});
    ASSERT_TRUE(done);
    EXPECT_EQ(shownItems, 15); // separators are not counted
    done(f.idOf("Orange"));
    EXPECT_EQ(f.processor->accentIndex(), 2);
}

TEST(MainMenuPopup, ADismissedMenuChangesNothing)
{
    MenuFixture f;
    f.button.buildPopup();
    f.button.menuResult(0);
    EXPECT_EQ(f.host.dirtyCalls, 0);
    EXPECT_EQ(f.processor->accentIndex(), 5);
}

TEST(PresetLoading, KeepsTheInputModeAndNotifiesTheHostPerParameterInOneGesture)
{
    MenuFixture f;
    f.actions->setInputMode(1);
    f.setPlain(kAir, 60.0f);
    ASSERT_TRUE(f.actions->save("Verse"));
    f.actions->setInputMode(0);
    f.setPlain(kAir, 10.0f);
    f.host.events.clear();

    ASSERT_TRUE(f.actions->load("Verse"));
    EXPECT_EQ(f.processor->frame().inputMode.load(), 0);
    EXPECT_NEAR(f.plain(kAir), 60.0f, 1e-3f);

    std::vector<std::string> expected;
    for (const char* kind : {"begin ", "set ", "end "})
        for (int i = 0; i < kNumParams; ++i)
            expected.push_back(kind + std::to_string(i));
    EXPECT_EQ(f.host.events, expected);
}

TEST(PresetLoading, RestoresTheWindowScaleThePresetWasSavedWith)
{
    MenuFixture f;
    f.choose("Window 1.5x");
    ASSERT_TRUE(f.actions->save("Big"));
    f.choose("Window 1x");
    EXPECT_NEAR(f.actions->windowScale(), 1.0, 1e-9);
    ASSERT_TRUE(f.actions->load("Big"));
    EXPECT_NEAR(f.actions->windowScale(), 1.5, 0.002);
    EXPECT_TRUE(f.ticked("Window 1.5x"));
}

TEST(PresetLoading, AMissingOrForeignPresetChangesNothingAndSaysWhy)
{
    MenuFixture f;
    f.setPlain(kAir, 33.0f);
    EXPECT_FALSE(f.actions->load("Nothing"));
    EXPECT_EQ(f.actions->lastError(), "not an Velarune preset: Nothing.vlrpreset");
    EXPECT_EQ(f.host.events.size(), 1u); // only the setPlain above: no gesture, no change
    EXPECT_NEAR(f.plain(kAir), 33.0f, 1e-3f);
}

TEST(PresetLoading, TheThemeOfThePresetComesBackAndRaisesTheRebuildFlag)
{
    MenuFixture f;
    f.choose("Blue");
    ASSERT_TRUE(f.actions->save("Blue one"));
    f.choose("Green");
    f.processor->takeAccentChanged();
    ASSERT_TRUE(f.actions->load("Blue one"));
    EXPECT_EQ(f.processor->accentIndex(), 3);
    EXPECT_TRUE(f.processor->takeAccentChanged());
}
