// Colours, fonts and text styles of one editor build, at one scale and with one accent. Every
// control receives what it draws with from here, so a theme change is a rebuild with a new Theme.
#pragma once

#include "ui/Palette.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace brindlecot::editor {

inline juce::Colour toColour(ui::Argb c)
{
    return juce::Colour(c.r, c.g, c.b, c.a);
}

/// Font, colour and horizontal alignment of a text; vertically centred.
struct TextStyle
{
    juce::Font font;
    juce::Colour colour;
    juce::Justification justification = juce::Justification::centred;

    TextStyle withColour(juce::Colour c) const { return {font, c, justification}; }
    void draw(juce::Graphics& g, const juce::String& text, juce::Rectangle<float> area) const;
};

struct Theme
{
    float scale = 1.0f;
    juce::Colour accent;

    TextStyle title, logo, section, value, caption, label, status, scaleLeft, scaleRight, chevron, letter;

    /// The styles of the layout at scale s with an accent colour.
    static Theme make(ui::Argb accent, float s);
};

/// The embedded typefaces ("Roboto-Regular" and "RobotoCondensed-Bold"), parsed once and shared
/// while anyone holds them (each editor does, through a juce::SharedResourcePointer). Not a static:
/// a typeface outliving JUCE's shutdown would take its glyph caches past the leak checks.
struct EmbeddedTypefaces
{
    EmbeddedTypefaces();
    juce::Typeface::Ptr regular;
    juce::Typeface::Ptr condensedBold;
};
juce::Typeface::Ptr robotoRegular();
juce::Typeface::Ptr robotoCondensedBold();

} // namespace brindlecot::editor
