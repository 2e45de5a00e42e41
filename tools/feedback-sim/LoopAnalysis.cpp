#include "feedback-sim/LoopAnalysis.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::sim {

OpenLoopResponse openLoopResponse(const std::vector<float>& room, const std::vector<double>& chainImpulse,
    int loopDelaySamples, double sampleRate, int oversample)
{
    const size_t span = room.size() + std::max<size_t>(chainImpulse.size(), 1)
        + static_cast<size_t>(std::max(0, loopDelaySamples));
    const size_t n = nextPowerOfTwo(span * static_cast<size_t>(std::max(1, oversample)));
    std::vector<std::complex<double>> a(n, 0.0), b(n, 0.0);
    std::copy(room.begin(), room.end(), a.begin());
    if (chainImpulse.empty())
        b[0] = 1.0;
    else
        std::copy(chainImpulse.begin(), chainImpulse.end(), b.begin());
    fftInPlace(a, false);
    fftInPlace(b, false);
    OpenLoopResponse r;
    r.sampleRate = sampleRate;
    r.binHz = sampleRate / static_cast<double>(n);
    r.bins.resize(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k) {
        // The loop delay as an exact phase term: it need not fit the transform length.
        const std::complex<double> delay = std::polar(
            1.0, -2.0 * M_PI * static_cast<double>(k) * loopDelaySamples / static_cast<double>(n));
        r.bins[k] = a[k] * b[k] * delay;
    }
    return r;
}

OpenLoopResponse OpenLoopResponse::withSections(const std::vector<Sos>& sections) const
{
    OpenLoopResponse r = *this;
    for (size_t k = 0; k < r.bins.size(); ++k)
        for (const Sos& s : sections)
            r.bins[k] *= s.response(static_cast<double>(k) * binHz, sampleRate);
    return r;
}

namespace {

void binRange(const OpenLoopResponse& r, double loHz, double hiHz, size_t& first, size_t& last)
{
    first = static_cast<size_t>(std::max(0.0, std::ceil(loHz / r.binHz)));
    last = std::min(r.bins.size() - 1, static_cast<size_t>(std::max(0.0, std::floor(hiHz / r.binHz))));
}

double toLimitDb(double peak)
{
    return peak > 0.0 ? -20.0 * std::log10(peak) : 200.0;
}

} // namespace

double magnitudeLimitDb(const OpenLoopResponse& r, double loHz, double hiHz)
{
    size_t first = 0, last = 0;
    binRange(r, loHz, hiHz, first, last);
    double peak = 0.0;
    for (size_t k = first; k <= last; ++k)
        peak = std::max(peak, std::abs(r.bins[k]));
    return toLimitDb(peak);
}

double nyquistLimitDb(const OpenLoopResponse& r, double loHz, double hiHz, double* atHz)
{
    size_t first = 0, last = 0;
    binRange(r, loHz, hiHz, first, last);
    double peak = 0.0, where = 0.0;
    for (size_t k = first; k + 1 <= last; ++k) {
        const std::complex<double> a = r.bins[k], b = r.bins[k + 1];
        if (a.imag() == 0.0 && a.real() > peak) {
            peak = a.real();
            where = static_cast<double>(k) * r.binHz;
        }
        if ((a.imag() < 0.0) == (b.imag() < 0.0) || a.imag() == 0.0)
            continue;
        const double t = a.imag() / (a.imag() - b.imag());
        const double re = a.real() + t * (b.real() - a.real());
        if (re > peak) {
            peak = re;
            where = (static_cast<double>(k) + t) * r.binHz;
        }
    }
    if (atHz != nullptr)
        *atHz = where;
    return toLimitDb(peak);
}

NotchBound notchBound(const OpenLoopResponse& r, double loHz, double hiHz, int notches,
    double bandwidthOctaves, bool phaseAware)
{
    const double rate = r.sampleRate;
    return notchBound(
        r, loHz, hiHz, notches, [=](double hz) { return designNotch(hz, bandwidthOctaves, rate); },
        phaseAware);
}

NotchBound notchBound(const OpenLoopResponse& r, double loHz, double hiHz, int notches,
    const std::function<Sos(double)>& designNotch, bool phaseAware)
{
    NotchBound b;
    auto limitOf = [&](const OpenLoopResponse& x, double* atHz) {
        if (phaseAware)
            return nyquistLimitDb(x, loHz, hiHz, atHz);
        size_t first = 0, last = 0;
        binRange(x, loHz, hiHz, first, last);
        size_t best = first;
        for (size_t k = first; k <= last; ++k)
            if (std::abs(x.bins[k]) > std::abs(x.bins[best]))
                best = k;
        *atHz = static_cast<double>(best) * x.binHz;
        return toLimitDb(std::abs(x.bins[best]));
    };
    OpenLoopResponse current = r;
    double at = 0.0;
    b.limitDb = limitOf(current, &at);
    for (int i = 0; i < notches; ++i) {
        const Sos notch = designNotch(at);
        b.notchHz.push_back(at);
        b.sections.push_back(notch);
        current = current.withSections({notch});
        b.boundDb = limitOf(current, &at);
    }
    if (notches <= 0)
        b.boundDb = b.limitDb;
    return b;
}

} // namespace brindlecot::sim
