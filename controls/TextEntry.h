// A one-line text entry opened over part of a control (a value, a target, a preset name): prefilled
// and selected, it finishes once, on Return or when it loses focus (commit) or on Escape (cancel),
// and hands the typed text to its owner. The editor is the caller of the callbacks that finish
// it, so it is hidden and detached at once and deleted only after that callback has returned.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindlecot::controls {

class TextEntry
{
public:
    struct Options
    {
        juce::Font font;
        juce::Rectangle<int> bounds; // in the parent's coordinates
        juce::String text;
        int maxCharacters = 0; // 0: no limit
        std::optional<juce::Point<int>> indents; // left and top text indents, else the editor's own
    };
    /// Called once per opening: commit or cancel, and the text as typed (UTF-8).
    using Finished = std::function<void(bool commit, const std::string& text)>;

    /// Opens over `parent` (closing an entry still open there without a callback).
    void open(juce::Component& parent, const Options& options, Finished onFinished);
    /// Finishes the open entry, as Return (true) or Escape (false) would; nothing when closed.
    void finish(bool commit);

    /// The editor while the entry is open, else nullptr.
    juce::TextEditor* editor() const { return editor_.get(); }

private:
    std::unique_ptr<juce::TextEditor> editor_;
    Finished onFinished_;
};

} // namespace brindlecot::controls
