// Command-line options of velarune-process, parsed without touching any file so they can be tested.
#pragma once

#include "engine/Parameters.h"

#include <string>
#include <utility>
#include <vector>

namespace brindlecot::tools {

struct ProcessOptions
{
    std::string inputPath;
    std::string outputPath;
    bool demo = false; // generate the demo scene instead of reading an input
    std::string demoDir; // where the demo writes its input and output files
    std::string scenePath; // the demo's bleed scene instead of the one in the source tree
    std::string modelsDir; // read the bleed models from here instead of the built-in ones
    std::string logDir; // write the diagnostic CSV log of the run into this folder
    std::string presetPath; // apply this preset file before the --set settings
    std::string savePresetPath; // write the resulting settings as a preset file here
    int blockSize = 512;
    int inputMode = 0; // 0 auto, 1 left channel only
    bool quiet = false;
    bool help = false;
    bool listParams = false;
    std::vector<std::pair<int, double>> settings; // parameter index, plain value
};

/// Parses argv; on failure returns false and sets `error` to a one-line message.
bool parseProcessOptions(int argc, const char* const* argv, ProcessOptions& options, std::string& error);

/// Parses one "Name=Value" setting against the parameter table (exact name, value in range;
/// booleans also accept on/off, "BEEF Knob" also Low/High).
bool parseSetting(const std::string& text, int& index, double& value, std::string& error);

std::string usageText();

} // namespace brindlecot::tools
