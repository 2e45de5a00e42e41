// Shared helpers of the update tests: a scratch folder that removes itself, and whole-file reading.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace brindlecot::updates::testing {

class TempFolder
{
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velarune-updates-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) != nullptr)
            root = buffer.data();
    }
    ~TempFolder()
    {
        std::error_code ec;
        if (!root.empty())
            std::filesystem::remove_all(root, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return root; }

private:
    std::filesystem::path root;
};

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

/// Names in folder that contain ".tmp-" (left-over temporary files).
inline std::vector<std::string> temporaryFiles(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            names.push_back(entry.path().filename().string());
    return names;
}

} // namespace brindlecot::updates::testing
