#include "updates/AtomicFile.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace brindlecot::updates {
namespace {

// A fresh 32-bit value per write. The random device can throw where the system offers none; the
// fallback mixes the clock with a counter so that two writers still rarely pick the same name.
uint32_t randomToken()
{
    try {
        std::random_device device;
        return static_cast<uint32_t>(device());
    } catch (...) {
        static std::atomic<uint32_t> counter {0};
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        return static_cast<uint32_t>(ticks) ^ (counter.fetch_add(1) * 0x9E3779B9u);
    }
}

} // namespace

std::filesystem::path temporarySibling(const std::filesystem::path& path, uint32_t token)
{
    std::filesystem::path sibling = path;
    sibling.replace_filename(path.filename().string() + ".tmp-" + std::to_string(token));
    return sibling;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    std::error_code ec;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), ec); // a failure shows up at the open

    const std::filesystem::path temporary = temporarySibling(path, randomToken());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.is_open())
            return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        out.close();
        if (out.fail()) {
            std::filesystem::remove(temporary, ec); // a half-written file must not linger
            return false;
        }
    }
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

} // namespace brindlecot::updates
