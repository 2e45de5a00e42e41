#include "store/PresetStore.h"

#include "engine/EditorSizing.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace brindlecot {

namespace fs = std::filesystem;

bool isPresetChunk(const std::vector<uint8_t>& state)
{
    return state.size() >= 4 && state[0] == (kStateTag & 0xFFu) && state[1] == ((kStateTag >> 8) & 0xFFu)
        && state[2] == ((kStateTag >> 16) & 0xFFu) && state[3] == (kStateTag >> 24);
}

bool applyPresetChunk(
    const std::vector<uint8_t>& state, StateFields& fields, PresetValues& params, int* paramsRead)
{
    if (paramsRead != nullptr)
        *paramsRead = 0;
    if (!isPresetChunk(state))
        return false;
    const int32_t inputMode = fields.inputMode;
    const int64_t next = readStateChunk(state.data(), state.size(), 0, fields, params, paramsRead);
    fields.inputMode = inputMode;
    return next >= 0;
}

bool presetWindowScale(int32_t savedEditorWidth, double currentScale, double& scale)
{
    if (savedEditorWidth <= 0)
        return false;
    const double wanted = savedEditorWidth / static_cast<double>(kEditorWidth);
    if (!(std::fabs(wanted - currentScale) > 0.01))
        return false;
    scale = wanted;
    return true;
}

std::string steppedPresetName(const std::vector<std::string>& names, const std::string& current, int step)
{
    if (names.empty())
        return {};
    const auto it = std::find(names.begin(), names.end(), current);
    if (it == names.end())
        return step >= 1 ? names.front() : names.back();
    const auto count = static_cast<long long>(names.size());
    const long long i = (static_cast<long long>(it - names.begin()) + step % count + count) % count;
    return names[static_cast<size_t>(i)];
}

std::string trimmedPresetName(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

PresetStore::PresetStore(fs::path folder)
    : folder_(std::move(folder))
{ }

std::vector<PresetRecord> PresetStore::list() const
{
    return listPresets(folder_);
}

std::vector<std::string> PresetStore::names() const
{
    std::vector<std::string> out;
    for (auto& record : list())
        out.push_back(std::move(record.name));
    return out;
}

bool PresetStore::find(const std::string& name, PresetRecord& record, std::string& error) const
{
    record = PresetRecord {};
    error.clear();
    if (folder_.empty())
        return false;
    const fs::path path = presetPathFor(folder_, name);
    if (path.empty()) {
        // Every file name of this name holds another preset: never load one of those instead.
        error = std::string("not an ") + PresetFormat::product + " preset: " + presetFileName(name);
        return false;
    }
    if (!readPreset(path, record, error))
        return false;
    if (!isPresetChunk(record.state)) {
        record = PresetRecord {};
        return false;
    }
    return true;
}

void PresetStore::loaded(const std::string& name, const PresetValues& values)
{
    currentName_ = storedPresetName(name);
    captureBaseline(values);
}

bool PresetStore::save(const std::string& name, const std::vector<uint8_t>& chunk, const PresetValues& values,
    std::string& error)
{
    if (!writePreset(folder_, name, chunk, error))
        return false;
    // The name as the file stores it, so that the list shows the current preset.
    currentName_ = storedPresetName(name);
    captureBaseline(values);
    return true;
}

bool PresetStore::remove(const std::string& name, std::string& error)
{
    error.clear();
    const fs::path path = folder_.empty() ? fs::path() : presetPathFor(folder_, name);
    std::error_code ec;
    if (path.empty() || !fs::remove(path, ec) || ec) {
        error = "could not delete " + (path.empty() ? presetFileName(name) : path.filename().string());
        return false;
    }
    if (storedPresetName(name) == currentName_) {
        currentName_.clear();
        baseline_.clear();
        modified_ = false;
    }
    return true;
}

bool PresetStore::rename(const std::string& oldName, const std::string& newName, std::string& error)
{
    error.clear();
    if (storedPresetName(oldName) == storedPresetName(newName))
        return true;
    PresetRecord old;
    const fs::path oldPath = folder_.empty() ? fs::path() : presetPathFor(folder_, oldName);
    if (oldPath.empty() || !readPreset(oldPath, old, error)) {
        if (error.empty())
            error = std::string("not an ") + PresetFormat::product + " preset: " + presetFileName(oldName);
        return false;
    }
    const fs::path newPath = presetPathFor(folder_, newName);
    std::error_code ec;
    if (!newPath.empty() && fs::exists(newPath, ec)) {
        error = "a preset named \"" + storedPresetName(newName) + "\" already exists";
        return false;
    }
    if (!writePreset(folder_, newName, old.state, error))
        return false;
    const bool wasCurrent = currentName_ == old.name;
    if (!fs::remove(oldPath, ec) || ec) {
        // The preset now exists twice; the old file stays listed under its old name.
        error = "could not delete " + oldPath.filename().string();
        return false;
    }
    if (wasCurrent)
        currentName_ = storedPresetName(newName);
    return true;
}

bool PresetStore::checkModified(const PresetValues& values)
{
    if (currentName_.empty() || modified_ || baseline_.size() != values.size())
        return false;
    for (size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        if (std::fabs(v - baseline_[i]) > 1e-6 * std::max(1.0, std::fabs(v))) {
            modified_ = true;
            return true;
        }
    }
    return false;
}

void PresetStore::captureBaseline(const PresetValues& values)
{
    baseline_.assign(values.begin(), values.end());
    modified_ = false;
}

} // namespace brindlecot
