// A control's link to one host parameter: reads the value, reports edits to the host in
// begin/set/end gestures (one gesture per drag, so automation records one move), and calls back on
// the message thread whenever the value changes from anywhere (host automation, state restore).
#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <memory>

namespace brindlecot::controls {

class ParamBinding
{
public:
    ParamBinding(juce::RangedAudioParameter* parameter, std::function<void()> onChange);

    /// Points the binding at another parameter (the saturation knob follows "BEEF Knob").
    void rebind(juce::RangedAudioParameter* parameter);

    juce::RangedAudioParameter* parameter() const { return parameter_; }
    int index() const { return parameter_ != nullptr ? parameter_->getParameterIndex() : -1; }
    float plain() const;
    float normalised() const;
    float minimum() const;
    float maximum() const;
    float defaultNormalised() const;
    float toNormalised(float plain) const;
    float fromNormalised(float normalised) const;

    void beginGesture();
    void setNormalisedInGesture(float normalised);
    void endGesture();
    /// begin + set + end in one step (clicks and typed entries).
    void setNormalisedAsGesture(float normalised);

private:
    juce::RangedAudioParameter* parameter_ = nullptr;
    std::function<void()> onChange_;
    std::unique_ptr<juce::ParameterAttachment> attachment_;
    bool inGesture_ = false;
};

} // namespace brindlecot::controls
