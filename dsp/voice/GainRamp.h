// Linear gain ramp in the linear-gain domain: a target change starts a full-length ramp from the
// value reached, so automation never clicks. Used for input gain, output gain and the bypass mix.
#pragma once

#include <cstdint>

namespace brindlecot::dsp {

struct GainRamp
{
    float current = 1.0f; // value applied to the current sample
    float target = 1.0f; // last target set
    float increment = 0.0f; // per-sample step of the running ramp
    int32_t length = 1; // ramp length in samples, at least 1
    int32_t remaining = 0; // samples left in the running ramp; 0 when idle

    /// Ramp length for a sample rate: max(1, trunc(sampleRate * 20 ms)).
    static int32_t lengthFor(double sampleRate);

    /// Sets the length and starts at `value` with nothing running.
    void prepare(double sampleRate, float value);

    /// Starts a full-length ramp toward t when t differs from the last target.
    void setTarget(float t)
    {
        if (t == target)
            return;
        target = t;
        remaining = length;
        increment = (t - current) / static_cast<float>(length);
    }

    /// Steps once and returns the value for this sample; lands exactly on the target.
    float advance()
    {
        if (remaining > 0) {
            current += increment;
            if (--remaining == 0)
                current = target;
        }
        return current;
    }

    bool running() const { return remaining > 0; }
};

} // namespace brindlecot::dsp
