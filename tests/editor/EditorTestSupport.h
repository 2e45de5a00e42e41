// Helpers for the editor tests: a processor with its editor, simulated mouse gestures routed
// through the editor's own hit-testing, and golden-image comparison.
#pragma once

#include "editor/VelaruneEditor.h"
#include "plugin/BrindlecotDeFeedback.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace brindlecot::test {

struct EditorFixture
{
    std::unique_ptr<BrindlecotDeFeedback> processor;
    std::unique_ptr<editor::VelaruneEditor> editor;

    EditorFixture();
    ~EditorFixture();

    void open();
    void close();
    juce::RangedAudioParameter& param(int index) const { return *processor->hostParameter(index); }
    float plain(int index) const;
    void setPlain(int index, float value);
    template <typename T> T& control(int tag) const
    {
        auto* c = editor->controlAs<T>(tag);
        if (c == nullptr)
            throw std::runtime_error("no control with tag " + std::to_string(tag));
        return *c;
    }
};

/// Delivers the messages already posted to the message thread (text-editor commands, async calls).
void pumpMessages();

/// Allocations made by the calling thread (global operator new is counted per thread).
uint64_t threadAllocations();

/// Simulated pointer: presses at editor coordinates go to whichever component the editor's
/// hit-testing picks, in that component's coordinates.
class Pointer
{
public:
    explicit Pointer(juce::Component& root)
        : root_(root)
    { }

    juce::Component* press(juce::Point<float> at, juce::ModifierKeys mods = {});
    void drag(juce::Point<float> to);
    void release();
    void click(juce::Point<float> at)
    {
        press(at);
        release();
    }
    /// Two presses and the double-click event, as a window system delivers them.
    juce::Component* doubleClick(juce::Point<float> at);
    void hover(juce::Point<float> at);
    /// The component a press at `at` would reach.
    juce::Component* target(juce::Point<float> at) const;

private:
    juce::MouseEvent event(juce::Component& c, juce::Point<float> rootPos, int clicks, bool dragged) const;

    juce::Component& root_;
    juce::Component* pressed_ = nullptr;
    juce::Point<float> downAt_;
    juce::Point<float> lastAt_;
    juce::ModifierKeys mods_;
};

/// Compares an image with tests/golden/editor/<name>.png. Missing goldens, or VELARUNE_BLESS=1,
/// write the image instead (and fail unless blessing). A mismatch writes <name>-actual.png and
/// <name>-diff.png into the working directory. Returns an empty string when they match.
std::string compareWithGolden(const juce::Image& image, const std::string& name);

} // namespace brindlecot::test
