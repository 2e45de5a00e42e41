// Where Velarune keeps its per-user files: the product folder with the preferences file, the
// presets and the logs, and the folder shared by all of Brindlecot's plug-ins. On Linux the per-user
// local application-data folder is $XDG_DATA_HOME, else $HOME/.local/share. When neither gives an
// absolute path every folder is the empty path, and callers then read and write nothing.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace brindlecot {

/// Looks up an environment variable; nullopt when it is not set. Tests pass their own.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

/// The process environment (getenv).
EnvironmentLookup processEnvironment();

/// The per-user local application-data folder, or the empty path when it cannot be determined.
std::filesystem::path applicationDataFolder(const EnvironmentLookup& env = processEnvironment());

/// applicationDataFolder / "Velarune" (empty when unknown).
std::filesystem::path productFolder(const EnvironmentLookup& env = processEnvironment());
/// productFolder / "preferences.ini" (empty when unknown).
std::filesystem::path preferencesPath(const EnvironmentLookup& env = processEnvironment());
/// productFolder / "presets" (empty when unknown).
std::filesystem::path presetsFolder(const EnvironmentLookup& env = processEnvironment());
/// productFolder / "logs" (empty when unknown).
std::filesystem::path logsFolder(const EnvironmentLookup& env = processEnvironment());
/// applicationDataFolder / "Brindlecot" / "shared", the same for every plug-in of the maker.
std::filesystem::path makerFolder(const EnvironmentLookup& env = processEnvironment());

} // namespace brindlecot
