#include "ui/HostTrack.h"
#include "ui/Palette.h"
#include "ui/StatusLine.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace brindlecot::ui;

TEST(StatusLine, NamesTheDeepestNotchInKilohertzAndCountsTheOthers)
{
    StatusInputs in;
    in.activeNotchCount = 2;
    in.deepestNotchHz = 3150.0f;
    EXPECT_EQ(composeStatus(in), "notching 3.15 kHz and 1 more");
    in.activeNotchCount = 1;
    EXPECT_EQ(composeStatus(in), "notching 3.15 kHz");
}

TEST(StatusLine, UsesHertzBelowOneKilohertzEvenWhenRoundingReachesIt)
{
    StatusInputs in;
    in.activeNotchCount = 1;
    in.deepestNotchHz = 999.6f;
    EXPECT_EQ(composeStatus(in), "notching 1000 Hz");
}

TEST(StatusLine, ShowsTheDetectorInactiveTextWhenNothingIsNotched)
{
    StatusInputs in;
    in.modelStatus = "model: full";
    in.detectorActive = false;
    EXPECT_EQ(composeStatus(in), "SAMPLE RATE TOO LOW FOR FEEDBACK DETECTION: de-feedback inactive");
    in.detectorActive = true;
    in.dspInitFailed = true;
    EXPECT_EQ(composeStatus(in), kDetectorInactiveText);
    // A sounding notch wins over the inactive text.
    in.activeNotchCount = 1;
    in.deepestNotchHz = 500.0f;
    EXPECT_EQ(composeStatus(in), "notching 500 Hz");
}

TEST(StatusLine, AppendsTheLaneSuffixWithAMiddleDot)
{
    StatusInputs in;
    in.modelStatus = "no model loaded";
    in.laneMode = 1;
    EXPECT_EQ(composeStatus(in), "no model loaded \xC2\xB7 stereo");
    in.laneMode = 2;
    EXPECT_EQ(composeStatus(in), "no model loaded \xC2\xB7 mono path");
    in.laneMode = 3;
    EXPECT_EQ(composeStatus(in), "no model loaded \xC2\xB7 left channel only");
    in.laneMode = 0;
    EXPECT_EQ(composeStatus(in), "no model loaded");
    // A notch count without a frequency is not a notch.
    in.activeNotchCount = 3;
    EXPECT_EQ(composeStatus(in), "no model loaded");
}

TEST(Title, NumbersReaperTracksAndFallsBackToTheChannelName)
{
    HostTrackInfo info;
    EXPECT_EQ(composeTitle(info), "");
    EXPECT_EQ(displayedTitle(composeTitle(info)), "VELARUNE");

    info.channelReported = true;
    info.channelName = "Lead vox";
    EXPECT_EQ(composeTitle(info), "Lead vox");
    info.channelIndex = 4;
    EXPECT_EQ(composeTitle(info), "#4: Lead vox");

    info.reaperTrack = true;
    info.reaperNameRead = true;
    info.reaperName = "Vox";
    info.reaperTrackNumber = 3.9;
    EXPECT_EQ(composeTitle(info), "#3: Vox");
    info.reaperName.clear();
    EXPECT_EQ(composeTitle(info), "#3");
    info.reaperTrackNumber = 1e300; // a broken host value is clamped, not converted blindly
    EXPECT_EQ(composeTitle(info), "#2147483647");
    info.reaperTrackNumber = NAN;
    EXPECT_EQ(composeTitle(info), "#0");
}

TEST(Title, IsCutAtItsLimitWithoutSplittingACharacter)
{
    HostTrackInfo info;
    info.channelReported = true;
    info.channelName = std::string(127, 'a') + "\xC3\xA9xyz"; // 'é' straddles byte 128
    const std::string t = composeTitle(info);
    EXPECT_EQ(t.size(), 127u);
    info.reaperTrack = info.reaperNameRead = true;
    info.reaperTrackNumber = 12;
    info.reaperName = std::string(300, 'b');
    EXPECT_EQ(composeTitle(info).size(), kReaperTitleLimit);
}

TEST(TrackColour, PrefersAReaperCustomColourThenTheChannelColour)
{
    HostTrackInfo info;
    EXPECT_EQ(hostTrackColour(info), -1);
    info.channelColour = 0x00FF0000; // alpha 0: none
    EXPECT_EQ(hostTrackColour(info), -1);
    info.channelColour = 0xFF336699;
    EXPECT_EQ(hostTrackColour(info), 0x336699);

    info.reaperTrack = true;
    info.colorFromNative = [](int32_t native) { // native colours are 0xBBGGRR
        return ((native & 0xFF) << 16) | (native & 0xFF00) | ((native >> 16) & 0xFF);
    };
    info.reaperCustomColour = 0x0000FF; // bit 24 clear: no custom colour, channel colour used
    EXPECT_EQ(hostTrackColour(info), 0x336699);
    info.reaperCustomColour = 0x1000000 | 0x0000FF;
    EXPECT_EQ(hostTrackColour(info), 0xFF0000);

    info.channelColour = 0;
    info.reaperCustomColour = 0x0000FF;
    EXPECT_EQ(hostTrackColour(info), -1);
}

TEST(Accent, ThemesGiveTheirTableColourAndOutOfRangeIndicesReadGreen)
{
    EXPECT_EQ(accentColour(1, -1), (Argb {255, 233, 21, 90}));
    EXPECT_EQ(accentColour(7, 0xFF0000), (Argb {255, 21, 232, 121}));
    EXPECT_EQ(accentColour(-2, -1, 38), (Argb {38, 21, 232, 121}));
    EXPECT_EQ(accentColour(5, -1), (Argb {255, 21, 232, 121}));
}

TEST(Accent, BrightensDarkHostColoursAndDarkensBrightOnes)
{
    // (0, 28, 0): luma 20.0256, brightened by 47 / 20.0256.
    EXPECT_EQ(accentColour(5, 0x001C00), (Argb {255, 0, 65, 0}));
    // Luma 20 with a strong blue: (250 blue alone has luma 18.05).
    const Argb blue = accentColour(5, 0x0000FA);
    EXPECT_EQ(blue.b, 255); // clamped
    EXPECT_EQ(blue.r, 0);
    // White is darkened to luma 200.
    EXPECT_EQ(accentColour(5, 0xFFFFFF), (Argb {255, 200, 200, 200}));
    // Black (luma below 1) falls back to the table's green.
    EXPECT_EQ(accentColour(5, 0x000000), (Argb {255, 21, 232, 121}));
    // A mid colour stays as it is.
    EXPECT_EQ(accentColour(5, 0x808080), (Argb {255, 128, 128, 128}));
}
