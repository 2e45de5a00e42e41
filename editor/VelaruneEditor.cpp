#include "editor/VelaruneEditor.h"

#include "controls/AirCornerReadout.h"
#include "controls/BandStripControl.h"
#include "controls/BeefSelectControl.h"
#include "controls/CaptionControl.h"
#include "controls/CornerScaleControl.h"
#include "controls/DotSliderControl.h"
#include "controls/LevelMeterControl.h"
#include "controls/LogoControl.h"
#include "controls/PanelControl.h"
#include "controls/PillToggleControl.h"
#include "controls/PresetBarControl.h"
#include "controls/ReductionMeterControl.h"
#include "controls/RideMeterControl.h"
#include "controls/RingKnobControl.h"
#include "controls/ScrimControl.h"
#include "controls/TextControl.h"
#include "controls/UpdatePillControl.h"
#include "controls/VoiceFloorHandle.h"
#include "engine/EditorSizing.h"
#include "engine/Parameters.h"
#include "plugin/BrindlecotDeFeedback.h"
#include "plugin/PresetActions.h"

#include "VelaruneEditorData.h"

namespace brindlecot::editor {

using namespace brindlecot::controls;
using namespace brindlecot::ui;

namespace {

// Window sizes keep the design's aspect ratio and stay between 0.75x and 2x.
class AspectConstrainer : public juce::ComponentBoundsConstrainer
{
public:
    void checkBounds(juce::Rectangle<int>& bounds, const juce::Rectangle<int>&, const juce::Rectangle<int>&,
        bool, bool, bool, bool) override
    {
        int w = bounds.getWidth();
        int h = bounds.getHeight();
        constrainEditorSize(w, h, 1.0);
        bounds.setSize(w, h);
    }
};

const char* const kSectionTitles[6] = {"INPUT", "DE-BLEED", "DE-FEEDBACK", "ADD AIR", "RIDE", "OUTPUT"};

} // namespace

juce::Rectangle<int> VelaruneEditor::toBounds(const ui::Rect& base, float s)
{
    return juce::Rectangle<int>::leftTopRightBottom(juce::roundToInt(base.left * s),
        juce::roundToInt(base.top * s), juce::roundToInt(base.right * s), juce::roundToInt(base.bottom * s));
}

VelaruneEditor::VelaruneEditor(BrindlecotDeFeedback& processor)
    : juce::AudioProcessorEditor(processor)
    , processor_(processor)
    , constrainer_(std::make_unique<AspectConstrainer>())
{
    setOpaque(true);
    int w = processor_.storedEditorWidth();
    int h = processor_.storedEditorHeight();
    if (w <= 0 || h <= 0) {
        w = kEditorWidth;
        h = kEditorHeight;
    }
    constrainEditorSize(w, h, 1.0);
    constrainer_->setSizeLimits(kEditorMinWidth, kEditorMinHeight, kEditorMaxWidth, kEditorMaxHeight);
    setConstrainer(constrainer_.get());
    setResizable(true, false);
    menu_ = std::make_unique<MenuButtonControl>(processor_.presetActions().makeMenu());
    processor_.presetActions().onChange = [this] { repaint(); };
    createControls();
    beefWatch_ = std::make_unique<ParamBinding>(param(kBeefKnob), [this] { rebindSaturationKnob(); });
    setSize(w, h);
    layoutControls();
}

VelaruneEditor::~VelaruneEditor()
{
    processor_.presetActions().onChange = nullptr;
    beefWatch_.reset();
    removeAllChildren();
    grip_.reset();
    tagged_.clear();
    placements_.clear();
    owned_.clear();
}

juce::RangedAudioParameter* VelaruneEditor::param(int index) const
{
    return processor_.hostParameter(index);
}

template <typename T> T* VelaruneEditor::place(std::unique_ptr<T> c, int tag, ui::Rect base, bool fullWidth)
{
    T* raw = c.get();
    if (tag != kCtrlTagNone) {
        raw->setComponentID(juce::String(tag));
        tagged_[tag] = raw;
    }
    addAndMakeVisible(*raw);
    placements_.push_back({raw, base, fullWidth});
    owned_.push_back(std::move(c));
    return raw;
}

void VelaruneEditor::createControls()
{
    const float s = layoutScaleNow();
    builtScale_ = s;
    theme_ = Theme::make(processor_.accentColour(255), s);
    ++buildCount_;
    const auto& t = theme_;
    const auto ink = [](uint8_t a) { return toColour(ui::ink(a)); };

    // 2: corner grip, above the background and below everything else.
    if (grip_ == nullptr)
        grip_ = std::make_unique<CornerScaleControl>(
            [this] { return static_cast<float>(getWidth()) / kCanvasWidth; },
            [this](float k) { applyWindowScale(k); });
    addAndMakeVisible(*grip_);
    placements_.push_back({grip_.get(), cornerGripRect(), false});
    // 3-6: body, title, logo, separator.
    place(std::make_unique<PanelControl>(toColour(palette::body)), kCtrlTagBody, layoutRect(kCtrlTagBody));
    place(std::make_unique<TextControl>(
              juce::String::fromUTF8(displayedTitle(processor_.titleText()).c_str()), t.title),
        kCtrlTagTitle, layoutRect(kCtrlTagTitle));
    {
        auto svg = juce::Drawable::createFromImageData(
            VelaruneEditorData::velarunelockup_svg, VelaruneEditorData::velarunelockup_svgSize);
        if (svg != nullptr) {
            const auto box = svg->getDrawableBounds();
            place(std::make_unique<LogoControl>(std::move(svg)), kCtrlTagLogo,
                logoRect(box.getWidth(), box.getHeight()));
        } else {
            place(std::make_unique<TextControl>("VELARUNE", t.logo), kCtrlTagLogo, layoutRect(kCtrlTagLogo));
        }
    }
    place(std::make_unique<PanelControl>(ink(41)), kCtrlTagSeparator, layoutRect(kCtrlTagSeparator));
    // 7: meter bar backgrounds.
    for (const auto& r : meterBarBackgrounds())
        place(std::make_unique<PanelControl>(ink(18)), kCtrlTagNone, r);

    // 8-11: meters and the voice floor.
    LevelMeterControl::Settings in;
    in.readoutHeight = 22.0f * s;
    in.barWidth = 16.0f * s;
    in.showTarget = true;
    in.initialTargetDb = -20.0f;
    in.toleranceDb = 4.0f;
    in.useTargetText = true;
    place(std::make_unique<LevelMeterControl>(param(kVocalTarget), in, t), kCtrlTagInputMeter,
        layoutRect(kCtrlTagInputMeter));
    LevelMeterControl::Settings out = in;
    out.showTarget = false;
    out.initialTargetDb = -12.0f;
    out.toleranceDb = 3.0f;
    out.useTargetText = false;
    place(std::make_unique<LevelMeterControl>(nullptr, out, t), kCtrlTagOutputMeter,
        layoutRect(kCtrlTagOutputMeter));
    place(std::make_unique<VoiceFloorHandle>(param(kVoiceFloor), t), kCtrlTagVoiceFloor,
        layoutRect(kCtrlTagVoiceFloor));
    place(std::make_unique<RideMeterControl>(t), kCtrlTagRideMeter, layoutRect(kCtrlTagRideMeter));

    // 12-14: amount sliders.
    const DotSliderControl::Colours sliderColours {
        ink(18), t.accent, ink(255), toColour(palette::sliderPressed), toColour(palette::body)};
    place(std::make_unique<DotSliderControl>(param(kBleedReduction), sliderColours, 18.0f * s, 3.0f * s),
        kCtrlTagBleedSlider, layoutRect(kCtrlTagBleedSlider));
    place(std::make_unique<DotSliderControl>(param(kFeedbackReduction), sliderColours, 18.0f * s, 3.0f * s),
        kCtrlTagFeedbackSlider, layoutRect(kCtrlTagFeedbackSlider));
    place(std::make_unique<DotSliderControl>(param(kAir), sliderColours, 18.0f * s, 3.0f * s),
        kCtrlTagAirSlider, layoutRect(kCtrlTagAirSlider));

    // 15-16: reduction meters.
    place(std::make_unique<ReductionMeterControl>(0.0f, -24.0f, t), kCtrlTagBleedReduction,
        layoutRect(kCtrlTagBleedReduction));
    place(std::make_unique<ReductionMeterControl>(0.0f, -18.0f, t), kCtrlTagFeedbackReduction,
        layoutRect(kCtrlTagFeedbackReduction));

    // 17-20: knobs.
    const RingKnobControl::Colours knobColours {
        toColour(palette::knobBody), toColour(palette::knobPressed), t.accent, ink(255), ink(56)};
    place(std::make_unique<RingKnobControl>(param(kInput), knobColours), kCtrlTagInputKnob,
        layoutRect(kCtrlTagInputKnob));
    place(std::make_unique<RingKnobControl>(param(kAirCorner), knobColours), kCtrlTagAirCornerKnob,
        layoutRect(kCtrlTagAirCornerKnob));
    place(std::make_unique<RingKnobControl>(param(kRideStrength), knobColours), kCtrlTagRideKnob,
        layoutRect(kCtrlTagRideKnob));
    place(std::make_unique<RingKnobControl>(param(kSaturation), knobColours), kCtrlTagSaturationKnob,
        layoutRect(kCtrlTagSaturationKnob));

    // 21-22: bypass and ECO pills.
    place(std::make_unique<PillToggleControl>(param(kSoftBypass), "ACTIVE", "BYPASSED", true, t),
        kCtrlTagBypassPill, layoutRect(kCtrlTagBypassPill));
    place(std::make_unique<PillToggleControl>(param(kEcoMode), "ECO", "ECO", false, t), kCtrlTagEcoPill,
        layoutRect(kCtrlTagEcoPill));

    // 23-25: places filled by the menu, the update pill and the preset bar.
    const float w = static_cast<float>(std::max(1, getWidth()));
    menuButtonSlot_ = place(std::make_unique<SlotPlaceholder>("menuButtonSlot"), kCtrlTagNone,
        menuButtonRect(w, s).scaled(1.0f / s));
    updatePillSlot_
        = place(std::make_unique<SlotPlaceholder>("updatePillSlot"), kCtrlTagUpdatePill, updatePillRect());
    presetBarSlot_ = place(
        std::make_unique<SlotPlaceholder>("presetBarSlot"), kCtrlTagNone, {0, 0, kCanvasWidth, 32}, true);

    // 26-30: filter switches, captions and the band strip.
    place(std::make_unique<PillToggleControl>(param(kHighPassOn), "HP", "HP", false, t), kCtrlTagHighPassPill,
        layoutRect(kCtrlTagHighPassPill));
    place(std::make_unique<PillToggleControl>(param(kLowPassOn), "LP", "LP", false, t), kCtrlTagLowPassPill,
        layoutRect(kCtrlTagLowPassPill));
    place(std::make_unique<CaptionControl>(param(kHighPass), t.caption), kCtrlTagHighPassCaption,
        layoutRect(kCtrlTagHighPassCaption));
    place(std::make_unique<CaptionControl>(param(kLowPass), t.caption), kCtrlTagLowPassCaption,
        layoutRect(kCtrlTagLowPassCaption));
    place(std::make_unique<BandStripControl>(
              param(kHighPass), param(kLowPass), param(kHighPassOn), param(kLowPassOn), t),
        kCtrlTagBandStrip, layoutRect(kCtrlTagBandStrip));

    // 31-40: section titles, value captions, knob captions, air readout, knob labels, BEEF.
    for (int k = 0; k < 6; ++k)
        place(std::make_unique<TextControl>(kSectionTitles[k], t.section), kCtrlTagSectionTitle + k,
            layoutRect(kCtrlTagSectionTitle + k));
    const int sectionParams[3] = {kBleedReduction, kFeedbackReduction, kAir};
    for (int k = 1; k <= 3; ++k)
        place(std::make_unique<CaptionControl>(param(sectionParams[k - 1]), t.value),
            kCtrlTagSectionValue + k, layoutRect(kCtrlTagSectionValue + k));
    place(std::make_unique<CaptionControl>(param(kInput), t.caption), kCtrlTagInputCaption,
        layoutRect(kCtrlTagInputCaption));
    place(std::make_unique<AirCornerReadout>(
              param(kAirCorner), param(kLowPass), param(kLowPassOn), processor_.editorSampleRate(), t),
        kCtrlTagAirCornerReadout, layoutRect(kCtrlTagAirCornerReadout));
    place(std::make_unique<CaptionControl>(param(kRideStrength), t.caption), kCtrlTagRideCaption,
        layoutRect(kCtrlTagRideCaption));
    place(std::make_unique<CaptionControl>(param(kSaturation), t.caption), kCtrlTagSaturationCaption,
        layoutRect(kCtrlTagSaturationCaption));
    const std::pair<int, const char*> labels[3] = {{0, "GAIN"}, {3, "FREQ"}, {4, "RANGE"}};
    for (const auto& [k, text] : labels)
        place(std::make_unique<TextControl>(text, t.label), kCtrlTagKnobLabel + k,
            layoutRect(kCtrlTagKnobLabel + k));
    place(std::make_unique<BeefSelectControl>(param(kBeefKnob), t), kCtrlTagBeef, layoutRect(kCtrlTagBeef));

    // 41-43: dB scale, column ticks, flow chevrons.
    for (const auto& m : dbScaleMarks()) {
        const auto text = juce::String(m.db);
        place(std::make_unique<TextControl>(text, t.scaleLeft), kCtrlTagNone, m.leftText);
        place(std::make_unique<TextControl>(text, t.scaleRight), kCtrlTagNone, m.rightText);
        place(std::make_unique<PanelControl>(ink(56)), kCtrlTagNone, m.leftTick);
        place(std::make_unique<PanelControl>(ink(56)), kCtrlTagNone, m.rightTick);
    }
    for (const auto& r : columnTicks())
        place(std::make_unique<PanelControl>(ink(41)), kCtrlTagNone, r);
    for (const auto& r : chevronRects())
        place(std::make_unique<TextControl>(juce::String::fromUTF8("\xE2\x80\xBA"), t.chevron), kCtrlTagNone,
            r);

    // 44-45: status line and the bypass scrim on top.
    place(std::make_unique<TextControl>(juce::String::fromUTF8(processor_.statusText().c_str()), t.status),
        kCtrlTagStatus, layoutRect(kCtrlTagStatus));
    place(std::make_unique<ScrimControl>(param(kSoftBypass), toColour(palette::scrim)), kCtrlTagScrim,
        layoutRect(kCtrlTagScrim));

    fillSlots(t, s);
    rebindSaturationKnob();
    if (onControlsBuilt)
        onControlsBuilt(*this);
}

void VelaruneEditor::fillSlots(const Theme& t, float s)
{
    PresetActions& actions = processor_.presetActions();
    PresetBarStyle style;
    style.font = t.section.font;
    style.scale = s;
    auto bar = std::make_unique<PresetBarControl>(style);
    bar->listPresets = [&actions] { return actions.names(); };
    bar->currentName = [&actions] { return actions.currentName(); };
    bar->isModified = [&actions] { return actions.isModified(); };
    bar->loadPreset = [&actions](const std::string& name) { actions.load(name); };
    bar->savePreset = [&actions](const std::string& name) { actions.save(name); };
    bar->deletePreset = [&actions](const std::string& name) { actions.remove(name); };
    PresetBarControl* barPtr = bar.get();
    bar->openMenu = [this, barPtr](juce::Rectangle<int> area) { menu_->showMenu(barPtr, area); };
    presetBarSlot_->fill(std::move(bar));

    UpdatePillStyle pillStyle;
    pillStyle.font = t.section.font;
    auto pill = std::make_unique<UpdatePillControl>(processor_.updateCheck(), pillStyle);
    UpdatePillControl* pillPtr = pill.get();
    pill->onPillRect = [this, pillPtr](juce::Rectangle<int> r) {
        setUpdatePillArea(r.isEmpty() ? r : getLocalArea(pillPtr, r));
    };
    updatePillSlot_->fill(std::move(pill));
    pillPtr->poll();
}

void VelaruneEditor::layoutControls()
{
    const float s = layoutScaleNow();
    if (std::abs(s - builtScale_) > 1e-6f && buildCount_ > 0) {
        // Sizes inside the controls (fonts, bar widths, handles) follow the scale: build again.
        rebuildControls();
        return;
    }
    const float w = static_cast<float>(getWidth());
    for (const auto& p : placements_) {
        ui::Rect base = p.base;
        if (p.fullWidth)
            base.right = w / s;
        if (p.component == menuButtonSlot_)
            base = menuButtonRect(w, s).scaled(1.0f / s);
        p.component->setBounds(toBounds(base, s));
    }
    setUpdatePillArea(updatePillArea_);
    if (auto* floor = controlAs<VoiceFloorHandle>(kCtrlTagVoiceFloor))
        if (auto* meter = controlAs<LevelMeterControl>(kCtrlTagInputMeter)) {
            const ui::Rect bar = meter->bar();
            floor->setBar(juce::Rectangle<float>::leftTopRightBottom(bar.left, bar.top, bar.right, bar.bottom)
                + meter->getPosition().toFloat());
        }
}

void VelaruneEditor::rebuildControls()
{
    std::vector<std::unique_ptr<juce::Component>> old;
    old.swap(owned_);
    removeAllChildren();
    tagged_.clear();
    placements_.clear();
    presetBarSlot_ = menuButtonSlot_ = updatePillSlot_ = nullptr;
    old.clear();
    createControls();
    layoutControls();
    repaint();
}

void VelaruneEditor::setUpdatePillArea(juce::Rectangle<int> pill)
{
    updatePillArea_ = pill;
    auto* title = control(kCtrlTagTitle);
    if (title == nullptr)
        return;
    auto bounds = toBounds(layoutRect(kCtrlTagTitle), layoutScaleNow());
    if (!pill.isEmpty()) {
        const int right = juce::roundToInt(
            static_cast<float>(pill.getX()) - static_cast<float>(pill.getHeight()) * 8.0f / 28.0f);
        bounds.setRight(std::min(right, bounds.getRight()));
    }
    title->setBounds(bounds);
    repaint();
}

void VelaruneEditor::rebindSaturationKnob()
{
    auto* beef = param(kBeefKnob);
    const bool high = beef != nullptr && beefIsHigh(beef->convertFrom0to1(beef->getValue()));
    auto* target = param(high ? kTopSaturation : kSaturation);
    if (auto* knob = controlAs<RingKnobControl>(kCtrlTagSaturationKnob)) {
        knob->binding().rebind(target);
        knob->repaint();
    }
    if (auto* caption = controlAs<CaptionControl>(kCtrlTagSaturationCaption)) {
        caption->binding().rebind(target);
        caption->repaint();
    }
}

void VelaruneEditor::paint(juce::Graphics& g)
{
    g.fillAll(toColour(palette::background));
}

void VelaruneEditor::resized()
{
    processor_.setStoredEditorSize(getWidth(), getHeight());
    if (buildCount_ > 0)
        layoutControls();
}

float VelaruneEditor::layoutScaleNow() const
{
    if (getWidth() <= 0 || getHeight() <= 0)
        return layoutScale(static_cast<float>(processor_.storedEditorWidth()),
            static_cast<float>(processor_.storedEditorHeight()));
    return layoutScale(static_cast<float>(getWidth()), static_cast<float>(getHeight()));
}

void VelaruneEditor::applyWindowScale(float k)
{
    int w = juce::roundToInt(kCanvasWidth * k);
    int h = juce::roundToInt(kCanvasHeight * k);
    constrainEditorSize(w, h, 1.0);
    setSize(w, h);
}

juce::Component* VelaruneEditor::control(int tag) const
{
    const auto it = tagged_.find(tag);
    return it != tagged_.end() ? it->second : nullptr;
}

void VelaruneEditor::pushMeterReading(int tag, float peakAmplitude, float averageAmplitude)
{
    if (auto* m = controlAs<LevelMeterControl>(tag))
        m->pushReading(peakAmplitude, averageAmplitude);
}

void VelaruneEditor::setControlValue(int tag, float normalised)
{
    if (auto* r = controlAs<ReductionMeterControl>(tag))
        r->setValue(normalised);
    else if (auto* ride = controlAs<RideMeterControl>(tag))
        ride->setValue(normalised);
}

void VelaruneEditor::sendInputLevel(float levelDb)
{
    if (auto* m = controlAs<LevelMeterControl>(kCtrlTagInputMeter))
        m->setLevelDb(levelDb);
}

void VelaruneEditor::setControlText(int tag, const juce::String& text)
{
    if (auto* t = controlAs<TextControl>(tag))
        t->setText(text);
}

void VelaruneEditor::markDirty(int tag)
{
    if (auto* c = control(tag))
        c->repaint();
}

} // namespace brindlecot::editor
