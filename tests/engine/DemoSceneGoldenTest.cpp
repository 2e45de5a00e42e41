// Whole-chain behaviour on the demo scene, reduced to 50 ms windowed levels and compared with the
// reviewed levels in tests/golden/demo-scene.csv. Re-bless after an intended change with
//   VELARUNE_BLESS=1 build/core/tests/velarune_tests --gtest_filter='DemoScene*'
// and review the git diff of the CSV.
#include "engine/ProcessingFrame.h"
#include "velarune-process/DemoSignal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace brindlecot;

namespace {

constexpr int kWindow = 2400; // 50 ms at 48 kHz

std::vector<double> windowedLevelsDb(const std::vector<double>& x)
{
    std::vector<double> levels;
    for (size_t start = 0; start + kWindow <= x.size(); start += kWindow) {
        double energy = 0.0;
        for (size_t n = start; n < start + kWindow; ++n)
            energy += x[n] * x[n];
        levels.push_back(std::max(-120.0, 10.0 * std::log10(energy / kWindow + 1e-30)));
    }
    return levels;
}

std::vector<double> processDemo(const ParameterValues& params)
{
    const auto in = tools::makeDemoSignal();
    std::vector<double> out(in.size());
    auto frame = std::make_unique<ProcessingFrame>(0);
    frame->loadModels();
    frame->onReset(tools::kDemoSampleRate, params);
    for (size_t pos = 0; pos < in.size(); pos += 512) {
        const int n = static_cast<int>(std::min<size_t>(512, in.size() - pos));
        const double* ip[1] = {in.data() + pos};
        double* op[1] = {out.data() + pos};
        frame->process(params, ip, 1, op, 1, n);
    }
    return out;
}

} // namespace

TEST(DemoScene, WindowedOutputLevelsMatchTheReviewedGoldenFile)
{
    ParameterValues params = defaultParameterValues();
    for (const auto& [index, value] : tools::demoSettings())
        params[static_cast<size_t>(index)] = value;
    const auto levels = windowedLevelsDb(processDemo(params));
    const std::string path = std::string(VELARUNE_GOLDEN_DIR) + "/demo-scene.csv";

    if (const char* bless = std::getenv("VELARUNE_BLESS"); bless != nullptr && std::string(bless) == "1") {
        std::ofstream file(path);
        file << "window_start_s,output_db\n";
        for (size_t i = 0; i < levels.size(); ++i)
            file << i * 0.05 << ',' << std::round(levels[i] * 100.0) / 100.0 << '\n';
        GTEST_SKIP() << "wrote " << path;
    }

    std::ifstream file(path);
    ASSERT_TRUE(file.good()) << "missing " << path;
    std::string line;
    std::getline(file, line);
    std::vector<double> golden;
    while (std::getline(file, line)) {
        std::istringstream row(line);
        std::string start;
        std::string level;
        std::getline(row, start, ',');
        std::getline(row, level);
        golden.push_back(std::stod(level));
    }
    ASSERT_EQ(golden.size(), levels.size());
    for (size_t i = 0; i < levels.size(); ++i)
        EXPECT_NEAR(levels[i], golden[i], 0.5) << "window at " << i * 0.05 << " s";
}
