// What the preset bar and the main menu do to the plug-in: save, load, rename and delete presets,
// the idle check behind the "*", and the menu's window scale, theme, input mode, log switch and
// update switch. Message thread only; file work never runs on the audio thread.
#pragma once

#include "ui/MainMenu.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <string>
#include <vector>

namespace brindlecot {

class BrindlecotDeFeedback;

class PresetActions
{
public:
    explicit PresetActions(BrindlecotDeFeedback& processor);

    // ---- Preset bar ------------------------------------------------------------------------
    std::vector<std::string> names() const;
    std::string currentName() const;
    bool isModified() const;

    /// Stores the current state under `name` (replacing the preset of that name).
    bool save(const std::string& name);
    /// Applies the preset: every parameter through a host gesture (all begun, all set, all ended,
    /// in index order), the input mode kept, the window scale of the preset restored.
    bool load(const std::string& name);
    bool remove(const std::string& name);
    bool rename(const std::string& oldName, const std::string& newName);
    /// Error text of the last failed operation (shown unchanged), empty after a success.
    const std::string& lastError() const { return lastError_; }

    /// The idle check: true when the current preset became modified by this call (repaint then).
    bool idleCheck();

    // ---- Main menu -------------------------------------------------------------------------
    double windowScale() const;
    /// Resizes an open editor, or stores the size the next editor opens with.
    void setWindowScale(double k);
    int theme() const;
    /// Outside 0..5 reads 0; a change raises the rebuild flag and marks the host project dirty.
    void setTheme(int index);
    int inputMode() const;
    /// 1 is "left channel only", anything else "auto"; a change marks the host project dirty.
    void setInputMode(int mode);
    bool logging() const;
    void setLogging(bool on);
    bool updatesEnabled() const;
    void setUpdatesEnabled(bool on);

    /// A menu model with every callback installed, including the update switch. Its callbacks refer
    /// to this object, which must outlive the menu.
    ui::MainMenu makeMenu();

    /// Runs after anything the editor shows changed (a load, a save, a deletion, the "*", the
    /// update switch); the editor repaints.
    std::function<void()> onChange;
    /// Resizes an open editor to a window size (the editor's own resize and constraint); when not
    /// set, the active editor gets setSize.
    std::function<void(int width, int height)> resizeOpenEditor;

private:
    void changed();
    void restoreWindowScale(int32_t savedEditorWidth);

    BrindlecotDeFeedback& processor_;
    std::string lastError_;
};

} // namespace brindlecot
