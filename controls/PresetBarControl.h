// The header strip: previous/next arrows around the current preset's name, Save, Save as, a
// two-click Delete ("Sure?" in amber on the first click) and, when openMenu is set, the menu
// button at the right end. It talks to the preset store only through the callbacks below and
// reads the list again whenever the pointer enters the bar, before stepping or opening the list,
// and after a Save as or a deletion, so files added outside the plug-in show up.
#pragma once

#include "controls/TextEntry.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <string>
#include <vector>

namespace brindlecot::controls {

/// Colours, text style and sizes of the bar; the defaults are the editor's palette at scale 1.
struct PresetBarStyle
{
    juce::Colour face = juce::Colour::fromRGBA(20, 20, 20, 255); // button and name box faces
    juce::Colour frame = juce::Colour::fromRGBA(250, 250, 250, 56); // button frames
    juce::Colour text = juce::Colour::fromRGBA(250, 250, 250, 255); // enabled text and arrows
    juce::Colour dimText = juce::Colour::fromRGBA(250, 250, 250, 107); // disabled, "no preset", idle icon
    juce::Colour hover = juce::Colour::fromRGBA(250, 250, 250, 18); // wash under the pointer
    juce::Colour highlight = juce::Colour::fromRGBA(255, 157, 46, 255); // the armed "Sure?" button
    juce::Colour bar = juce::Colour::fromRGBA(17, 17, 17, 255); // bar background
    juce::Colour hairline = juce::Colour::fromRGBA(250, 250, 250, 26); // line along the bottom edge
    juce::Font font {11.0f}; // the section style: Roboto-Regular 11 units times the scale
    float scale = 1.0f;
    juce::String caption; // optional text left of the arrows
    float leftMargin = 25.0f; // units times the scale
    float rightMargin = 25.0f;
};

class PresetBarControl : public juce::Component
{
public:
    enum Zone
    {
        kNone = 0,
        kPrevious,
        kNameBox,
        kNext,
        kSave,
        kSaveAs,
        kDelete,
        kMenu
    };

    explicit PresetBarControl(PresetBarStyle style = {});
    ~PresetBarControl() override;

    std::function<std::vector<std::string>()> listPresets;
    std::function<std::string()> currentName;
    std::function<void(const std::string&)> loadPreset;
    std::function<void(const std::string&)> savePreset;
    std::function<void(const std::string&)> deletePreset;
    std::function<bool()> isModified;
    /// Opens the main menu anchored at the menu button (this component's coordinates).
    std::function<void(juce::Rectangle<int>)> openMenu;
    /// Shows a popup anchored at a screen rectangle and calls back with the chosen item id (0 when
    /// dismissed); showMenuAsync by default, replaceable where no display exists (tests).
    std::function<void(juce::PopupMenu, juce::Rectangle<int>, std::function<void(int)>)> showPopup;

    /// The rectangle of a zone in this component's coordinates, and the zone under a point.
    juce::Rectangle<float> zoneRect(Zone zone) const;
    Zone zoneAt(juce::Point<float> p) const;

    /// What the name box shows now: "no preset", or the fitted name with "*" when modified.
    juce::String displayedName();
    /// Name armed for deletion (empty when none).
    const std::string& armedName() const { return armedName_; }
    int hoverZone() const { return hoverZone_; }

    /// Fits `name` into `width` with the bar's font, cutting whole characters and ending in "…".
    juce::String fitName(const juce::String& name, float width);

    /// The preset list popup's result: the 1-based item id, 0 when dismissed.
    void listMenuResult(int itemId);
    const std::vector<std::string>& listMenuNames() const { return menuList_; }
    /// The name entry (Save as); null while it is closed. Return commits, Escape cancels.
    juce::TextEditor* nameEntry() const { return entry_.editor(); }
    void completeNameEntry(bool commit);

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseMove(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;
    void resized() override;

private:
    struct Geometry
    {
        float e = 0, f = 0;
        juce::Rectangle<float> zones[8];
    };
    Geometry geometry() const;
    void refreshNames();
    void step(int d);
    void openListMenu();
    void openNameEntry();
    void nameEntered(bool commit, const std::string& text);
    void drawButton(juce::Graphics& g, juce::Rectangle<float> r, const juce::String& text, bool enabled,
        bool hovered, bool highlighted) const;
    void overPoint(juce::Point<float> p);

    PresetBarStyle style_;
    std::vector<std::string> names_;
    std::vector<std::string> menuList_;
    bool namesLoaded_ = false;
    bool hasNames_ = false;
    std::string armedName_;
    int hoverZone_ = kNone;
    juce::String fitSource_, fitResult_;
    float fitWidth_ = -1.0f;
    TextEntry entry_;
};

} // namespace brindlecot::controls
