#include "engine/Parameters.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace brindlecot;

TEST(Parameters, TableHasTheTwentyTwoParametersInHostOrder)
{
    const char* names[kNumParams] = {"Input", "Bleed Reduction", "Feedback Reduction", "Output", "High-Pass",
        "Low-Pass", "High-Pass On", "Low-Pass On", "Soft Bypass", "ECO Mode", "Air", "Air Corner",
        "Ride Strength", "Voice Floor", "Saturation", "Saturation Focus", "Saturation Drive", "Vocal Target",
        "Top Saturation", "Top Saturation Focus", "Top Saturation Drive", "BEEF Knob"};
    // default, min, max, step
    const double expect[kNumParams][4] = {{0, -24, 24, 0.1}, {0, 0, 100, 1}, {0, 0, 100, 1},
        {0, -24, 24, 0.1}, {20, 20, 1000, 0.1}, {20000, 1000, 20000, 0.1}, {1, 0, 1, 1}, {1, 0, 1, 1},
        {0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 100, 1}, {90, 50, 130, 1}, {0, 0, 12, 0.1}, {-60, -80, 0, 0.5},
        {0, 0, 100, 1}, {2000, 200, 20000, 0.1}, {30, 0, 38.0618, 0.1}, {-20, -36, -6, 0.5}, {0, 0, 100, 1},
        {10000, 2000, 16000, 0.1}, {38, 0, 38.0618, 0.1}, {0, 0, 1, 1}};
    const char* units[kNumParams] = {"dB", "%", "%", "dB", "Hz", "Hz", "", "", "", "", "%", "%", "dB", "dB",
        "%", "Hz", "dB", "dB", "%", "Hz", "dB", ""};
    ASSERT_EQ(parameterTable().size(), 22u);
    for (int i = 0; i < kNumParams; ++i) {
        const ParamSpec& s = paramSpec(i);
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(s.index, i);
        EXPECT_STREQ(s.name, names[i]);
        EXPECT_STREQ(s.unit, units[i]);
        EXPECT_DOUBLE_EQ(s.defaultValue, expect[i][0]);
        EXPECT_DOUBLE_EQ(s.minValue, expect[i][1]);
        EXPECT_NEAR(s.maxValue, expect[i][2], 5e-5);
        EXPECT_DOUBLE_EQ(s.step, expect[i][3]);
        EXPECT_EQ(findParameter(names[i]), i);
    }
    EXPECT_EQ(findParameter("input"), -1); // names are exact
    EXPECT_EQ(maxDriveDb(), static_cast<double>(20.0f * std::log10(80.0f)));
}

TEST(Parameters, FrequenciesMapExponentiallyAndOthersLinearly)
{
    const ParamSpec& hp = paramSpec(kHighPass);
    EXPECT_NEAR(fromNormalised(hp, 0.5), std::sqrt(20.0 * 1000.0), 1e-9);
    EXPECT_NEAR(fromNormalised(hp, 0.25), 20.0 * std::pow(50.0, 0.25), 1e-9);
    EXPECT_NEAR(toNormalised(hp, std::sqrt(20.0 * 1000.0)), 0.5, 1e-12);
    EXPECT_EQ(paramSpec(kLowPass).shape, ParamShape::Exponential);
    EXPECT_EQ(paramSpec(kSaturationFocus).shape, ParamShape::Exponential);
    EXPECT_EQ(paramSpec(kTopSaturationFocus).shape, ParamShape::Exponential);

    const ParamSpec& in = paramSpec(kInput);
    EXPECT_DOUBLE_EQ(fromNormalised(in, 0.75), 12.0);
    EXPECT_DOUBLE_EQ(toNormalised(in, -24.0), 0.0);
    EXPECT_DOUBLE_EQ(toNormalised(in, 100.0), 1.0); // clamped

    // Stepped values snap; continuous ones keep their value.
    EXPECT_EQ(fromNormalised(paramSpec(kSoftBypass), 0.6), 1.0);
    EXPECT_EQ(fromNormalised(paramSpec(kBeefKnob), 0.4), 0.0);
    EXPECT_DOUBLE_EQ(constrainPlain(paramSpec(kAir), 33.3), 33.3);
    EXPECT_EQ(constrainPlain(paramSpec(kAir), std::nan("")), 0.0);
}

TEST(Parameters, DisplayTextUsesTheStepsDecimalsAndTheUnit)
{
    EXPECT_EQ(formatValueWithUnit(paramSpec(kInput), -6.0), "-6.0 dB");
    EXPECT_EQ(formatValueWithUnit(paramSpec(kBleedReduction), 80.0), "80 %");
    EXPECT_EQ(formatValueWithUnit(paramSpec(kHighPass), 141.42), "141.4 Hz");
    EXPECT_EQ(formatValueWithUnit(paramSpec(kVoiceFloor), -60.0), "-60.0 dB");
    EXPECT_EQ(formatValue(paramSpec(kSoftBypass), 1.0), "on");
    EXPECT_EQ(formatValue(paramSpec(kEcoMode), 0.0), "off");
    EXPECT_EQ(formatValue(paramSpec(kBeefKnob), 1.0), "High");
    EXPECT_EQ(formatValueWithUnit(paramSpec(kBeefKnob), 0.0), "Low");
}

TEST(Parameters, ConversionsFollowTheirRules)
{
    EXPECT_FLOAT_EQ(dbToGain(-6.0), 0.50118723f);
    EXPECT_FLOAT_EQ(dbToGain(24.0), 15.848932f);
    EXPECT_EQ(dbToGain(0.0), 1.0f);
    EXPECT_EQ(percentToAmount(50.0), 0.5f);
    EXPECT_EQ(percentToAmount(150.0), 1.0f);
    EXPECT_EQ(percentToAmount(-3.0), 0.0f);
    EXPECT_EQ(percentToAmount(INFINITY), 0.0f);
    EXPECT_EQ(percentToAmount(std::nan("")), 0.0f);
    EXPECT_TRUE(isOn(0.5));
    EXPECT_FALSE(isOn(0.49));
    EXPECT_TRUE(beefIsHigh(1.0));
    EXPECT_TRUE(beefIsHigh(1.9));
    EXPECT_FALSE(beefIsHigh(0.99));
    EXPECT_FALSE(beefIsHigh(2.0));
    EXPECT_FALSE(beefIsHigh(1e300));
    EXPECT_FALSE(beefIsHigh(std::nan("")));
}
