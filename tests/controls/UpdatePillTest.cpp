// The update pill on an update check of its own (a temporary maker folder, no network): it shows
// within one idle tick of a change, right-aligned and sized to its text, and the menu switch hides it.
#include "ControlsTestSupport.h"

#include "controls/UpdatePillControl.h"

#include <gtest/gtest.h>

#include <ctime>
#include <unistd.h>

using namespace brindlecot;
using controls::UpdatePillControl;

namespace {

const std::string kNewerFeed = R"({"velarune":{"version":"0.13.0","page":"/downloads/velarune"}})";

struct PillFixture
{
    std::filesystem::path folder;
    std::unique_ptr<updates::UpdateCheck> check;
    std::unique_ptr<UpdatePillControl> pill;
    std::vector<juce::Rectangle<int>> reported;
    std::vector<juce::String> opened;

    PillFixture()
    {
        folder = std::filesystem::temp_directory_path() / ("velarune-pill-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        check = std::make_unique<updates::UpdateCheck>(
            "velarune", "0.12.6", folder, "http://127.0.0.1:9/updates.json");
        pill = std::make_unique<UpdatePillControl>(*check, controls::UpdatePillStyle {}, 0);
        pill->onPillRect = [this](juce::Rectangle<int> r) { reported.push_back(r); };
        pill->openLink = [this](const juce::String& link) { opened.push_back(link); };
        pill->setBounds(209, 45, 140, 28);
        pill->poll();
    }
    ~PillFixture()
    {
        pill.reset();
        check.reset();
        std::filesystem::remove_all(folder);
    }

    void announce(const std::string& feed)
    {
        ASSERT_TRUE(check->writeCache({static_cast<int64_t>(std::time(nullptr)), feed}));
        check->refresh();
    }
};

} // namespace

TEST(UpdatePill, IsHiddenAndLetsClicksThroughWhileNoUpdateIsKnown)
{
    PillFixture f;
    EXPECT_TRUE(f.pill->pillRect().isEmpty());
    EXPECT_FALSE(f.pill->hitTest(130, 14));
    EXPECT_EQ(f.pill->preferredWidth(), 0);
}

TEST(UpdatePill, AppearsAtTheNextIdleTickRightAlignedAndReportsItsRectangle)
{
    PillFixture f;
    f.announce(kNewerFeed);
    EXPECT_TRUE(f.pill->pillRect().isEmpty()); // not before the tick
    EXPECT_TRUE(f.pill->poll());
    EXPECT_EQ(f.pill->label(), "0.13.0 AVAILABLE");
    const auto r = f.pill->pillRect();
    EXPECT_EQ(r.getRight(), 140);
    EXPECT_EQ(r.getHeight(), 28);
    EXPECT_EQ(r.getWidth(), f.pill->preferredWidth());
    EXPECT_GT(r.getWidth(), 28 * 2 / 3);
    EXPECT_LT(r.getWidth(), 140);
    ASSERT_FALSE(f.reported.empty());
    EXPECT_EQ(f.reported.back(), r);
    EXPECT_TRUE(f.pill->hitTest(r.getCentreX(), r.getCentreY()));
    EXPECT_FALSE(f.pill->hitTest(r.getX() - 2, r.getCentreY()));
    EXPECT_FALSE(f.pill->poll()); // nothing moved since
}

TEST(UpdatePill, ClickingOpensTheDownloadPage)
{
    PillFixture f;
    f.announce(kNewerFeed);
    f.pill->poll();
    test::mouseDownAt(*f.pill, f.pill->pillRect().getCentre().toFloat());
    ASSERT_EQ(f.opened.size(), 1u);
    EXPECT_EQ(f.opened[0], "https://brindlecot.com/downloads/velarune");
}

TEST(UpdatePill, HoverLightensItAndLeavingRestoresIt)
{
    PillFixture f;
    f.announce(kNewerFeed);
    f.pill->poll();
    test::mouseMoveTo(*f.pill, f.pill->pillRect().getCentre().toFloat());
    EXPECT_TRUE(f.pill->isHovering());
    test::mouseLeave(*f.pill);
    EXPECT_FALSE(f.pill->isHovering());
}

TEST(UpdatePill, AVeryLongVersionIsNoWiderThanItsRectangle)
{
    PillFixture f;
    f.pill->setBounds(0, 0, 60, 28);
    f.announce(kNewerFeed);
    f.pill->poll();
    EXPECT_EQ(f.pill->pillRect().getWidth(), 60);
}

TEST(UpdatePill, TheMenuSwitchHidesItAndShowsTheSwitchUnticked)
{
    PillFixture f;
    f.announce(kNewerFeed);
    f.pill->poll();
    ASSERT_FALSE(f.pill->pillRect().isEmpty());
    std::vector<ui::MenuItem> items;
    f.pill->appendMenuItems(items);
    EXPECT_TRUE(items.at(0).ticked);
    f.pill->selectMenuItem(0);
    EXPECT_TRUE(std::filesystem::exists(f.check->markerPath()));
    EXPECT_TRUE(f.pill->pillRect().isEmpty());
    EXPECT_TRUE(f.reported.back().isEmpty()); // the title gets its width back
    items.clear();
    f.pill->appendMenuItems(items);
    EXPECT_FALSE(items.at(0).ticked);
    f.pill->selectMenuItem(0);
    EXPECT_FALSE(f.pill->pillRect().isEmpty());
}

TEST(UpdatePill, RendersRightAligned)
{
    PillFixture f;
    f.announce(kNewerFeed);
    f.pill->poll();
    const auto image = test::snapshot(*f.pill, "update-pill");
    // Orange at the right end, transparent at the left end.
    const auto face = image.getPixelAt(image.getWidth() - 6, image.getHeight() / 2);
    EXPECT_NEAR(face.getRed(), 252, 3);
    EXPECT_NEAR(face.getGreen(), 120, 3);
    EXPECT_EQ(image.getPixelAt(4, image.getHeight() / 2).getAlpha(), 0);
}
