#include "controls/LevelMeterControl.h"

namespace brindlecot::controls {

using editor::toColour;
using ui::ink;

LevelMeterControl::LevelMeterControl(
    juce::RangedAudioParameter* target, Settings settings, const editor::Theme& theme)
    : settings_(settings)
    , readout_(theme.value)
    , targetText_(theme.caption)
    , accent_(theme.accent)
    , zone_(theme.accent.withAlpha(static_cast<juce::uint8>(38)))
    , peak_Colour_(toColour(ui::palette::meterPeak))
    , clip_(toColour(ui::palette::meterClip))
    , low_(toColour(ui::palette::meterLow))
    , high_(toColour(ui::palette::meterHigh))
    , shade_(toColour(ui::palette::zoneShade))
    , shadeEdit_(toColour(ui::palette::zoneShadeEdit))
    , line_(toColour(ui::palette::zoneLine))
    , lineEdit_(toColour(ui::palette::zoneLineEdit))
    , wash_(toColour(ink(18)))
{
    if (target != nullptr && settings_.showTarget)
        target_ = std::make_unique<ParamBinding>(target, [this] { repaint(); });
}

LevelMeterControl::~LevelMeterControl() = default;

float LevelMeterControl::targetDb() const
{
    return target_ != nullptr ? target_->plain() : settings_.initialTargetDb;
}

ui::Rect LevelMeterControl::bar() const
{
    const auto b = getLocalBounds().toFloat();
    return ui::meterBarRect(
        {b.getX(), b.getY(), b.getRight(), b.getBottom()}, settings_.readoutHeight, settings_.barWidth);
}

ui::Rect LevelMeterControl::editZone() const
{
    const auto b = getLocalBounds().toFloat();
    return ui::targetEditZone({b.getX(), b.getY(), b.getRight(), b.getBottom()}, bar());
}

void LevelMeterControl::pushReading(float peakAmplitude, float averageAmplitude)
{
    const float v = ui::normalisedFromAmplitude(range_, averageAmplitude);
    const float p = ui::normalisedFromAmplitude(range_, peakAmplitude);
    if (v == value_ && p == peak_)
        return;
    value_ = v;
    peak_ = p;
    repaint();
}

void LevelMeterControl::setLevelDb(float levelDb)
{
    if (levelDb == levelDb_)
        return;
    levelDb_ = levelDb;
    if (settings_.showTarget)
        repaint();
}

juce::Colour LevelMeterControl::levelColour(ui::LevelClass c) const
{
    switch (c) {
    case ui::LevelClass::OnTarget:
        return accent_;
    case ui::LevelClass::Low:
        return low_;
    case ui::LevelClass::High:
        return high_;
    case ui::LevelClass::None:
        break;
    }
    return readout_.colour;
}

juce::String LevelMeterControl::readoutText() const
{
    if (settings_.showTarget && (editing_ || hovering_))
        return ui::targetReadout(targetDb());
    return ui::peakReadout(range_, peak_);
}

void LevelMeterControl::paint(juce::Graphics& g)
{
    const ui::Rect b = bar();
    const float target = targetDb();
    const float tol = settings_.toleranceDb;
    const bool lit = editing_ || hovering_;
    const float zoneTop = ui::meterY(b, range_, target + tol);
    const float zoneBottom = ui::meterY(b, range_, target - tol);
    const float barW = b.width();

    if (settings_.showTarget) {
        g.setColour(zone_);
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(b.left, zoneTop, b.right, zoneBottom));
    }

