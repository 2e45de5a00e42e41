#include "diag/DiagnosticCsv.h"

#include "DiagTestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

using namespace brindlecot;

TEST(DiagnosticCsv, HeaderNamesEveryColumnWithTheNotchPairsInterleavedAndEndsWithCrLf)
{
    EXPECT_EQ(diagnosticCsvHeader(),
        "block,transport,playhead_seconds,event,frequency_hz,notch_depth_db,reduction_db,bleed_explained_db,"
        "notch_count,bleed_amount,feedback_amount,input_gain_db,output_gain_db,ceiling_reduction_db,"
        "candidate_hz,prominence_db,growth_db,window_rms,frames,directionality,loud,prominent,growing,"
        "isolated,notch0_hz,notch0_db,notch1_hz,notch1_db,notch2_hz,notch2_db,notch3_hz,notch3_db,"
        "dropped\r\n");
}

TEST(DiagnosticCsv, RowWritesFloatsWithFourDecimalsIntegersPlainAndTheEventByName)
{
    DiagnosticRecord r;
    r.block = 18446744073709551615ull;
    r.transport = true;
    r.playheadSeconds = 12.345678;
    r.event = static_cast<uint8_t>(DiagnosticEvent::engaged);
    r.frequencyHz = 1234.5f;
    r.notchDepthDb = -3.25f;
    r.reductionDb = -24.0f;
    r.bleedExplainedDb = -0.00001f; // rounds to a signed zero, as fixed notation does
    r.notchCount = 2;
    r.bleedAmount = 0.8f;
    r.feedbackAmount = 1.0f;
    r.inputGainDb = -60.0f;
    r.outputGainDb = 12.0f;
    r.ceilingReductionDb = -120.0f;
    r.candidateHz = 3150.0f;
    r.prominenceDb = 0.03125f; // exactly half a unit in the last place: rounds to even
    r.growthDb = 1.0e6f;
    r.windowRms = 0.123456f;
    r.frames = -1;
    r.directionality = 1.0f;
    r.loud = true;
    r.prominent = false;
    r.growing = true;
    r.isolated = false;
    r.notchHz = {3150.0f, 0.0f, 440.25f, 20000.0f};
    r.notchDb = {-12.5f, 0.0f, -0.75f, -30.0f};
    r.dropped = 42;
    EXPECT_EQ(diagnosticCsvRow(r),
        "18446744073709551615,1,12.3457,engaged,1234.5000,-3.2500,-24.0000,-0.0000,2,0.8000,1.0000,"
        "-60.0000,12.0000,-120.0000,3150.0000,0.0312,1000000.0000,0.1235,-1,1.0000,1,0,1,0,"
        "3150.0000,-12.5000,0.0000,0.0000,440.2500,-0.7500,20000.0000,-30.0000,42\r\n");
}

TEST(DiagnosticCsv, EveryEventHasItsNameAndAnyOtherValueReadsUnknown)
{
    DiagnosticRecord r;
    const char* names[] = {"engaged", "released", "retuned", "status", "unknown", "unknown"};
    const uint8_t values[] = {0, 1, 2, 3, 4, 255};
    for (size_t i = 0; i < 6; ++i) {
        r.event = values[i];
        const auto cells = test::splitCsv(diagnosticCsvRow(r));
        ASSERT_EQ(cells.size(), 33u);
        EXPECT_EQ(cells[3], names[i]);
    }
}

TEST(DiagnosticCsv, FloatColumnsMatchPrintfFixedFourDecimalsOverAWideRange)
{
    // printf in the C locale is the independent reference for fixed notation and its rounding.
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-8, 8);
    DiagnosticRecord r;
    for (int i = 0; i < 2000; ++i) {
        r.frequencyHz = mantissa(rng) * std::pow(10.0f, static_cast<float>(exponent(rng)));
        r.playheadSeconds = static_cast<double>(mantissa(rng)) * 1.0e5;
        char f[64], p[64];
        std::snprintf(f, sizeof f, "%.4f", static_cast<double>(r.frequencyHz));
        std::snprintf(p, sizeof p, "%.4f", r.playheadSeconds);
        const auto cells = test::splitCsv(diagnosticCsvRow(r));
        ASSERT_EQ(cells[4], f);
        ASSERT_EQ(cells[2], p);
    }
}

TEST(DiagnosticCsv, NonFiniteValuesStayInTheirOwnColumn)
{
    DiagnosticRecord r;
    r.frequencyHz = std::numeric_limits<float>::quiet_NaN();
    r.growthDb = std::numeric_limits<float>::infinity();
    r.playheadSeconds = -std::numeric_limits<double>::max();
    const std::string row = diagnosticCsvRow(r);
    const auto cells = test::splitCsv(row.substr(0, row.size() - 2));
    ASSERT_EQ(cells.size(), 33u);
    EXPECT_EQ(cells[16], "inf");
    EXPECT_NE(cells[4].find("nan"), std::string::npos);
    EXPECT_EQ(cells[2].substr(cells[2].size() - 5), ".0000");
}
