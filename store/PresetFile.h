// Preset files: UTF-8 text of three lines, "Velarune preset 1", "name=" + the name and "state=" +
// the plug-in state chunk in base64, in files "<sanitised name>.vlrpreset" in the presets folder.
// Readers accept "\r\n" line ends. Failures come back as short English texts the editor shows as is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace brindlecot {

/// The fixed parts of the format.
struct PresetFormat
{
    static constexpr const char* extension = ".vlrpreset";
    static constexpr const char* header = "Velarune preset 1";
    static constexpr const char* product = "Velarune"; // the word used in messages
};

/// Files above this size are not presets (a state chunk is 200 bytes); reading them is refused
/// rather than pulling gigabytes into memory when a foreign file sits in the folder.
inline constexpr std::uintmax_t kMaxPresetFileBytes = 16u << 20;

/// One preset in memory.
struct PresetRecord
{
    std::string name; // UTF-8
    std::vector<uint8_t> state; // the decoded state chunk
    std::filesystem::path path; // the file it came from
};

/// Reads one file; on failure `record` is cleared and `error` tells why, naming the file.
bool readPreset(const std::filesystem::path& path, PresetRecord& record, std::string& error);

/// Parses a preset file's whole text as readPreset does; `path` names the file in messages and
/// gives the name when the text has none.
bool parsePreset(
    std::string_view text, const std::filesystem::path& path, PresetRecord& record, std::string& error);

/// The name as the file stores it: every "\n" and "\r" replaced by a space.
std::string storedPresetName(const std::string& name);

/// The file's text: header, name and base64 state lines, each ended by "\n".
std::string formatPreset(const std::string& name, const std::vector<uint8_t>& state);

/// File name for a preset name: unsafe bytes become "-", at most 80 bytes (whole UTF-8
/// characters), no leading or trailing spaces and dots ("Preset" when nothing is left), reserved
/// device names get a trailing "-", then the extension.
std::string presetFileName(const std::string& name);

/// The file the name maps to: the sanitised name, or "<stem>-<n>.vlrpreset" (n up to 999) when the
/// file names before it hold presets of other names. Empty when all 1000 are taken by other names.
std::filesystem::path presetPathFor(const std::filesystem::path& folder, const std::string& name);

/// Writes the preset named `name` into `folder` (at presetPathFor), atomically.
bool writePreset(const std::filesystem::path& folder, const std::string& name,
    const std::vector<uint8_t>& state, std::string& error);

/// The readable presets directly in `folder`, sorted by name in byte order; unreadable files and
/// ".partial" leftovers are skipped. Empty when the folder does not exist.
std::vector<PresetRecord> listPresets(const std::filesystem::path& folder);

} // namespace brindlecot
