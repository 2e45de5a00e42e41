#include "editor/Theme.h"

#include "VelaruneEditorData.h"

namespace brindlecot::editor {

using ui::ink;

void TextStyle::draw(juce::Graphics& g, const juce::String& text, juce::Rectangle<float> area) const
{
    g.setColour(colour);
    g.setFont(font);
    const auto h = justification.getOnlyHorizontalFlags() | juce::Justification::verticallyCentred;
    g.drawText(text, area, h, false);
}

EmbeddedTypefaces::EmbeddedTypefaces()
    : regular(juce::Typeface::createSystemTypefaceFor(
        VelaruneEditorData::RobotoRegular_ttf, VelaruneEditorData::RobotoRegular_ttfSize))
    , condensedBold(juce::Typeface::createSystemTypefaceFor(
          VelaruneEditorData::RobotoCondensedBold_ttf, VelaruneEditorData::RobotoCondensedBold_ttfSize))
{ }

juce::Typeface::Ptr robotoRegular()
{
    juce::SharedResourcePointer<EmbeddedTypefaces> faces;
    return faces->regular;
}

juce::Typeface::Ptr robotoCondensedBold()
{
    juce::SharedResourcePointer<EmbeddedTypefaces> faces;
    return faces->condensedBold;
}

Theme Theme::make(ui::Argb accent, float s)
{
    const auto regular = [s](float size) { return juce::Font(robotoRegular()).withHeight(size * s); };
    const auto bold = [s](float size) { return juce::Font(robotoCondensedBold()).withHeight(size * s); };
    const auto centred = juce::Justification::centred;

    Theme t;
    t.scale = s;
    t.accent = toColour(accent);
    t.title = {bold(23.0f), toColour(ink()), juce::Justification::centredLeft};
    t.logo = {bold(15.0f), toColour(ink(107)), centred};
    t.section = {regular(11.0f), toColour(ink(107)), centred};
    t.value = {regular(14.0f), toColour(ink()), centred};
    t.caption = {regular(12.0f), toColour(ink(107)), centred};
    t.label = {regular(14.0f), toColour(ink()), centred};
    t.status = {regular(10.0f), toColour(ink(56)), centred};
    t.scaleLeft = {regular(8.5f), toColour(ink(56)), juce::Justification::centredRight};
    t.scaleRight = {regular(8.5f), toColour(ink(56)), juce::Justification::centredLeft};
    t.chevron = {regular(11.0f), toColour(ui::palette::chevron), centred};
    t.letter = {regular(9.0f), toColour(ink()), centred};
    return t;
}

} // namespace brindlecot::editor
