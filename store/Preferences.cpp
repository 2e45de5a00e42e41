#include "store/Preferences.h"

#include <fstream>
#include <system_error>

namespace brindlecot {

namespace fs = std::filesystem;

bool preferenceValueIsOn(const std::string& value)
{
    size_t i = 0;
    // The C library's idea of whitespace, as a decimal-integer reader skips it.
    while (i < value.size()
        && (value[i] == ' ' || value[i] == '\t' || value[i] == '\n' || value[i] == '\v' || value[i] == '\f'
            || value[i] == '\r'))
        ++i;
    if (i < value.size() && (value[i] == '+' || value[i] == '-'))
        ++i;
    // Any non-zero digit makes the value non-zero, however many digits follow: no overflow.
    bool nonZero = false;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        nonZero = nonZero || value[i] != '0';
    return nonZero;
}

void loadPreferences(const fs::path& path, bool& loggingPreference)
{
    if (path.empty())
        return;
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const size_t eq = line.find('=');
            if (line.empty() || eq == std::string::npos)
                continue;
            if (line.compare(0, eq, "logging") == 0 && eq == 7)
                loggingPreference = preferenceValueIsOn(line.substr(eq + 1));
        }
    } catch (...) {
        // A read error keeps the value the lines before it gave.
    }
}

bool savePreferences(bool loggingPreference, const fs::path& path)
{
    if (path.empty())
        return false;
    try {
        std::error_code ec;
        const fs::path folder = path.parent_path();
        if (!folder.empty()) {
            fs::create_directories(folder, ec);
            if (ec)
                return false;
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out << kPreferencesComment << "\r\n"
            << "logging=" << (loggingPreference ? '1' : '0') << "\r\n";
        out.close();
        return !out.fail();
    } catch (...) {
        return false;
    }
}

} // namespace brindlecot