    // Bar fill (average) from the bottom, the hover wash, the shade inside the zone, the peak line.
    const float yValue = b.bottom - b.height() * value_;
    if (value_ > 0.0f) {
        g.setColour(accent_);
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(b.left, yValue, b.right, b.bottom));
    }
    if (barHover_) {
        g.setColour(wash_);
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(b.left, b.top, b.right, b.bottom));
    }
    if (settings_.showTarget && value_ > 0.0f) {
        const float from = std::max(zoneTop, yValue);
        const float to = std::min(zoneBottom, b.bottom);
        if (to > from) {
            g.setColour(lit ? shadeEdit_ : shade_);
            g.fillRect(juce::Rectangle<float>::leftTopRightBottom(b.left, from, b.right, to));
        }
    }
    const float q = juce::jlimit(0.0f, 1.0f, peak_);
    if (q >= 0.0001f) {
        const float y = b.bottom - b.height() * q;
        const float t = std::max(1.0f, 0.12f * barW);
        g.setColour(ui::peakDb(range_, peak_) >= 0.0f ? clip_ : peak_Colour_);
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(b.left, y - t / 2.0f, b.right, y + t / 2.0f));
    }

    const auto levelClass
        = settings_.showTarget ? ui::classifyLevel(range_, levelDb_, target, tol) : ui::LevelClass::None;
    if (settings_.showTarget) {
        if (levelClass != ui::LevelClass::None) {
            const float t = std::max(1.5f, 0.16f * barW);
            const float y = ui::meterY(b, range_, levelDb_);
            g.setColour(levelColour(levelClass));
            g.fillRect(juce::Rectangle<float>::leftTopRightBottom(
                b.left - t, y - t / 2.0f, b.right + t, y + t / 2.0f));
        }
        const float th = std::max(1.0f, (lit ? 0.09f : 0.06f) * barW);
        g.setColour(lit ? lineEdit_ : line_);
        for (float y : {zoneTop, zoneBottom})
            g.fillRect(juce::Rectangle<float>::leftTopRightBottom(
                b.left - 0.1875f * barW, y - th / 2.0f, b.right + 0.1875f * barW, y + th / 2.0f));
    }

    const auto strip
        = juce::Rectangle<float>(0.0f, 0.0f, static_cast<float>(getWidth()), settings_.readoutHeight);
    if (settings_.showTarget && lit) {
        (settings_.useTargetText ? targetText_ : readout_).draw(g, readoutText(), strip);
    } else {
        auto style = readout_;
        if (levelClass != ui::LevelClass::None)
            style.colour = levelColour(levelClass);
        style.draw(g, readoutText(), strip);
    }
}

void LevelMeterControl::setTargetFromY(float y)
{
    const float d = juce::jlimit(target_->minimum(), target_->maximum(), ui::dbFromMeterY(bar(), range_, y));
    target_->setNormalisedInGesture(target_->toNormalised(d));
    repaint();
}

void LevelMeterControl::mouseDown(const juce::MouseEvent& e)
{
    if (target_ == nullptr || !editZone().contains(e.position.x, e.position.y))
        return;
    editing_ = true;
    target_->beginGesture();
    setTargetFromY(e.position.y);
}

void LevelMeterControl::mouseDrag(const juce::MouseEvent& e)
{
    if (editing_)
        setTargetFromY(e.position.y);
}

void LevelMeterControl::mouseUp(const juce::MouseEvent&)
{
    if (!editing_)
        return;
    editing_ = false;
    target_->endGesture();
    repaint();
}

void LevelMeterControl::mouseDoubleClick(const juce::MouseEvent& e)
{
    if (target_ == nullptr || !editZone().contains(e.position.x, e.position.y))
        return;
    if (editing_) {
        target_->endGesture();
        editing_ = false;
    }
    openTargetEntry();
}

void LevelMeterControl::openTargetEntry()
{
    if (target_ == nullptr)
        return;
    TextEntry::Options options;
    options.font = readout_.font;
    options.bounds = {0, 0, getWidth(), juce::roundToInt(settings_.readoutHeight)};
    options.text = juce::String(target_->plain(), 1);
    entry_.open(
        *this, options, [this](bool commit, const std::string& typed) { targetEntered(commit, typed); });
}

void LevelMeterControl::targetEntered(bool commit, const std::string& text)
{
    if (!commit)
        return;
    const auto parsed = ui::parseLeadingNumber(text);
    if (!parsed)
        return;
    const float d = juce::jlimit(target_->minimum(), target_->maximum(), static_cast<float>(*parsed));
    target_->setNormalisedAsGesture(target_->toNormalised(d));
    repaint();
}

void LevelMeterControl::mouseMove(const juce::MouseEvent& e)
{
    const ui::Rect b = bar();
    const bool overBar = b.contains(e.position.x, e.position.y);
    const bool overZone
        = settings_.showTarget && target_ != nullptr && editZone().contains(e.position.x, e.position.y);
    if (overBar != barHover_ || overZone != hovering_) {
        barHover_ = overBar;
        hovering_ = overZone;
        repaint();
    }
}

void LevelMeterControl::mouseExit(const juce::MouseEvent&)
{
    barHover_ = false;
    hovering_ = false;
    repaint();
}

} // namespace brindlecot::controls
