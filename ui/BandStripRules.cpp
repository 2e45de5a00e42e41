#include "ui/BandStripRules.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::ui {

namespace {
void limits(const BandRange& range, double& lo, double& hi)
{
    lo = std::max(1.0, range.minHz);
    hi = std::max(1.0001 * lo, range.maxHz);
}
} // namespace

BandStripGeometry bandStripGeometry(const Rect& control, float scale)
{
    return {control.left + 6.0f * scale, control.right - 6.0f * scale, control.centreY()};
}

float bandPosition(int handle, const BandRange& range, double frequencyHz)
{
    double lo = 0.0, hi = 0.0;
    limits(range, lo, hi);
    const double v = std::clamp(std::isfinite(frequencyHz) ? frequencyHz : lo, lo, hi);
    const double o = std::clamp(std::log(v / lo) / std::log(hi / lo), 0.0, 1.0);
    return static_cast<float>(handle == 0 ? 0.5 * o : 0.5 + 0.5 * o);
}

static float stripFraction(const BandStripGeometry& g, float x)
{
    return std::clamp((x - g.xL) / std::max(1.0f, g.xR - g.xL), 0.0f, 1.0f);
}

int nearestBandHandle(const BandStripGeometry& g, float x, float position0, float position1)
{
    const float t = stripFraction(g, x);
    return std::fabs(t - position0) <= std::fabs(t - position1) ? 0 : 1;
}

double bandFrequencyAt(const BandStripGeometry& g, int handle, const BandRange& range, float x)
{
    const double t = stripFraction(g, x);
    const double b = handle == 0 ? 0.0 : 0.5;
    const double u = std::clamp((t - b) / std::max(0.000001, 0.5), 0.0, 1.0);
    double lo = 0.0, hi = 0.0;
    limits(range, lo, hi);
    return lo * std::pow(hi / lo, u);
}

BandSpan bandSpan(float position0, float position1, bool highPassOn, bool lowPassOn)
{
    return {highPassOn ? position0 : 0.0f, lowPassOn ? position1 : 1.0f};
}

} // namespace brindlecot::ui
