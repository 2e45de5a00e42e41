// Preset files for velarune-process: a preset read from a file becomes parameter settings, and
// settings can be written as a preset the plug-in lists when the file sits in its presets folder.
#pragma once

#include "store/PresetStore.h"

#include <string>
#include <utility>
#include <vector>

namespace brindlecot::tools {

/// Reads the preset file at `path` and returns, in index order, every parameter whose stored value
/// differs from its default; the input mode is not part of a preset. False with a one-line error.
bool presetSettings(
    const std::string& path, std::vector<std::pair<int, double>>& settings, std::string& error);

/// Writes the defaults with `settings` applied as a preset file at `path`, named after the file's
/// stem (the plug-in's chunk with accent 5, a 542 x 476 editor and `inputMode`). Atomic.
bool savePresetFile(const std::string& path, const std::vector<std::pair<int, double>>& settings,
    int inputMode, std::string& error);

} // namespace brindlecot::tools
