// JUCE parameter objects built from the framework-free parameter table: exact names, ranges,
// defaults, unit labels, exponential shape for frequencies and the step-implied display decimals.
#pragma once

#include "engine/Parameters.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

namespace brindlecot {

/// Stable string identifier for JUCE ("Bleed Reduction" -> "bleedreduction"); VST3 hosts see the index.
juce::String parameterIdFor(const ParamSpec& info);

std::unique_ptr<juce::RangedAudioParameter> makeHostParameter(const ParamSpec& info);

/// The parameter's value in its own unit (dB, Hz, percent, 0/1).
inline double plainValueOf(const juce::RangedAudioParameter& p)
{
    return static_cast<double>(p.convertFrom0to1(p.getValue()));
}

} // namespace brindlecot
