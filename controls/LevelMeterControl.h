// Input and output level meter: RMS bar in the accent colour with a peak-hold line and a peak
// readout. The input meter also shows the "Vocal Target" zone with a level marker coloured by
// where the slow input level sits, and lets the user drag the target or type it (double-click).
#pragma once

#include "controls/ParamBinding.h"
#include "controls/TextEntry.h"
#include "editor/Theme.h"
#include "ui/LevelMeterRules.h"

#include <memory>

namespace brindlecot::controls {

class LevelMeterControl : public juce::Component
{
public:
    struct Settings
    {
        float readoutHeight = 22.0f; // already scaled
        float barWidth = 16.0f; // already scaled
        bool showTarget = false;
        float initialTargetDb = -12.0f;
        float toleranceDb = 3.0f;
        bool useTargetText = false;
    };

    /// target: "Vocal Target" for the input meter, nullptr for the output meter.
    LevelMeterControl(juce::RangedAudioParameter* target, Settings settings, const editor::Theme& theme);
    ~LevelMeterControl() override;

    /// One reading of the peak/average sender (linear amplitudes). Repaints only on change.
    void pushReading(float peakAmplitude, float averageAmplitude);
    /// The slow input level in dB (control message 8001).
    void setLevelDb(float levelDb);

    float value() const { return value_; }
    float peakValue() const { return peak_; }
    float levelDb() const { return levelDb_; }
    float targetDb() const;
    bool editing() const { return editing_; }
    bool hovering() const { return hovering_; }
    juce::String readoutText() const;
    ui::Rect bar() const;
    ui::Rect editZone() const;
    /// The text entry while it is open, else nullptr.
    juce::TextEditor* targetEntry() const { return entry_.editor(); }
    void openTargetEntry();

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseDoubleClick(const juce::MouseEvent& e) override;
    void mouseMove(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;

private:
    juce::Colour levelColour(ui::LevelClass c) const;
    void setTargetFromY(float y);
    void targetEntered(bool commit, const std::string& typed);

    std::unique_ptr<ParamBinding> target_;
    Settings settings_;
    ui::MeterRange range_;
    editor::TextStyle readout_, targetText_;
    juce::Colour accent_, zone_, peak_Colour_, clip_, low_, high_, shade_, shadeEdit_, line_, lineEdit_,
        wash_;

    float value_ = 0.0f; // normalised average
    float peak_ = 0.0f; // normalised held peak
    float levelDb_ = -96.0f;
    bool editing_ = false;
    bool hovering_ = false;
    bool barHover_ = false;
    TextEntry entry_;
};

} // namespace brindlecot::controls
