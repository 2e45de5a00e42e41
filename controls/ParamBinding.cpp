#include "controls/ParamBinding.h"

namespace brindlecot::controls {

ParamBinding::ParamBinding(juce::RangedAudioParameter* parameter, std::function<void()> onChange)
    : onChange_(std::move(onChange))
{
    rebind(parameter);
}

void ParamBinding::rebind(juce::RangedAudioParameter* parameter)
{
    if (inGesture_)
        endGesture();
    attachment_.reset();
    parameter_ = parameter;
    if (parameter_ != nullptr)
        attachment_ = std::make_unique<juce::ParameterAttachment>(
            *parameter_,
            [this](float) {
                if (onChange_)
                    onChange_();
            },
            nullptr);
}

float ParamBinding::plain() const
{
    return parameter_ != nullptr ? parameter_->convertFrom0to1(parameter_->getValue()) : 0.0f;
}

float ParamBinding::normalised() const
{
    return parameter_ != nullptr ? parameter_->getValue() : 0.0f;
}

float ParamBinding::minimum() const
{
    return parameter_ != nullptr ? parameter_->getNormalisableRange().start : 0.0f;
}

float ParamBinding::maximum() const
{
    return parameter_ != nullptr ? parameter_->getNormalisableRange().end : 1.0f;
}

float ParamBinding::defaultNormalised() const
{
    return parameter_ != nullptr ? parameter_->getDefaultValue() : 0.0f;
}

float ParamBinding::toNormalised(float plain) const
{
    return parameter_ != nullptr ? parameter_->convertTo0to1(plain) : 0.0f;
}

float ParamBinding::fromNormalised(float normalised) const
{
    return parameter_ != nullptr ? parameter_->convertFrom0to1(normalised) : 0.0f;
}

void ParamBinding::beginGesture()
{
    if (parameter_ == nullptr || inGesture_)
        return;
    inGesture_ = true;
    parameter_->beginChangeGesture();
}

void ParamBinding::setNormalisedInGesture(float normalised)
{
    if (parameter_ == nullptr)
        return;
    const float n = juce::jlimit(0.0f, 1.0f, normalised);
    if (n != parameter_->getValue())
        parameter_->setValueNotifyingHost(n);
    if (onChange_)
        onChange_();
}

void ParamBinding::endGesture()
{
    if (parameter_ == nullptr || !inGesture_)
        return;
    inGesture_ = false;
    parameter_->endChangeGesture();
}

void ParamBinding::setNormalisedAsGesture(float normalised)
{
    beginGesture();
    setNormalisedInGesture(normalised);
    endGesture();
}

} // namespace brindlecot::controls
