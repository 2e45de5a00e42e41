#include "controls/CaptionControl.h"

#include "engine/Parameters.h"
#include "ui/LevelMeterRules.h"

namespace brindlecot::controls {

CaptionControl::CaptionControl(juce::RangedAudioParameter* parameter, editor::TextStyle style)
    : binding_(parameter, [this] { repaint(); })
    , style_(std::move(style))
{ }

juce::String CaptionControl::text() const
{
    const int index = binding_.index();
    if (index < 0 || index >= kNumParams)
        return {};
    return juce::String::fromUTF8(formatValueWithUnit(paramSpec(index), binding_.plain()).c_str());
}

void CaptionControl::paint(juce::Graphics& g)
{
    style_.draw(g, text(), getLocalBounds().toFloat());
}

void CaptionControl::mouseDown(const juce::MouseEvent&)
{
    openEntry();
}

void CaptionControl::openEntry()
{
    const int index = binding_.index();
    if (index < 0 || index >= kNumParams)
        return;
    TextEntry::Options options;
    options.font = style_.font;
    options.bounds = getLocalBounds();
    options.text = juce::String::fromUTF8(formatValue(paramSpec(index), binding_.plain()).c_str());
    entry_.open(*this, options, [this](bool commit, const std::string& typed) { entered(commit, typed); });
}

void CaptionControl::entered(bool commit, const std::string& typed)
{
    if (!commit)
        return;
    const auto parsed = ui::parseLeadingNumber(typed);
    if (!parsed)
        return;
    const float v = juce::jlimit(binding_.minimum(), binding_.maximum(), static_cast<float>(*parsed));
    binding_.setNormalisedAsGesture(binding_.toNormalised(v));
    repaint();
}

} // namespace brindlecot::controls
