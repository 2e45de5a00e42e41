// The text entry the caption, the meter target and the preset bar share: it finishes exactly once
// per opening, whatever fires first (Return, Escape, focus loss, a programmatic finish), and is
// gone from its parent at once.
#include "controls/TextEntry.h"

#include "ControlsTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using brindlecot::controls::TextEntry;

namespace {
struct Finishing
{
    bool commit;
    std::string text;
};
} // namespace

TEST(TextEntry, FinishesOnceWithTheTypedTextAndLeavesItsParentAtOnce)
{
    juce::Component parent;
    parent.setSize(200, 40);
    TextEntry entry;
    std::vector<Finishing> calls;
    const auto record = [&](bool commit, const std::string& text) { calls.push_back({commit, text}); };

    TextEntry::Options options;
    options.bounds = {0, 0, 200, 20};
    options.text = "12.5";
    options.maxCharacters = 6;
    entry.open(parent, options, record);
    ASSERT_NE(entry.editor(), nullptr);
    EXPECT_EQ(parent.getNumChildComponents(), 1);
    EXPECT_EQ(entry.editor()->getText(), "12.5");
    EXPECT_EQ(entry.editor()->getHighlightedText(), "12.5"); // prefilled and selected
    entry.editor()->insertTextAtCaret("-18.25 dB");
    EXPECT_EQ(entry.editor()->getText(), "-18.25"); // limited to six characters

    // Return commits; the focus loss that follows in a real window must not finish it again.
    entry.editor()->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    brindlecot::test::pumpMessages(); // the editor posts its key commands to itself
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].commit);
    EXPECT_EQ(calls[0].text, "-18.25");
    EXPECT_EQ(entry.editor(), nullptr);
    EXPECT_EQ(parent.getNumChildComponents(), 0);
    entry.finish(true);
    EXPECT_EQ(calls.size(), 1u);

    // Escape cancels; reopening an open entry drops the old one without a call.
    entry.open(parent, options, record);
    entry.open(parent, options, record);
    EXPECT_EQ(parent.getNumChildComponents(), 1);
    entry.editor()->keyPressed(juce::KeyPress(juce::KeyPress::escapeKey));
    brindlecot::test::pumpMessages();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(calls[1].commit);
    EXPECT_EQ(parent.getNumChildComponents(), 0);
}
