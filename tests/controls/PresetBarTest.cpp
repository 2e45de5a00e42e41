// The preset bar wired to a real processor's preset actions, driven by simulated mouse events.
#include "ControlsTestSupport.h"

#include "controls/PresetBarControl.h"
#include "engine/Parameters.h"

#include <gtest/gtest.h>

using namespace brindlecot;
using controls::PresetBarControl;

namespace {

struct BarFixture : test::ProcessorFixture
{
    PresetBarControl bar;
    int menuOpened = 0;
    juce::PopupMenu shownList;
    std::function<void(int)> listDone;

    BarFixture()
    {
        auto& a = *actions;
        bar.listPresets = [&a] { return a.names(); };
        bar.currentName = [&a] { return a.currentName(); };
        bar.loadPreset = [&a](const std::string& n) { a.load(n); };
        bar.savePreset = [&a](const std::string& n) { a.save(n); };
        bar.deletePreset = [&a](const std::string& n) { a.remove(n); };
        bar.isModified = [&a] { return a.isModified(); };
        bar.openMenu = [this](juce::Rectangle<int>) { ++menuOpened; };
        bar.showPopup
            = [this](const juce::PopupMenu& m, juce::Rectangle<int>, std::function<void(int)> done) {
                  shownList = m;
                  listDone = std::move(done);
              };
        bar.setBounds(0, 0, 542, 32);
    }

    juce::Point<float> centreOf(PresetBarControl::Zone z) const { return bar.zoneRect(z).getCentre(); }
    void click(PresetBarControl::Zone z) { test::mouseDownAt(bar, centreOf(z)); }
    void saveAs(const juce::String& typed)
    {
        click(PresetBarControl::kSaveAs);
        ASSERT_NE(bar.nameEntry(), nullptr);
        bar.nameEntry()->setText(typed, false);
        bar.completeNameEntry(true);
    }
};

} // namespace

TEST(PresetBarGeometry, PlacesArrowsNameBoxButtonsAndMenuAtScaleOne)
{
    PresetBarControl bar;
    bar.openMenu = [](juce::Rectangle<int>) {};
    bar.setBounds(0, 0, 542, 32);
    // e = 5.76, f = 20.48: menu at 517 - 0.73 f, arrows and name box from o = 25 - 0.28 f. The name
    // box gets what is left before the menu: (517 - 1.23 f - o) - (2f + g + 3w + 2h) = 205.894.
    EXPECT_NEAR(bar.zoneRect(PresetBarControl::kMenu).getX(), 517.0f - 0.73f * 20.48f, 1e-3f);
    EXPECT_NEAR(bar.zoneRect(PresetBarControl::kPrevious).getX(), 25.0f - 0.28f * 20.48f, 1e-3f);
    EXPECT_NEAR(bar.zoneRect(PresetBarControl::kNameBox).getWidth(), 205.894f, 1e-3f);
    EXPECT_NEAR(bar.zoneRect(PresetBarControl::kSave).getWidth(), 3.4f * 20.48f, 1e-3f);
    EXPECT_EQ(bar.zoneAt({1.0f, 16.0f}), PresetBarControl::kNone);
    EXPECT_EQ(bar.zoneAt(bar.zoneRect(PresetBarControl::kDelete).getCentre()), PresetBarControl::kDelete);
    // Nothing spills past the menu button.
    EXPECT_LT(
        bar.zoneRect(PresetBarControl::kDelete).getRight(), bar.zoneRect(PresetBarControl::kMenu).getX());
}

