// The preset operations behind the editor's preset bar, on one presets folder, and the current
// preset: its name, the parameter values at the last load or save (the baseline) and whether they
// have been edited since. User-interface thread only. The plug-in builds the state chunk for a save
// and applies the chunk of a load (applyPresetChunk), then reports back with loaded().
#pragma once

#include "engine/StateChunk.h"
#include "store/PresetFile.h"

#include <array>
#include <filesystem>
#include <string>
#include <vector>

namespace brindlecot {

using PresetValues = std::array<double, kNumParams>;

/// True when `state` may be applied as a preset: at least 4 bytes, starting with the "PWS1" tag.
bool isPresetChunk(const std::vector<uint8_t>& state);

/// Restores `fields` and `params` from a preset's chunk as a host restore would, except that the
/// input mode stays: it belongs to the machine, not to the preset. False (nothing changed) when
/// the state is not a preset chunk.
bool applyPresetChunk(
    const std::vector<uint8_t>& state, StateFields& fields, PresetValues& params, int* paramsRead = nullptr);

/// The window scale a loaded preset asks for: savedEditorWidth / 542 when the width is above 0
/// and that differs from `currentScale` by more than 0.01; false when the window should stay.
bool presetWindowScale(int32_t savedEditorWidth, double currentScale, double& scale);

/// The preset bar's arrows: the name `step` places after `current` in `names`, wrapping around;
/// from a name not in the list, the first (step >= 1) or the last. Empty when `names` is empty.
std::string steppedPresetName(const std::vector<std::string>& names, const std::string& current, int step);

/// A name typed into the preset bar without spaces and tabs at either end (empty: save nothing).
std::string trimmedPresetName(const std::string& text);

class PresetStore
{
public:
    /// `folder` is presetsFolder(); an empty folder lists nothing and saves nothing.
    explicit PresetStore(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }

    /// The readable presets, sorted by name in byte order ("Alpha" < "alpha" < "beta").
    std::vector<PresetRecord> list() const;
    /// Their names in the same order, as the preset bar shows them.
    std::vector<std::string> names() const;

    /// The first steps of loading: reads the preset of that name and checks that it carries a
    /// state chunk. False when nothing may change; `error` is then empty for a readable file whose
    /// state is not a chunk, else the text to show.
    bool find(const std::string& name, PresetRecord& record, std::string& error) const;
    /// After the plug-in applied a found preset: it becomes current, `values` its baseline.
    void loaded(const std::string& name, const PresetValues& values);

    /// Writes `chunk` under `name` (replacing the preset of that name); on success the name becomes
    /// current with `values` as baseline, on failure the current preset stays as it was.
    bool save(const std::string& name, const std::vector<uint8_t>& chunk, const PresetValues& values,
        std::string& error);

    /// Deletes the preset of that name; when it was current, no preset is current any more.
    bool remove(const std::string& name, std::string& error);

    /// Gives a preset another name: writes it under `newName`, then deletes the old file, so a crash
    /// in between leaves both. Refuses when a preset named `newName` exists. The current preset
    /// follows the rename, keeping its baseline and modified flag.
    bool rename(const std::string& oldName, const std::string& newName, std::string& error);

    /// The idle check: when a preset is current and not yet marked, marks it modified if a value
    /// departs from the baseline by more than 1e-6 * max(1, |value|). True when it became modified
    /// by this call (the editor then repaints).
    bool checkModified(const PresetValues& values);

    /// Stores `values` as the baseline and clears the modified flag.
    void captureBaseline(const PresetValues& values);

    /// Name of the current preset, empty when none.
    const std::string& currentName() const { return currentName_; }
    /// True when the current preset's values were edited since it was loaded or saved.
    bool modified() const { return modified_; }
    /// Values at the last load or save, in parameter index order; empty when no preset is current.
    const std::vector<double>& baseline() const { return baseline_; }

private:
    std::filesystem::path folder_;
    std::string currentName_;
    std::vector<double> baseline_;
    bool modified_ = false;
};

} // namespace brindlecot
