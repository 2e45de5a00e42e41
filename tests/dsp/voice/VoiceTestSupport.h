// Helpers for the voice-chain tests: sine generation in single precision, least-squares amplitude
// of one frequency component, and the numpy reference table in tests/data/voice.
#pragma once

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace brindlecot::test {

inline std::vector<float> sineF(double frequencyHz, double amplitude, double sampleRate, int frames)
{
    std::vector<float> x(static_cast<size_t>(frames));
    for (int n = 0; n < frames; ++n)
        x[static_cast<size_t>(n)]
            = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequencyHz * n / sampleRate));
    return x;
}

/// Amplitude of the component at frequencyHz in y[from..), by a least-squares fit of
/// a sin + b cos + c (exact for a steady sinusoid whatever the number of cycles).
template <typename T>
double amplitudeAt(const std::vector<T>& y, double frequencyHz, double sampleRate, int from)
{
    double m[3][3] = {};
    double r[3] = {};
    for (size_t n = static_cast<size_t>(from); n < y.size(); ++n) {
        const double w = 2.0 * M_PI * frequencyHz * static_cast<double>(n) / sampleRate;
        const double v[3] = {std::sin(w), std::cos(w), 1.0};
        for (int i = 0; i < 3; ++i) {
            r[i] += v[i] * static_cast<double>(y[n]);
            for (int j = 0; j < 3; ++j)
                m[i][j] += v[i] * v[j];
        }
    }
    // Gaussian elimination on the 3x3 normal equations.
    for (int i = 0; i < 3; ++i) {
        for (int k = i + 1; k < 3; ++k) {
            const double f = m[k][i] / m[i][i];
            for (int j = i; j < 3; ++j)
                m[k][j] -= f * m[i][j];
            r[k] -= f * r[i];
        }
    }
    double s[3];
    for (int i = 2; i >= 0; --i) {
        double acc = r[i];
        for (int j = i + 1; j < 3; ++j)
            acc -= m[i][j] * s[j];
        s[i] = acc / m[i][i];
    }
    return std::hypot(s[0], s[1]);
}

inline double toDb(double linear)
{
    return 20.0 * std::log10(linear);
}

/// Rows of tests/data/voice/voice_reference.csv for one case: (x, value).
inline std::vector<std::pair<double, double>> referenceRows(const std::string& name)
{
    std::ifstream in(std::string(VELARUNE_TEST_DATA) + "/voice/voice_reference.csv");
    std::vector<std::pair<double, double>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        std::string c, x, v;
        if (std::getline(ss, c, ',') && std::getline(ss, x, ',') && std::getline(ss, v) && c == name)
            rows.emplace_back(std::stod(x), std::stod(v));
    }
    return rows;
}

} // namespace brindlecot::test
