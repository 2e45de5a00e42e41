#include "store/DataFolders.h"

#include <cstdlib>

namespace brindlecot {

namespace fs = std::filesystem;

namespace {
// Joins `leaf` onto `folder`, keeping an unknown (empty) folder unknown instead of making a path
// relative to the working folder.
fs::path under(const fs::path& folder, const char* leaf)
{
    return folder.empty() ? fs::path() : folder / leaf;
}

// The base-directory convention only accepts absolute paths; a relative one would put the files
// wherever the host happened to start.
std::optional<fs::path> absoluteFrom(const EnvironmentLookup& env, const char* name)
{
    if (!env)
        return std::nullopt;
    const std::optional<std::string> value = env(name);
    if (!value || value->empty())
        return std::nullopt;
    fs::path p(*value);
    if (!p.is_absolute())
        return std::nullopt;
    return p;
}
} // namespace

EnvironmentLookup processEnvironment()
{
    return [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        if (v == nullptr)
            return std::nullopt;
        return std::string(v);
    };
}

fs::path applicationDataFolder(const EnvironmentLookup& env)
{
    if (auto xdg = absoluteFrom(env, "XDG_DATA_HOME"))
        return *xdg;
    if (auto home = absoluteFrom(env, "HOME"))
        return *home / ".local" / "share";
    return {};
}

fs::path productFolder(const EnvironmentLookup& env)
{
    return under(applicationDataFolder(env), "Velarune");
}

fs::path preferencesPath(const EnvironmentLookup& env)
{
    return under(productFolder(env), "preferences.ini");
}

fs::path presetsFolder(const EnvironmentLookup& env)
{
    return under(productFolder(env), "presets");
}

fs::path logsFolder(const EnvironmentLookup& env)
{
    return under(productFolder(env), "logs");
}

fs::path makerFolder(const EnvironmentLookup& env)
{
    const fs::path brindlecot = under(applicationDataFolder(env), "Brindlecot");
    return under(brindlecot, "shared");
}

} // namespace brindlecot
