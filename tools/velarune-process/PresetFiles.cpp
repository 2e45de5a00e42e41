#include "velarune-process/PresetFiles.h"

#include "store/AtomicFile.h"
#include "store/PresetFile.h"

#include <filesystem>

namespace brindlecot::tools {

bool presetSettings(
    const std::string& path, std::vector<std::pair<int, double>>& settings, std::string& error)
{
    settings.clear();
    PresetRecord record;
    if (!readPreset(path, record, error))
        return false;
    StateFields fields;
    PresetValues values = defaultParameterValues();
    if (!applyPresetChunk(record.state, fields, values)) {
        error = "the preset has no " + std::string(PresetFormat::product)
            + " state chunk: " + std::filesystem::path(path).filename().string();
        return false;
    }
    const PresetValues defaults = defaultParameterValues();
    for (int i = 0; i < kNumParams; ++i)
        if (values[static_cast<size_t>(i)] != defaults[static_cast<size_t>(i)])
            settings.emplace_back(i, values[static_cast<size_t>(i)]);
    return true;
}

bool savePresetFile(const std::string& path, const std::vector<std::pair<int, double>>& settings,
    int inputMode, std::string& error)
{
    PresetValues values = defaultParameterValues();
    for (const auto& [index, value] : settings)
        values[static_cast<size_t>(index)] = value;
    std::vector<uint8_t> chunk;
    writeStateChunk(chunk, 5, 542, 476, inputMode == 1 ? 1 : 0, values);
    const std::filesystem::path file(path);
    return writeFileAtomically(file, formatPreset(file.stem().string(), chunk), error);
}

} // namespace brindlecot::tools
