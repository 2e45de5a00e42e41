#include "store/PresetFile.h"

#include "store/AtomicFile.h"
#include "store/Base64.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <system_error>

namespace brindlecot {

namespace fs = std::filesystem;

namespace {

std::string notAPreset(const fs::path& path)
{
    return std::string("not an ") + PresetFormat::product + " preset: " + path.filename().string();
}

std::string noReadableState(const fs::path& path)
{
    return "the preset has no readable state: " + path.filename().string();
}

// Whole file into `text`, refusing what cannot be a preset: anything but a regular file (a pipe
// would block the user-interface thread, a device never end) and files above the size limit.
bool readSmallFile(const fs::path& path, std::string& text)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    text.clear();
    char buffer[16384];
    while (in) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxPresetFileBytes)
            return false;
    }
    return !in.bad();
}

bool isReservedDeviceName(const std::string& fileName)
{
    std::string base = fileName.substr(0, fileName.find('.'));
    for (auto& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)
        && base[3] >= '1' && base[3] <= '9';
}

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

} // namespace

bool readPreset(const fs::path& path, PresetRecord& record, std::string& error)
{
    record = PresetRecord {};
    error.clear();
    std::string text;
    bool read = false;
    try {
        read = readSmallFile(path, text);
    } catch (...) {
        read = false;
    }
    if (!read) {
        error = notAPreset(path);
        return false;
    }
    return parsePreset(text, path, record, error);
}

bool parsePreset(std::string_view text, const fs::path& path, PresetRecord& record, std::string& error)
{
    record = PresetRecord {};
    error.clear();
    if (text.empty()) {
        error = notAPreset(path); // no first line to read
        return false;
    }
    bool firstLine = true;
    bool stateReadable = false;
    std::string name;
    std::vector<uint8_t> state;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        std::string_view line
            = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        if (firstLine) {
            firstLine = false;
            if (line != PresetFormat::header) {
                error = notAPreset(path);
                return false;
            }
            continue;
        }
        const size_t eq = line.find('=');
        if (line.empty() || eq == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, eq);
        if (key == "name")
            name = std::string(line.substr(eq + 1));
        else if (key == "state")
            stateReadable = base64Decode(line.substr(eq + 1), state) && !state.empty();
    }
    if (!stateReadable) {
        error = noReadableState(path);
        return false;
    }
    record.name = name.empty() ? path.stem().string() : std::move(name);
    record.state = std::move(state);
    record.path = path;
    return true;
}

std::string storedPresetName(const std::string& name)
{
    std::string stored = name;
    std::replace(stored.begin(), stored.end(), '\n', ' ');
    std::replace(stored.begin(), stored.end(), '\r', ' ');
    return stored;
}

std::string formatPreset(const std::string& name, const std::vector<uint8_t>& state)
{
    return std::string(PresetFormat::header) + "\n" + "name=" + storedPresetName(name) + "\n"
        + "state=" + base64Encode(state) + "\n";
}

std::string presetFileName(const std::string& name)
{
    std::string s = name;
    for (auto& c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || std::strchr("/\\\"*:<>?|", c) != nullptr)
            c = '-';
    }
    if (s.size() > 80) {
        size_t cut = 80;
        if (isContinuationByte(s[80])) {
            // The cut falls inside a character: back to its lead byte (at most 3 steps) and drop
            // the character whole. A run of stray continuation bytes is not UTF-8; cut it plainly.
            size_t lead = 80;
            while (lead > 77 && isContinuationByte(s[lead]))
                --lead;
            if (!isContinuationByte(s[lead]))
                cut = lead;
        }
        s.resize(cut);
    }
    const size_t first = s.find_first_not_of(" .");
    if (first == std::string::npos)
        s.clear();
    else
        s = s.substr(first, s.find_last_not_of(" .") - first + 1);
    if (s.empty())
        s = "Preset";
    if (isReservedDeviceName(s))
        s += '-';
    return s + PresetFormat::extension;
}

fs::path presetPathFor(const fs::path& folder, const std::string& name)
{
    const std::string fileName = presetFileName(name);
    const std::string stem = fileName.substr(0, fileName.size() - std::strlen(PresetFormat::extension));
    // Names are compared as stored, so a name with a line break finds its own file again.
    const std::string wanted = storedPresetName(name);
    for (int n = 0; n <= 999; ++n) {
        const fs::path candidate = n == 0
            ? folder / fileName
            : folder / (stem + "-" + std::to_string(n) + PresetFormat::extension);
        std::error_code ec;
        const bool exists = fs::exists(candidate, ec);
        if (ec || !exists)
            return candidate;
        PresetRecord record;
        std::string error;
        if (readPreset(candidate, record, error) && record.name == wanted)
            return candidate;
    }
    return {};
}

bool writePreset(
    const fs::path& folder, const std::string& name, const std::vector<uint8_t>& state, std::string& error)
{
    error.clear();
    if (folder.empty()) {
        error = "could not write " + presetFileName(name) + ": the presets folder is unknown";
        return false;
    }
    const fs::path path = presetPathFor(folder, name);
    if (path.empty()) {
        error = "could not write " + (folder / presetFileName(name)).string()
            + ": all 1000 file names are taken by other presets";
        return false;
    }
    return writeFileAtomically(path, formatPreset(name, state), error);
}

std::vector<PresetRecord> listPresets(const fs::path& folder)
{
    std::vector<PresetRecord> records;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec))
        return records;
    fs::directory_iterator it(folder, ec);
    const fs::directory_iterator end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        const std::string fileName = it->path().filename().string();
        const size_t dot = fileName.rfind('.');
        if (dot == std::string::npos
            || fileName.compare(dot, std::string::npos, PresetFormat::extension) != 0)
            continue;
        PresetRecord record;
        std::string error;
        if (readPreset(it->path(), record, error))
            records.push_back(std::move(record));
    }
    // Byte order of the names; equal names by path so the order does not depend on the directory.
    std::sort(records.begin(), records.end(), [](const PresetRecord& a, const PresetRecord& b) {
        if (a.name != b.name)
            return a.name < b.name;
        return a.path < b.path;
    });
    return records;
}

} // namespace brindlecot
