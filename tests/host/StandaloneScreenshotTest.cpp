// The Standalone app under Xvfb: its real window must show the same editor that the in-process
// rendering shows (the reviewed golden image defaults-1x.png), found at whatever offset the
// app's window frame puts it.
#include "XWindowGrab.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using brindlecot::test::GrabbedWindow;
using brindlecot::test::grabWindow;

namespace {
int channelDifference(uint32_t a, juce::Colour b)
{
    const int r = static_cast<int>((a >> 16) & 0xFF), g = static_cast<int>((a >> 8) & 0xFF),
              bl = static_cast<int>(a & 0xFF);
    return std::max({std::abs(r - b.getRed()), std::abs(g - b.getGreen()), std::abs(bl - b.getBlue())});
}
} // namespace

TEST(StandaloneApp, WindowShowsTheEditorAsRenderedInProcess)
{
    if (juce::SystemStats::getEnvironmentVariable("DISPLAY", {}).isEmpty())
        GTEST_SKIP() << "no X display";
    const juce::Image golden = juce::ImageFileFormat::loadFrom(
        juce::File(VELARUNE_EDITOR_GOLDEN_DIR).getChildFile("defaults-1x.png"));
    ASSERT_TRUE(golden.isValid());

    // A fresh home: no saved window or audio settings from earlier runs.
    const auto home = juce::File::createTempFile("velarune-standalone-home");
    home.createDirectory();
    juce::ChildProcess app;
    ASSERT_TRUE(
        app.start(juce::StringArray {"env", "HOME=" + home.getFullPathName(), VELARUNE_STANDALONE}, 0));

    GrabbedWindow shot;
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (grabWindow("Velarune", shot) && shot.width >= golden.getWidth()
            && shot.height >= golden.getHeight())
            break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // let it paint
    const bool grabbed = grabWindow("Velarune", shot);
    app.kill();
    home.deleteRecursively();
    ASSERT_TRUE(grabbed) << "no Velarune window";
    ASSERT_GE(shot.width, golden.getWidth());
    ASSERT_GE(shot.height, golden.getHeight());

    // Where the editor sits inside the window: the offset whose sparse sample matches best.
    const auto at = [&](int x, int y) { return shot.argb[static_cast<size_t>(y * shot.width + x)]; };
    long best = -1;
    int bx = 0, by = 0;
    for (int dy = 0; dy <= shot.height - golden.getHeight(); ++dy)
        for (int dx = 0; dx <= shot.width - golden.getWidth(); ++dx) {
            long err = 0;
            for (int y = 3; y < golden.getHeight(); y += 17)
                for (int x = 5; x < golden.getWidth(); x += 13)
                    err += channelDifference(at(dx + x, dy + y), golden.getPixelAt(x, y));
            if (best < 0 || err < best) {
                best = err;
                bx = dx;
                by = dy;
            }
        }
    int bad = 0;
    for (int y = 0; y < golden.getHeight(); ++y)
        for (int x = 0; x < golden.getWidth(); ++x)
            bad += channelDifference(at(bx + x, by + y), golden.getPixelAt(x, y)) > 40;
    const double share = static_cast<double>(bad) / (golden.getWidth() * golden.getHeight());
    std::printf("editor found at %d, %d in the %d x %d window; %d pixels differ\n", bx, by, shot.width,
        shot.height, bad);
    EXPECT_LT(share, 0.002) << bad << " pixels differ with the editor at " << bx << ", " << by;
    if (share >= 0.002) {
        juce::Image window(juce::Image::RGB, shot.width, shot.height, false);
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x)
                window.setPixelAt(x, y, juce::Colour(at(x, y)));
        const auto file = juce::File::getCurrentWorkingDirectory().getChildFile("standalone-window.png");
        file.deleteFile();
        juce::FileOutputStream out(file);
        juce::PNGImageFormat().writeImageToStream(window, out);
    }
}