TEST(PresetBar, WithNoPresetsReadsNoPresetAndTheArrowsDoNothing)
{
    BarFixture f;
    EXPECT_EQ(f.bar.displayedName(), "no preset");
    f.click(PresetBarControl::kNext);
    f.click(PresetBarControl::kPrevious);
    EXPECT_EQ(f.actions->currentName(), "");
    // Delete with no current preset does not arm.
    f.click(PresetBarControl::kDelete);
    EXPECT_EQ(f.bar.armedName(), "");
    // Arrows, Save and Delete are drawn dim: no pixel of the Save button reaches full ink.
    const auto image = test::snapshot(f.bar, "preset-bar-empty");
    const auto save = (f.bar.zoneRect(PresetBarControl::kSave) * 2.0f).toNearestInt().reduced(3);
    int brightest = 0;
    for (int y = save.getY(); y < save.getBottom(); ++y)
        for (int x = save.getX(); x < save.getRight(); ++x)
            brightest = std::max(brightest, int(image.getPixelAt(x, y).getBrightness() * 255.0f));
    EXPECT_LT(brightest, 160);
}

TEST(PresetBar, SaveAsTrimsBlanksAndTabsFromTheTypedName)
{
    BarFixture f;
    f.saveAs(" \t Verse Lead \t ");
    EXPECT_EQ(f.actions->currentName(), "Verse Lead");
    EXPECT_EQ(f.actions->names(), std::vector<std::string> {"Verse Lead"});
    EXPECT_EQ(f.bar.nameEntry(), nullptr);
    test::pumpMessages();
}

TEST(PresetBar, SaveAsWithOnlyBlanksOrEscapeSavesNothing)
{
    BarFixture f;
    f.saveAs(" \t  ");
    f.click(PresetBarControl::kSaveAs);
    f.bar.nameEntry()->setText("Chorus", false);
    f.bar.completeNameEntry(false);
    EXPECT_TRUE(f.actions->names().empty());
    test::pumpMessages();
}

TEST(PresetBar, TheNameEntryIsPrefilledAndLimitedToEightyCharacters)
{
    BarFixture f;
    f.saveAs("Verse");
    f.click(PresetBarControl::kSaveAs);
    auto* entry = f.bar.nameEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->getText(), "Verse");
    entry->setText("", false);
    entry->insertTextAtCaret(juce::String::repeatedString("x", 100));
    EXPECT_EQ(entry->getText().length(), 80);
    EXPECT_EQ(entry->getHeight(), juce::roundToInt(f.bar.zoneRect(PresetBarControl::kNameBox).getHeight()));
    EXPECT_GE(entry->getWidth(), 220);
    f.bar.completeNameEntry(false);
    test::pumpMessages();
}

TEST(PresetBar, ShowsAStarOnceTheIdleCheckSeesAnEditedValue)
{
    BarFixture f;
    f.saveAs("Verse");
    EXPECT_EQ(f.bar.displayedName(), "Verse");
    f.setPlain(kAir, 55.0f);
    EXPECT_EQ(f.bar.displayedName(), "Verse"); // nothing until the idle tick
    EXPECT_TRUE(f.actions->idleCheck());
    EXPECT_EQ(f.bar.displayedName(), "Verse*");
    EXPECT_FALSE(f.actions->idleCheck()); // reported once
    // Loading it again clears the mark.
    f.bar.loadPreset("Verse");
    EXPECT_EQ(f.bar.displayedName(), "Verse");
}

TEST(PresetBar, DeleteTakesTwoPressesAndReadsSureInBetween)
{
    BarFixture f;
    f.saveAs("Verse");
    f.click(PresetBarControl::kDelete);
    EXPECT_EQ(f.bar.armedName(), "Verse");
    EXPECT_EQ(f.actions->names().size(), 1u);
    f.click(PresetBarControl::kDelete);
    EXPECT_TRUE(f.actions->names().empty());
    EXPECT_EQ(f.actions->currentName(), "");
    EXPECT_EQ(f.bar.displayedName(), "no preset");
}

