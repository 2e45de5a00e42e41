#include "dsp/voice/GainRamp.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

int32_t GainRamp::lengthFor(double sampleRate)
{
    const double samples = sampleRate * 20.0 * 0.001;
    if (!(samples >= 1.0))
        return 1;
    return static_cast<int32_t>(std::min(samples, 1.0e9));
}

void GainRamp::prepare(double sampleRate, float value)
{
    length = lengthFor(sampleRate);
    current = target = value;
    increment = 0.0f;
    remaining = 0;
}

} // namespace brindlecot::dsp
