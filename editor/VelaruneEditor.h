// The plug-in's own editor: the 542 x 476 design scaled to the window, six signal-flow columns,
// meters, knobs, sliders, pills, the band strip and readouts. Controls are created from the layout
// table and reached by their tags; the processor's idle task feeds them through the calls below.
// A theme change rebuilds every control (keeping the parameter values, which live in the host
// parameters). The preset bar, the menu button and the update pill are named slots that other
// editor pieces fill in.
#pragma once

#include "controls/MenuButtonControl.h"
#include "controls/ParamBinding.h"
#include "controls/SlotPlaceholder.h"
#include "editor/Theme.h"
#include "ui/Layout.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace brindlecot {

class BrindlecotDeFeedback;

namespace editor {

class VelaruneEditor : public juce::AudioProcessorEditor
{
public:
    explicit VelaruneEditor(BrindlecotDeFeedback& processor);
    ~VelaruneEditor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    /// The control with a tag, or nullptr.
    juce::Component* control(int tag) const;
    template <typename T> T* controlAs(int tag) const { return dynamic_cast<T*>(control(tag)); }

    // Idle feed (message thread).
    void pushMeterReading(int tag, float peakAmplitude, float averageAmplitude);
    void setControlValue(int tag, float normalised);
    void sendInputLevel(float levelDb);
    void setControlText(int tag, const juce::String& text);
    void markDirty(int tag);
    /// Removes every control and creates them again (new accent); values come from the parameters.
    void rebuildControls();
    /// Points the saturation knob and its caption at "Top Saturation" while BEEF is High.
    void rebindSaturationKnob();

    /// The update pill reports where it drew (editor pixels; empty when hidden): the title then
    /// ends before it, P.height * 8 / 28 to the left of its left edge, or gets its full width back.
    void setUpdatePillArea(juce::Rectangle<int> pill);

    /// Layout scale of the current size, s = min(H / 476, W / 542).
    float layoutScaleNow() const;
    /// Resizes the window to 542 x 476 times k, within the limits and the aspect ratio.
    void applyWindowScale(float k);
    /// Number of times the controls were created (1 after opening, +1 per rebuild).
    int buildCount() const { return buildCount_; }

    /// Runs after every creation of the controls (opening and each theme rebuild), so that the
    /// pieces living in the slots can be created again with the new theme.
    std::function<void(VelaruneEditor&)> onControlsBuilt;

    controls::SlotPlaceholder& presetBarSlot() { return *presetBarSlot_; }
    controls::SlotPlaceholder& menuButtonSlot() { return *menuButtonSlot_; }
    controls::SlotPlaceholder& updatePillSlot() { return *updatePillSlot_; }

    /// Device rectangle of a base-unit rectangle at scale s (each edge rounded).
    static juce::Rectangle<int> toBounds(const ui::Rect& base, float s);

private:
    struct Placement
    {
        juce::Component* component;
        ui::Rect base; // base units
        bool fullWidth; // spans the canvas width (preset bar)
    };

    void createControls();
    /// Puts the preset bar and the update pill into their slots (again after every rebuild).
    void fillSlots(const Theme& t, float s);
    void layoutControls();
    template <typename T> T* place(std::unique_ptr<T> c, int tag, ui::Rect base, bool fullWidth = false);
    juce::RangedAudioParameter* param(int index) const;

    BrindlecotDeFeedback& processor_;
    juce::SharedResourcePointer<EmbeddedTypefaces> typefaces_; // parsed once while editors exist
    std::vector<std::unique_ptr<juce::Component>> owned_;
    std::vector<Placement> placements_;
    std::map<int, juce::Component*> tagged_;
    controls::SlotPlaceholder* presetBarSlot_ = nullptr;
    controls::SlotPlaceholder* menuButtonSlot_ = nullptr;
    controls::SlotPlaceholder* updatePillSlot_ = nullptr;
    std::unique_ptr<controls::ParamBinding> beefWatch_;
    // The corner grip outlives rebuilds: a drag on it resizes the window, which rebuilds the
    // other controls at the new scale while the drag goes on.
    std::unique_ptr<juce::Component> grip_;
    // The main menu outlives rebuilds too: a choice in it (window scale, theme) rebuilds the
    // controls, the preset bar that opened it among them.
    std::unique_ptr<controls::MenuButtonControl> menu_;
    std::unique_ptr<juce::ComponentBoundsConstrainer> constrainer_;
    Theme theme_;
    juce::Rectangle<int> updatePillArea_;
    float builtScale_ = 0.0f;
    int buildCount_ = 0;
};

} // namespace editor
} // namespace brindlecot
