// The per-machine preferences file "preferences.ini": a comment line and "logging=0|1". It is not
// part of the plug-in state; every instance on the machine shares it and the last writer wins.
#pragma once

#include <filesystem>
#include <string>

namespace brindlecot {

inline constexpr const char* kPreferencesComment
    = "# Velarune preferences. Belongs to this machine, not to any project.";

/// Sets `loggingPreference` from the file's last "logging=" line; a missing or unreadable file (or
/// an empty path) leaves it unchanged. Never fails visibly.
void loadPreferences(const std::filesystem::path& path, bool& loggingPreference);

/// Reads a preferences value as a decimal integer (leading whitespace and a sign allowed, stopping
/// at the first non-digit; no digits read as 0) and tells whether it is not 0.
bool preferenceValueIsOn(const std::string& value);

/// Rewrites the whole file (creating its folder) with CR LF line ends. Returns false when nothing
/// could be written (empty path, folder or file not creatable); callers may ignore that.
bool savePreferences(bool loggingPreference, const std::filesystem::path& path);

} // namespace brindlecot
