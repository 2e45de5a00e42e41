// A processor with its preset actions, an empty presets folder per test, and helpers that deliver
// mouse events to a component at a point (as the component's own handlers receive them).
#pragma once

#include "plugin/BrindlecotDeFeedback.h"
#include "plugin/PresetActions.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brindlecot::test {

struct ProcessorFixture
{
    ProcessorFixture();
    ~ProcessorFixture();

    std::unique_ptr<BrindlecotDeFeedback> processor;
    std::unique_ptr<PresetActions> actions;

    juce::RangedAudioParameter& param(int index) const;
    /// Sets a parameter to a value in its own unit, as a host would (no gesture).
    void setPlain(int index, float value) const;
    float plain(int index) const;
};

/// Records what the host hears from the processor: gestures, parameter changes, state-dirty calls.
struct HostListener : juce::AudioProcessorListener
{
    std::vector<std::string> events; // "begin 3", "set 3", "end 3"
    int dirtyCalls = 0;

    void audioProcessorParameterChanged(juce::AudioProcessor*, int index, float) override
    {
        events.push_back("set " + std::to_string(index));
    }
    void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor*, int index) override
    {
        events.push_back("begin " + std::to_string(index));
    }
    void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor*, int index) override
    {
        events.push_back("end " + std::to_string(index));
    }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
    {
        if (details.nonParameterStateChanged)
            ++dirtyCalls;
    }
};

void mouseDownAt(juce::Component& c, juce::Point<float> p);
void mouseMoveTo(juce::Component& c, juce::Point<float> p);
void mouseLeave(juce::Component& c);
/// Delivers the messages already posted to the message thread.
void pumpMessages();
/// Paints a component into an image (and writes it as PNG under the snapshot folder).
juce::Image snapshot(juce::Component& c, const std::string& name);

} // namespace brindlecot::test
