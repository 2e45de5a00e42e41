// Feeds arbitrary text to the preset parser: it must never crash or read out of bounds, a preset
// it accepts must carry a state, and writing that preset again must read back the same. The same
// bytes as a preset name must give a safe file name.
#include "store/PresetFile.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace brindlecot;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path path = "/presets/Fuzz.vlrpreset";
    PresetRecord record;
    std::string error;
    if (parsePreset(text, path, record, error)) {
        if (record.state.empty() || record.path != path || !error.empty())
            std::abort();
        PresetRecord again;
        if (!parsePreset(formatPreset(record.name, record.state), path, again, error))
            std::abort();
        const std::string stored = storedPresetName(record.name);
        if (again.state != record.state || again.name != (stored.empty() ? "Fuzz" : stored))
            std::abort();
    } else if (error.empty() || !record.name.empty() || !record.state.empty()) {
        std::abort();
    }

    const std::string fileName = presetFileName(std::string(text));
    // At most 80 bytes and a "-" after a device name, then the extension; no byte a file system
    // refuses; no space or dot at either end of the stem.
    const size_t extension = std::strlen(PresetFormat::extension);
    if (fileName.size() <= extension || fileName.size() > 81 + extension
        || fileName.compare(fileName.size() - extension, extension, PresetFormat::extension) != 0)
        std::abort();
    const std::string stem = fileName.substr(0, fileName.size() - extension);
    for (const char c : stem)
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("/\\\"*:<>?|", c) != nullptr)
            std::abort();
    if (stem.front() == ' ' || stem.front() == '.' || stem.back() == ' ' || stem.back() == '.')
        std::abort();
    return 0;
}
