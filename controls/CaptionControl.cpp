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
    entry_ = std::make_unique<juce::TextEditor>("value entry");
    entry_->setFont(style_.font);
    entry_->setJustification(juce::Justification::centred);
    entry_->setBounds(getLocalBounds());
    entry_->setText(juce::String::fromUTF8(formatValue(paramSpec(index), binding_.plain()).c_str()), false);
    entry_->selectAll();
    entry_->onReturnKey = [this] { finishEntry(true); };
    entry_->onEscapeKey = [this] { finishEntry(false); };
    entry_->onFocusLost = [this] { finishEntry(true); };
    addAndMakeVisible(*entry_);
    if (isShowing())
        entry_->grabKeyboardFocus();
}

void CaptionControl::finishEntry(bool commit)
{
    if (entry_ == nullptr || !entry_->isVisible())
        return;
    const auto typed = entry_->getText().toStdString();
    entry_->setVisible(false);
    // The entry is the caller of this callback: it goes away after the callback returns.
    juce::MessageManager::callAsync([safe = juce::Component::SafePointer<CaptionControl>(this)] {
        if (safe != nullptr)
            safe->entry_.reset();
    });
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
