// The triangular grip in the bottom-right corner: dragging it scales the whole window between
// 0.75x and 2x (aspect ratio kept), a double-click returns to 1x.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace brindlecot::controls {

class CornerScaleControl : public juce::Component
{
public:
    /// currentScale: the window's scale now; resizeTo: applies a new scale.
    CornerScaleControl(std::function<float()> currentScale, std::function<void(float)> resizeTo);

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseDoubleClick(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;

private:
    std::function<float()> currentScale_;
    std::function<void(float)> resizeTo_;
    float startWidth_ = 0.0f;
    bool hover_ = false;
};

} // namespace brindlecot::controls
