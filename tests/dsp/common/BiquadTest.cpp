#include "dsp/common/Biquad.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace brindlecot::dsp;

TEST(Biquad, DefaultSectionPassesItsInputUnchanged)
{
    Biquad b;
    for (float v : {0.5f, -0.25f, 1e-3f, 0.0f})
        EXPECT_EQ(b.process(v), v);
}

TEST(Biquad, CoefficientRampIsLinearAndLandsExactlyOnTheNewDesign)
{
    Biquad b;
    const BiquadCoefficients from = designFilter(FilterType::LowPass, 1000.0f, 0.7071f, 48000.0f);
    const BiquadCoefficients to = designFilter(FilterType::LowPass, 2000.0f, 0.7071f, 48000.0f);
    b.setCoefficients(from);
    b.rampTo(to, 64);
    EXPECT_EQ(b.coefficients().a1, to.a1); // the design in force is the target
    for (int n = 0; n < 32; ++n)
        b.process(0.0f);
    EXPECT_NEAR(b.a1, 0.5f * (from.a1 + to.a1), 1e-6f);
    EXPECT_NEAR(b.b0, 0.5f * (from.b0 + to.b0), 1e-7f);
    for (int n = 0; n < 32; ++n)
        b.process(0.0f);
    EXPECT_EQ(b.b0, to.b0);
    EXPECT_EQ(b.b1, to.b1);
    EXPECT_EQ(b.b2, to.b2);
    EXPECT_EQ(b.a1, to.a1);
    EXPECT_EQ(b.a2, to.a2);
    EXPECT_EQ(b.remaining, 0);
    b.rampTo(from, 1);
    EXPECT_EQ(b.a1, from.a1);
}

TEST(Biquad, CookbookHighShelfReachesItsGainAboveTheCornerAndHalfOfItAtTheCorner)
{
    const float A = std::pow(10.0f, 8.0f / 40.0f);
    const BiquadCoefficients c = designHighShelf(5000.0f, A, 48000.0f);
    EXPECT_NEAR(responseDb(c, 5000.0, 48000.0), 4.0, 1e-3);
    EXPECT_NEAR(responseDb(c, 23999.0, 48000.0), 8.0, 1e-3);
    EXPECT_NEAR(responseDb(c, 20.0, 48000.0), 0.0, 1e-3);
}

TEST(Biquad, SectionsCompareBitwise)
{
    Biquad a;
    a.setCoefficients(designFilter(FilterType::HighPass, 100.0f, 0.7f, 48000.0f));
    Biquad b = a;
    EXPECT_TRUE(a.sameAs(b));
    b.process(0.1f);
    EXPECT_FALSE(a.sameAs(b));
}
