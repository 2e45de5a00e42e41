#include "plugin/HostParameters.h"

#include <cmath>

namespace brindlecot {

juce::String parameterIdFor(const ParamSpec& info)
{
    juce::String id;
    for (const char* c = info.name; *c != '\0'; ++c)
        if (juce::CharacterFunctions::isLetterOrDigit(*c))
            id += juce::String::charToString(juce::CharacterFunctions::toLowerCase(*c));
    return id;
}

std::unique_ptr<juce::RangedAudioParameter> makeHostParameter(const ParamSpec& info)
{
    const juce::ParameterID id {parameterIdFor(info), 1};
    const juce::String name = info.name;

    if (info.kind == ParamKind::Boolean) {
        auto attributes
            = juce::AudioParameterBoolAttributes()
                  .withStringFromValueFunction([](bool on, int) { return juce::String(on ? "on" : "off"); })
                  .withValueFromStringFunction([](const juce::String& text) {
                      const auto t = text.trim().toLowerCase();
                      return t == "on" || t == "1" || t == "true";
                  });
        return std::make_unique<juce::AudioParameterBool>(id, name, isOn(info.defaultValue), attributes);
    }
    if (info.kind == ParamKind::Enumeration)
        return std::make_unique<juce::AudioParameterChoice>(
            id, name, juce::StringArray {"Low", "High"}, static_cast<int>(info.defaultValue));

    juce::NormalisableRange<float> range(
        static_cast<float>(info.minValue), static_cast<float>(info.maxValue));
    if (info.shape == ParamShape::Exponential) {
        // n -> min * (max/min)^n: equal host steps are equal frequency ratios.
        range = juce::NormalisableRange<float>(
            static_cast<float>(info.minValue), static_cast<float>(info.maxValue),
            [](float start, float end, float n) { return start * std::pow(end / start, n); },
            [](float start, float end, float v) { return std::log(v / start) / std::log(end / start); });
    }
    const ParamSpec* s = &info; // the table is static
    auto attributes
        = juce::AudioParameterFloatAttributes()
              .withLabel(info.unit)
              .withStringFromValueFunction(
                  [s](float v, int) { return juce::String(formatValue(*s, static_cast<double>(v))); })
              .withValueFromStringFunction([](const juce::String& text) { return text.getFloatValue(); });
    return std::make_unique<juce::AudioParameterFloat>(
        id, name, range, static_cast<float>(info.defaultValue), attributes);
}

} // namespace brindlecot
