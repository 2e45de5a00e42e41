// Reads tools/train/runtime_constants.py, the training side's copy of the constants the runtime
// also defines, so the suite can check that both agree without running Python. The module keeps
// one `NAME = literal` per line: a number or a double-quoted string, optionally followed by a
// comment. Anything else at the start of a line is reported, so an expression cannot slip past.
#pragma once

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace brindlecot::test {

struct TrainingConstants
{
    std::map<std::string, double> numbers;
    std::map<std::string, std::string> texts;
    std::vector<std::string> unreadable; // assignments whose value is not a plain literal
    bool opened = false;
};

inline TrainingConstants parseTrainingConstants(std::istream& in)
{
    TrainingConstants c;
    c.opened = true;
    std::string line;
    bool inDocstring = false;
    while (std::getline(in, line)) {
        std::size_t quotes = 0;
        for (std::size_t at = line.find("\"\"\""); at != std::string::npos; at = line.find("\"\"\"", at + 3))
            ++quotes;
        if (inDocstring || quotes > 0) {
            inDocstring = (inDocstring + quotes) % 2 == 1;
            continue;
        }
        if (line.empty() || !(std::isupper(static_cast<unsigned char>(line[0]))))
            continue; // comments, docstring, blank lines, indented code
        const std::size_t eq = line.find('=');
        std::size_t nameEnd = 0;
        while (nameEnd < line.size()
            && (std::isupper(static_cast<unsigned char>(line[nameEnd]))
                || std::isdigit(static_cast<unsigned char>(line[nameEnd])) || line[nameEnd] == '_'))
            ++nameEnd;
        if (eq == std::string::npos || line.find_first_not_of(' ', nameEnd) != eq) {
            c.unreadable.push_back(line);
            continue;
        }
        const std::string name = line.substr(0, nameEnd);
        std::string value = line.substr(eq + 1);
        const std::size_t hash = value.find(" #");
        if (hash != std::string::npos && value.find('"') > hash)
            value.erase(hash);
        const std::size_t first = value.find_first_not_of(' ');
        const std::size_t last = value.find_last_not_of(' ');
        value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"'
            && value.find('"', 1) == value.size() - 1) {
            c.texts[name] = value.substr(1, value.size() - 2);
            continue;
        }
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (value.empty() || end != value.c_str() + value.size())
            c.unreadable.push_back(line);
        else
            c.numbers[name] = number;
    }
    return c;
}

inline TrainingConstants readTrainingConstants()
{
    std::ifstream in(VELARUNE_TRAINING_CONSTANTS);
    if (!in)
        return {};
    return parseTrainingConstants(in);
}

} // namespace brindlecot::test
