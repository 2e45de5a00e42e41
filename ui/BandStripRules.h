// The filter strip: a logarithmic frequency scale split in two halves (high-pass corner on the
// left, 20..1000 Hz; low-pass on the right, 1000..20000 Hz), the nearest-handle rule for presses
// and the frequency a drag sets.
#pragma once

#include "ui/Layout.h"

namespace brindlecot::ui {

struct BandRange
{
    double minHz;
    double maxHz;
};

struct BandStripGeometry
{
    float xL, xR, cy;
    float x(float fraction) const { return xL + (xR - xL) * fraction; }
};

BandStripGeometry bandStripGeometry(const Rect& control, float scale);

/// Position (0..1 along the strip) of a corner: handle 0 (high-pass) in the left half, handle 1
/// (low-pass) in the right half.
float bandPosition(int handle, const BandRange& range, double frequencyHz);

/// Handle nearest to x (ties go to the high-pass handle).
int nearestBandHandle(const BandStripGeometry& g, float x, float position0, float position1);

/// Frequency a drag to x sets for a handle; each handle stays in its own half.
double bandFrequencyAt(const BandStripGeometry& g, int handle, const BandRange& range, float x);

/// The band drawn between the corners: h = position 0 when the high-pass is on, else 0;
/// m = position 1 when the low-pass is on, else 1.
struct BandSpan
{
    float from, to;
};
BandSpan bandSpan(float position0, float position1, bool highPassOn, bool lowPassOn);

} // namespace brindlecot::ui