TEST(PresetBar, MovingOffDeleteOrLeavingTheBarOrPressingElsewhereDisarms)
{
    BarFixture f;
    f.saveAs("Verse");
    f.click(PresetBarControl::kDelete);
    test::mouseMoveTo(f.bar, f.centreOf(PresetBarControl::kDelete));
    test::mouseMoveTo(f.bar, f.centreOf(PresetBarControl::kSave));
    EXPECT_EQ(f.bar.armedName(), "");
    f.click(PresetBarControl::kDelete); // arms again, does not delete
    EXPECT_EQ(f.bar.armedName(), "Verse");
    EXPECT_EQ(f.actions->names().size(), 1u);
    test::mouseLeave(f.bar);
    EXPECT_EQ(f.bar.armedName(), "");
    f.click(PresetBarControl::kDelete);
    f.click(PresetBarControl::kSave);
    EXPECT_EQ(f.bar.armedName(), "");
    EXPECT_EQ(f.actions->names().size(), 1u);
}

TEST(PresetBar, ArrowsStepThroughTheSortedListAndWrapAround)
{
    BarFixture f;
    f.saveAs("beta");
    f.saveAs("Alpha");
    f.saveAs("alpha");
    f.click(PresetBarControl::kNext); // from "alpha" (current, last saved)
    EXPECT_EQ(f.actions->currentName(), "beta");
    f.click(PresetBarControl::kNext);
    EXPECT_EQ(f.actions->currentName(), "Alpha");
    f.click(PresetBarControl::kPrevious);
    EXPECT_EQ(f.actions->currentName(), "beta");
}

TEST(PresetBar, TheListPopupTicksTheCurrentNameAndLoadsTheChoice)
{
    BarFixture f;
    f.saveAs("Chorus");
    f.saveAs("Verse");
    f.click(PresetBarControl::kNameBox);
    EXPECT_EQ(f.bar.listMenuNames(), (std::vector<std::string> {"Chorus", "Verse"}));
    std::vector<std::pair<juce::String, bool>> shown;
    for (juce::PopupMenu::MenuItemIterator it(f.shownList); it.next();)
        shown.emplace_back(it.getItem().text, it.getItem().isTicked);
    EXPECT_EQ(shown, (std::vector<std::pair<juce::String, bool>> {{"Chorus", false}, {"Verse", true}}));
    ASSERT_TRUE(f.listDone);
    f.listDone(0); // dismissed
    EXPECT_EQ(f.actions->currentName(), "Verse");
    f.listDone(1);
    EXPECT_EQ(f.actions->currentName(), "Chorus");
    f.bar.listMenuResult(3); // beyond the list
    EXPECT_EQ(f.actions->currentName(), "Chorus");
}

TEST(PresetBar, TheMenuButtonOpensTheMainMenu)
{
    BarFixture f;
    f.click(PresetBarControl::kMenu);
    EXPECT_EQ(f.menuOpened, 1);
}

TEST(PresetBar, ALongNameIsCutBetweenWholeCharactersAndEndsInAnEllipsis)
{
    BarFixture f;
    const juce::String name = juce::String::fromUTF8(u8"Éléphant très très très long dont le nom déborde");
    const auto fitted = f.bar.fitName(name, 60.0f);
    EXPECT_TRUE(fitted.endsWith(juce::String::charToString(juce::juce_wchar(0x2026))));
    EXPECT_TRUE(name.startsWith(fitted.dropLastCharacters(1)));
    EXPECT_LT(fitted.length(), name.length());
    EXPECT_TRUE(fitted.toUTF8().sizeInBytes() > 0); // valid UTF-8 round trip
    EXPECT_EQ(juce::String::fromUTF8(fitted.toRawUTF8()), fitted);
    EXPECT_EQ(f.bar.fitName("Short", 200.0f), "Short");
}

TEST(PresetBar, RendersWithAModifiedPresetLoaded)
{
    BarFixture f;
    f.saveAs("Verse Lead");
    f.setPlain(kAir, 55.0f);
    f.actions->idleCheck();
    f.click(PresetBarControl::kDelete);
    const auto image = test::snapshot(f.bar, "preset-bar-modified-armed");
    EXPECT_EQ(image.getWidth(), 542 * 2);
    // The bar's background colour fills its left edge.
    EXPECT_EQ(image.getPixelAt(2, 10).getRed(), 17);
}
