#include "controls/PresetBarControl.h"

#include "store/PresetStore.h"

#include <algorithm>

namespace brindlecot::controls {

namespace {
constexpr int kMaxNameCharacters = 80;

juce::String fromUtf8(const std::string& s)
{
    return juce::String::fromUTF8(s.c_str(), static_cast<int>(s.size()));
}
} // namespace

PresetBarControl::PresetBarControl(PresetBarStyle style)
    : style_(std::move(style))
{
    setOpaque(true);
    showPopup = [](juce::PopupMenu menu, juce::Rectangle<int> screenArea, std::function<void(int)> done) {
        menu.showMenuAsync(juce::PopupMenu::Options().withTargetScreenArea(screenArea), std::move(done));
    };
}

PresetBarControl::~PresetBarControl() = default;

PresetBarControl::Geometry PresetBarControl::geometry() const
{
    Geometry g;
    const auto b = getLocalBounds().toFloat();
    const float L = b.getX(), T = b.getY(), R = b.getRight(), B = b.getBottom();
    const float s = style_.scale;
    g.e = std::max(2.0f, 0.18f * (B - T));
    g.f = (B - T) - 2.0f * g.e;
    const float f = g.f;
    const float top = T + g.e;
    const float gap = 0.5f * f, h = 0.16f * f, w = 3.4f * f;
    const auto box = [&](float left, float width) { return juce::Rectangle<float>(left, top, width, f); };

    float m = R - style_.rightMargin * s;
    if (openMenu) {
        g.zones[kMenu] = box(m - 0.73f * f, f);
        m = (m - 0.73f * f) - gap;
    }
    float o = L + style_.leftMargin * s - 0.28f * f;
    if (style_.caption.isNotEmpty())
        o += 120.0f * s;
    g.zones[kPrevious] = box(o, f);
    const float t = 2.0f * f + gap + 3.0f * w + 2.0f * h;
    const float nw = std::max(f, std::min(210.0f * s + t, m - o) - t);
    g.zones[kNameBox] = box(o + f, nw);
    const float r = o + f + nw;
    g.zones[kNext] = box(r, f);
    g.zones[kSave] = box(r + 1.5f * f, w);
    g.zones[kSaveAs] = box(g.zones[kSave].getRight() + h, w);
    g.zones[kDelete] = box(g.zones[kSaveAs].getRight() + h, w);
    return g;
}

juce::Rectangle<float> PresetBarControl::zoneRect(Zone zone) const
{
    return geometry().zones[zone];
}

PresetBarControl::Zone PresetBarControl::zoneAt(juce::Point<float> p) const
{
    const auto g = geometry();
    for (int z = kPrevious; z <= kMenu; ++z) {
        if (z == kMenu && !openMenu)
            break;
        if (g.zones[z].contains(p))
            return static_cast<Zone>(z);
    }
    return kNone;
}

void PresetBarControl::refreshNames()
{
    names_ = listPresets ? listPresets() : std::vector<std::string> {};
    namesLoaded_ = true;
    hasNames_ = !names_.empty();
}

juce::String PresetBarControl::fitName(const juce::String& name, float width)
{
    if (name == fitSource_ && std::abs(width - fitWidth_) <= 0.5f)
        return fitResult_;
    juce::String result = name;
    if (style_.font.getStringWidthFloat(result) > width) {
        // juce::String works in whole code points, so a cut never splits a UTF-8 sequence.
        juce::String stem = name;
        const juce::String ellipsis = juce::String::charToString(juce::juce_wchar(0x2026));
        result = {};
        while (stem.isNotEmpty()) {
            stem = stem.dropLastCharacters(1);
            const auto candidate = stem + ellipsis;
            if (style_.font.getStringWidthFloat(candidate) <= width) {
                result = candidate;
                break;
            }
        }
    }
    fitSource_ = name;
    fitWidth_ = width;
    fitResult_ = result;
    return result;
}

juce::String PresetBarControl::displayedName()
{
    const std::string current = currentName ? currentName() : std::string {};
    if (current.empty())
        return "no preset";
    const auto g = geometry();
    const bool modified = isModified && isModified();
    const float room = g.zones[kNameBox].getWidth() - 2.0f * g.e
        - (modified ? style_.font.getStringWidthFloat("*") : 0.0f);
    return fitName(fromUtf8(current), room) + (modified ? "*" : "");
}

void PresetBarControl::drawButton(juce::Graphics& g, juce::Rectangle<float> r, const juce::String& text,
    bool enabled, bool hovered, bool highlighted) const
{
    const float radius = 0.25f * r.getHeight();
    g.setColour(style_.face);
    g.fillRoundedRectangle(r, radius);
    if (hovered && enabled) {
        g.setColour(style_.hover);
        g.fillRoundedRectangle(r, radius);
    }
    g.setColour(highlighted ? style_.highlight : style_.frame);
    g.drawRoundedRectangle(r.reduced(0.5f), radius, 1.0f);
    g.setColour(!enabled ? style_.dimText : highlighted ? style_.highlight : style_.text);
    g.setFont(style_.font);
    g.drawText(text, r, juce::Justification::centred, false);
}

void PresetBarControl::paint(juce::Graphics& g)
{
    if (!namesLoaded_)
        refreshNames();
    const std::string current = currentName ? currentName() : std::string {};
    const auto geo = geometry();
    const auto b = getLocalBounds().toFloat();

    g.fillAll(style_.bar);
    g.setColour(style_.hairline);
    g.fillRect(juce::Rectangle<float>::leftTopRightBottom(
        b.getX(), b.getBottom() - 1.0f, b.getRight(), b.getBottom()));

    g.setFont(style_.font);
    if (style_.caption.isNotEmpty()) {
        const float left = b.getX() + style_.leftMargin * style_.scale;
        const float right = geo.zones[kPrevious].getX() - geo.e;
        if (right > left) {
            g.setColour(style_.dimText);
            g.drawText(style_.caption,
                juce::Rectangle<float>::leftTopRightBottom(left, b.getY(), right, b.getBottom()),
                juce::Justification::centredLeft, false);
        }
    }

    // Name box.
    const auto nameBox = geo.zones[kNameBox];
    const float nameRadius = 0.25f * nameBox.getHeight();
    g.setColour(style_.face);
    g.fillRoundedRectangle(nameBox, nameRadius);
    if (hoverZone_ == kNameBox) {
        g.setColour(style_.hover);
        g.fillRoundedRectangle(nameBox, nameRadius);
    }
    g.setColour(style_.frame);
    g.drawRoundedRectangle(nameBox.reduced(0.5f), nameRadius, 1.0f);
    g.setColour(current.empty() ? style_.dimText : style_.text);
    g.setFont(style_.font);
    g.drawText(displayedName(), nameBox.reduced(geo.e, 0.0f), juce::Justification::centred, false);

    // Arrows: filled triangles, half-width 0.22 and half-height 0.26 of the box.
    for (const int z : {int(kPrevious), int(kNext)}) {
        const auto r = geo.zones[z];
        if (hoverZone_ == z && hasNames_) {
            g.setColour(style_.hover);
            g.fillRoundedRectangle(r, 0.25f * r.getHeight());
        }
        const auto c = r.getCentre();
        const float hw = 0.22f * r.getWidth(), hh = 0.26f * r.getHeight();
        const float dir = z == kNext ? 1.0f : -1.0f;
        juce::Path tri;
        tri.addTriangle(c.x + dir * hw, c.y, c.x - dir * hw, c.y - hh, c.x - dir * hw, c.y + hh);
        g.setColour(hasNames_ ? style_.text : style_.dimText);
        g.fillPath(tri);
    }

    const bool armed = !current.empty() && current == armedName_;
    drawButton(g, geo.zones[kSave], "Save", !current.empty(), hoverZone_ == kSave, false);
    drawButton(g, geo.zones[kSaveAs], "Save as", true, hoverZone_ == kSaveAs, false);
    drawButton(
        g, geo.zones[kDelete], armed ? "Sure?" : "Delete", !current.empty(), hoverZone_ == kDelete, armed);

    if (openMenu) {
        const auto r = geo.zones[kMenu];
        const bool hovered = hoverZone_ == kMenu;
        if (hovered) {
            g.setColour(style_.hover);
            g.fillRoundedRectangle(r, 0.25f * r.getHeight());
        }
        const float len = 0.46f * r.getWidth();
        const float thick = std::max(1.0f, 0.085f * r.getHeight());
        g.setColour(hovered ? style_.text : style_.dimText);
        for (const float dy : {-0.21f, 0.0f, 0.21f}) {
            const float y = r.getCentreY() + dy * r.getHeight();
            g.fillRoundedRectangle(r.getCentreX() - 0.5f * len, y - 0.5f * thick, len, thick, 0.5f * thick);
        }
    }
}

void PresetBarControl::step(int d)
{
    refreshNames();
    if (names_.empty())
        return;
    const std::string current = currentName ? currentName() : std::string {};
    const std::string next = steppedPresetName(names_, current, d);
    if (loadPreset && !next.empty())
        loadPreset(next);
    repaint();
}

void PresetBarControl::openListMenu()
{
    refreshNames();
    menuList_ = names_;
    if (menuList_.empty())
        return;
    const std::string current = currentName ? currentName() : std::string {};
    juce::PopupMenu menu;
    for (size_t i = 0; i < menuList_.size(); ++i)
        menu.addItem(static_cast<int>(i) + 1, fromUtf8(menuList_[i]), true, menuList_[i] == current);
    juce::Component::SafePointer<PresetBarControl> self(this);
    const auto anchor = localAreaToGlobal(zoneRect(kNameBox).toNearestInt());
    if (showPopup)
        showPopup(menu, anchor, [self](int result) {
            if (self != nullptr)
                self->listMenuResult(result);
        });
}

void PresetBarControl::listMenuResult(int itemId)
{
    const int b = itemId - 1;
    if (b < 0 || b >= static_cast<int>(menuList_.size()))
        return;
    if (loadPreset)
        loadPreset(menuList_[static_cast<size_t>(b)]);
    repaint();
}

void PresetBarControl::openNameEntry()
{
    const auto geo = geometry();
    const auto box = geo.zones[kNameBox];
    const float width = std::max(220.0f * style_.scale, box.getWidth());
    TextEntry::Options options;
    options.font = style_.font;
    options.maxCharacters = kMaxNameCharacters;
    options.indents = juce::Point<int>(
        4, std::max(0, juce::roundToInt((box.getHeight() - style_.font.getHeight()) * 0.5f)));
    options.text = fromUtf8(currentName ? currentName() : std::string {});
    options.bounds
        = juce::Rectangle<float>(width, box.getHeight()).withCentre(box.getCentre()).toNearestInt();
    entry_.open(*this, options, [this](bool commit, const std::string& text) { nameEntered(commit, text); });
}

void PresetBarControl::completeNameEntry(bool commit)
{
    entry_.finish(commit);
}

void PresetBarControl::nameEntered(bool commit, const std::string& text)
{
    if (!commit || !savePreset)
        return;
    const std::string name = trimmedPresetName(text);
    if (name.empty())
        return;
    savePreset(name);
    refreshNames();
    repaint();
}

void PresetBarControl::mouseDown(const juce::MouseEvent& e)
{
    const Zone z = zoneAt(e.position);
    const std::string current = currentName ? currentName() : std::string {};
    const bool armed = !current.empty() && current == armedName_;
    if (z != kDelete) {
        if (!armedName_.empty()) {
            armedName_.clear();
            repaint();
        }
        switch (z) {
        case kPrevious:
            step(-1);
            break;
        case kNameBox:
            openListMenu();
            break;
        case kNext:
            step(+1);
            break;
        case kSave:
            if (!current.empty() && savePreset)
                savePreset(current);
            repaint();
            break;
        case kSaveAs:
            openNameEntry();
            break;
        case kMenu:
            if (openMenu)
                openMenu(zoneRect(kMenu).toNearestInt());
            break;
        default:
            break;
        }
        return;
    }
    if (current.empty())
        return;
    if (armed) {
        armedName_.clear();
        if (deletePreset)
            deletePreset(current);
        refreshNames();
    } else {
        armedName_ = current;
    }
    repaint();
}

void PresetBarControl::overPoint(juce::Point<float> p)
{
    const int z = zoneAt(p);
    if (z == hoverZone_)
        return;
    if (hoverZone_ == kNone)
        refreshNames();
    if (hoverZone_ == kDelete && z != kDelete)
        armedName_.clear();
    hoverZone_ = z;
    setMouseCursor(z != kNone ? juce::MouseCursor::PointingHandCursor : juce::MouseCursor::NormalCursor);
    repaint();
}

void PresetBarControl::mouseMove(const juce::MouseEvent& e)
{
    overPoint(e.position);
}

void PresetBarControl::mouseEnter(const juce::MouseEvent& e)
{
    overPoint(e.position);
}

void PresetBarControl::mouseExit(const juce::MouseEvent&)
{
    if (hoverZone_ != kNone || !armedName_.empty()) {
        hoverZone_ = kNone;
        armedName_.clear();
        repaint();
    }
}

void PresetBarControl::resized()
{
    fitWidth_ = -1.0f;
    if (entry_.editor() != nullptr)
        completeNameEntry(false);
}

} // namespace brindlecot::controls
