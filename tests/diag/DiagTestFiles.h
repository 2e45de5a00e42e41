// Scratch folders and file reading for the diagnostic log tests.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace brindlecot::test {

/// A fresh folder under the system temp folder, removed with everything in it at the end.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velarune-diag-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Lines of a CR LF file without their CR LF (a line without CR before its LF keeps a marker).
inline std::vector<std::string> crlfLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t lf = bytes.find('\n'); lf != std::string::npos; lf = bytes.find('\n', start)) {
        const bool cr = lf > start && bytes[lf - 1] == '\r';
        lines.push_back(bytes.substr(start, lf - start - (cr ? 1 : 0)) + (cr ? "" : "<bare LF>"));
        start = lf + 1;
    }
    if (start < bytes.size())
        lines.push_back(bytes.substr(start) + "<unterminated>");
    return lines;
}

inline std::vector<std::string> splitCsv(const std::string& line)
{
    std::vector<std::string> cells;
    std::stringstream s(line);
    std::string cell;
    while (std::getline(s, cell, ','))
        cells.push_back(cell);
    return cells;
}

/// Files directly in `folder`, sorted by name.
inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        if (e.is_regular_file())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace brindlecot::test
