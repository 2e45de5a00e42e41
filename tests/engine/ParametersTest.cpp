#include "engine/Parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace brindlecot;

TEST(Parameters, NamesAndOrderAreTheOnesHostsKnow)
{
    // Hosts identify parameters by index and show these names; neither may ever move.
    const char* names[kNumParams] = {"Input", "Bleed Reduction", "Feedback Reduction", "Output", "High-Pass",
        "Low-Pass", "High-Pass On", "Low-Pass On", "Soft Bypass", "ECO Mode", "Air", "Air Corner",
        "Ride Strength", "Voice Floor", "Saturation", "Saturation Focus", "Saturation Drive", "Vocal Target",
        "Top Saturation", "Top Saturation Focus", "Top Saturation Drive", "BEEF Knob"};
    ASSERT_EQ(parameterTable().size(), 22u);
    for (int i = 0; i < kNumParams; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(paramSpec(i).index, i);
        EXPECT_STREQ(paramSpec(i).name, names[i]);
        EXPECT_EQ(findParameter(names[i]), i);
    }
    EXPECT_EQ(findParameter("input"), -1); // names are exact
}

TEST(Parameters, EveryEntryIsConsistentWithItsKind)
{
    for (const ParamSpec& s : parameterTable()) {
        SCOPED_TRACE(s.name);
        ASSERT_GT(s.step, 0.0);
        ASSERT_LT(s.minValue, s.maxValue);
        // The default is reachable: inside the range and on the step grid counted from the minimum.
        EXPECT_GE(s.defaultValue, s.minValue);
        EXPECT_LE(s.defaultValue, s.maxValue);
        const double steps = (s.defaultValue - s.minValue) / s.step;
        EXPECT_NEAR(steps, std::round(steps), 1e-6);
        EXPECT_EQ(constrainPlain(s, s.defaultValue), s.defaultValue);

        const std::string unit = s.unit;
        const char* expectedUnit = s.kind == ParamKind::Gain ? "dB"
            : s.kind == ParamKind::Percentage                ? "%"
            : s.kind == ParamKind::Frequency                 ? "Hz"
                                                             : nullptr;
        if (expectedUnit != nullptr) {
            EXPECT_EQ(unit, expectedUnit);
        }
        if (s.kind == ParamKind::Boolean || s.kind == ParamKind::Enumeration) {
            // Switches and choices: whole steps from 0, no unit.
            EXPECT_EQ(s.minValue, 0.0);
            EXPECT_EQ(s.step, 1.0);
            EXPECT_EQ(unit, "");
        }
        if (unit == "%") {
            EXPECT_EQ(s.step, 1.0);
            EXPECT_LE(s.maxValue, 130.0);
        }
        // Frequencies move exponentially so that the knob's middle is the range's geometric middle.
        EXPECT_EQ(s.shape == ParamShape::Exponential, unit == "Hz");
    }
    // Both drives end at 20*log10(80) in single precision; their defaults are whole steps below it.
    EXPECT_EQ(paramSpec(kSaturationDrive).maxValue, maxDriveDb());
    EXPECT_EQ(paramSpec(kTopSaturationDrive).maxValue, maxDriveDb());
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
