#include "controls/MenuButtonControl.h"

namespace brindlecot::controls {

MenuButtonControl::MenuButtonControl(ui::MainMenu menu, MenuButtonStyle style)
    : menu_(std::move(menu))
    , style_(style)
{
    setMouseCursor(juce::MouseCursor::PointingHandCursor);
    showPopup = [](juce::PopupMenu popup, juce::Rectangle<int> screenArea, std::function<void(int)> done) {
        popup.showMenuAsync(juce::PopupMenu::Options().withTargetScreenArea(screenArea), std::move(done));
    };
}

juce::PopupMenu MenuButtonControl::buildPopup()
{
    juce::PopupMenu popup;
    const auto& items = menu_.build();
    for (size_t i = 0; i < items.size(); ++i) {
        const auto& m = items[i];
        if (m.separator)
            popup.addSeparator();
        else
            popup.addItem(
                static_cast<int>(i) + 1, juce::String::fromUTF8(m.text.c_str()), m.enabled, m.ticked);
    }
    return popup;
}

void MenuButtonControl::showMenu(juce::Component* target, juce::Rectangle<int> anchor)
{
    if (target == nullptr) {
        target = this;
        anchor = getLocalBounds();
    }
    juce::Component::SafePointer<MenuButtonControl> self(this);
    if (showPopup)
        showPopup(buildPopup(), target->localAreaToGlobal(anchor), [self](int result) {
            if (self != nullptr)
                self->menuResult(result);
        });
}

void MenuButtonControl::menuResult(int itemId)
{
    menu_.select(itemId - 1);
    repaint();
}

void MenuButtonControl::paint(juce::Graphics& g)
{
    const auto r = getLocalBounds().toFloat();
    if (hovering_) {
        g.setColour(style_.hover);
        g.fillRoundedRectangle(r, 0.25f * r.getHeight());
    }
    const float len = 0.46f * r.getWidth();
    const float thick = std::max(1.0f, 0.085f * r.getHeight());
    g.setColour(hovering_ ? style_.iconHover : style_.icon);
    for (const float dy : {-0.21f, 0.0f, 0.21f}) {
        const float y = r.getCentreY() + dy * r.getHeight();
        g.fillRoundedRectangle(r.getCentreX() - 0.5f * len, y - 0.5f * thick, len, thick, 0.5f * thick);
    }
}

void MenuButtonControl::mouseDown(const juce::MouseEvent&)
{
    showMenu();
}

void MenuButtonControl::mouseEnter(const juce::MouseEvent&)
{
    hovering_ = true;
    repaint();
}

void MenuButtonControl::mouseExit(const juce::MouseEvent&)
{
    hovering_ = false;
    repaint();
}

} // namespace brindlecot::controls
