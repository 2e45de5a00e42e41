// The built Velarune.vst3, loaded through JUCE's own VST3 hosting as a host would load it.
#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <memory>

namespace brindlecot::test {

struct PluginHost
{
    juce::VST3PluginFormat format;
    juce::PluginDescription description;

    PluginHost()
    {
        juce::OwnedArray<juce::PluginDescription> found;
        format.findAllTypesForFile(found, juce::File(VELARUNE_VST3_BUNDLE).getFullPathName());
        if (!found.isEmpty())
            description = *found[0];
    }

    std::unique_ptr<juce::AudioPluginInstance> create(double rate = 48000.0, int block = 512)
    {
        juce::String error;
        auto instance = format.createInstanceFromDescription(description, rate, block, error);
        EXPECT_TRUE(instance != nullptr) << error;
        return instance;
    }
};

inline PluginHost& pluginHost()
{
    static PluginHost h;
    return h;
}

inline juce::AudioProcessorParameter* findParameter(juce::AudioPluginInstance& p, const juce::String& name)
{
    for (auto* param : p.getParameters())
        if (param->getName(100) == name)
            return param;
    return nullptr;
}

} // namespace brindlecot::test
