#include "controls/UpdatePillControl.h"

namespace brindlecot::controls {

UpdatePillControl::UpdatePillControl(updates::UpdateCheck& check, UpdatePillStyle style, int idleTickHz)
    : check_(check)
    , style_(std::move(style))
{
    openLink = [](const juce::String& link) { juce::URL(link).launchInDefaultBrowser(); };
    if (idleTickHz > 0)
        startTimerHz(idleTickHz);
}

UpdatePillControl::~UpdatePillControl()
{
    stopTimer();
}

void UpdatePillControl::timerCallback()
{
    poll();
}

bool UpdatePillControl::poll()
{
    const int64_t count = check_.changeCount();
    if (count == seenChange_)
        return false;
    seenChange_ = count;
    refresh();
    repaint();
    return true;
}

int UpdatePillControl::preferredWidth() const
{
    if (label_.isEmpty())
        return 0;
    return juce::roundToInt(
        2.0f / 3.0f * static_cast<float>(getHeight()) + style_.font.getStringWidthFloat(label_));
}

void UpdatePillControl::refresh()
{
    // outcome() copies the strings under the check's lock; nothing else is read from it here.
    const auto outcome = check_.outcome();
    label_.clear();
    url_.clear();
    juce::Rectangle<int> rect;
    if (outcome.available && getWidth() > 0 && getHeight() > 0) {
        label_ = juce::String::fromUTF8(outcome.version.c_str()) + " AVAILABLE";
        url_ = juce::String::fromUTF8(outcome.link.c_str());
        const int pw = std::min(preferredWidth(), getWidth());
        rect = juce::Rectangle<int>::leftTopRightBottom(getWidth() - pw, 0, getWidth(), getHeight());
    }
    if (rect != pillRect_) {
        pillRect_ = rect;
        // A pill that vanishes under the pointer gives the arrow back.
        if (rect.isEmpty() && hovering_) {
            hovering_ = false;
            setMouseCursor(juce::MouseCursor::NormalCursor);
        }
        if (onPillRect)
            onPillRect(pillRect_);
    }
}

void UpdatePillControl::paint(juce::Graphics& g)
{
    if (pillRect_.isEmpty())
        refresh();
    if (pillRect_.isEmpty())
        return;
    const auto r = pillRect_.toFloat();
    const auto p = r.reduced(0.0f, 0.1f * r.getHeight());
    g.setColour(hovering_ ? style_.hover : style_.pill);
    g.fillRoundedRectangle(p, p.getHeight() / 6.0f);
    g.setColour(style_.text);
    g.setFont(style_.font);
    g.drawText(label_, p, juce::Justification::centred, false);
}

bool UpdatePillControl::hitTest(int x, int y)
{
    return !pillRect_.isEmpty() && pillRect_.contains(x, y);
}

void UpdatePillControl::mouseDown(const juce::MouseEvent&)
{
    if (url_.isNotEmpty() && openLink)
        openLink(url_);
}

void UpdatePillControl::mouseMove(const juce::MouseEvent& e)
{
    const bool inside = !pillRect_.isEmpty() && pillRect_.contains(e.getPosition());
    if (inside != hovering_) {
        hovering_ = inside;
        setMouseCursor(inside ? juce::MouseCursor::PointingHandCursor : juce::MouseCursor::NormalCursor);
        repaint();
    }
}

void UpdatePillControl::mouseExit(const juce::MouseEvent&)
{
    if (hovering_)
        setMouseCursor(juce::MouseCursor::NormalCursor);
    hovering_ = false;
    repaint();
}

void UpdatePillControl::resized()
{
    pillRect_ = {};
    refresh();
}

void UpdatePillControl::setFont(juce::Font font)
{
    style_.font = std::move(font);
    pillRect_ = {};
    refresh();
    repaint();
}

void UpdatePillControl::appendMenuItems(std::vector<ui::MenuItem>& items) const
{
    ui::appendUpdateCheckItems(check_, items);
}

void UpdatePillControl::selectMenuItem(int index)
{
    ui::selectUpdateCheckItem(check_, index, [this] {
        poll();
        repaint();
    });
}

} // namespace brindlecot::controls
