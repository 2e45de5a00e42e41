#include "velarune-process/ProcessOptions.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace brindlecot::tools {

namespace {
bool parseNumber(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end != nullptr && *end == '\0' && std::isfinite(value);
}

std::string trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return "";
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
} // namespace

bool parseSetting(const std::string& text, int& index, double& value, std::string& error)
{
    const auto eq = text.find('=');
    if (eq == std::string::npos) {
        error = "setting \"" + text + "\" is not of the form Name=Value";
        return false;
    }
    const std::string name = trim(text.substr(0, eq));
    const std::string valueText = trim(text.substr(eq + 1));
    index = findParameter(name);
    if (index < 0) {
        error = "unknown parameter \"" + name + "\" (see --list-params)";
        return false;
    }
    const ParamSpec& info = paramSpec(index);
    const std::string v = lower(valueText);
    if (info.kind == ParamKind::Boolean && (v == "on" || v == "off" || v == "true" || v == "false")) {
        value = (v == "on" || v == "true") ? 1.0 : 0.0;
        return true;
    }
    if (info.kind == ParamKind::Enumeration && (v == "low" || v == "high")) {
        value = v == "high" ? 1.0 : 0.0;
        return true;
    }
    if (!parseNumber(valueText, value)) {
        error = "value \"" + valueText + "\" for \"" + name + "\" is not a number";
        return false;
    }
    // Accept the value as shown (e.g. the drive maximum 38.1 shown for 38.0618) within half a step.
    const double slack = info.shape == ParamShape::Stepped ? 0.0 : info.step * 0.5;
    if (value < info.minValue - slack || value > info.maxValue + slack
        || (info.shape == ParamShape::Stepped && value != std::round(value))) {
        error = "value " + valueText + " for \"" + name + "\" is outside " + formatValue(info, info.minValue)
            + " .. " + formatValue(info, info.maxValue)
            + (info.unit[0] ? std::string(" ") + info.unit : std::string());
        return false;
    }
    value = constrainPlain(info, value);
    return true;
}

bool parseProcessOptions(int argc, const char* const* argv, ProcessOptions& o, std::string& error)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string value;
        if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--list-params") {
            o.listParams = true;
        } else if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--demo-dir") {
            if (!next(o.demoDir))
                return false;
            o.demo = true;
        } else if (arg == "--scene") {
            if (!next(o.scenePath))
                return false;
            o.demo = true;
        } else if (arg == "--models") {
            if (!next(o.modelsDir))
                return false;
        } else if (arg == "--log") {
            if (!next(o.logDir))
                return false;
            if (o.logDir.empty()) {
                error = "option --log needs a folder";
                return false;
            }
        } else if (arg == "--preset") {
            if (!next(o.presetPath))
                return false;
        } else if (arg == "--save-preset") {
            if (!next(o.savePresetPath))
                return false;
        } else if (arg == "--set" || arg == "-s") {
            if (!next(value))
                return false;
            int index = -1;
            double v = 0.0;
            if (!parseSetting(value, index, v, error))
                return false;
            o.settings.emplace_back(index, v);
        } else if (arg == "--block" || arg == "-b") {
            if (!next(value))
                return false;
            double b = 0.0;
            if (!parseNumber(value, b) || b != std::floor(b) || b < 1 || b > 65536) {
                error = "block size \"" + value + "\" must be a whole number from 1 to 65536";
                return false;
            }
            o.blockSize = static_cast<int>(b);
        } else if (arg == "--input-mode") {
            if (!next(value))
                return false;
            if (value == "auto")
                o.inputMode = 0;
            else if (value == "left")
                o.inputMode = 1;
            else {
                error = "input mode \"" + value + "\" must be auto or left";
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg + " (see --help)";
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (o.help || o.listParams)
        return true;
    if (o.demo) {
        if (!positional.empty()) {
            error = "--demo takes no input or output file";
            return false;
        }
        return true;
    }
    // Saving a preset alone needs no audio files.
    if (positional.empty() && !o.savePresetPath.empty())
        return true;
    if (positional.size() != 2) {
        error = "expected an input and an output file (see --help)";
        return false;
    }
    o.inputPath = positional[0];
    o.outputPath = positional[1];
    return true;
}

std::string usageText()
{
    return "usage: velarune-process [options] INPUT OUTPUT\n"
           "       velarune-process --demo [--demo-dir DIR] [--scene FILE] [options]\n"
           "       velarune-process [--preset FILE] [--set ...] --save-preset FILE\n"
           "Runs Velarune's processing on a WAV or FLAC file (mono or stereo) at its own sample rate.\n"
           "  -s, --set \"Name=Value\"  set a parameter by its exact name, e.g. --set \"Bleed "
           "Reduction=80\"\n"
           "      --preset FILE       apply a .vlrpreset file first (--set values then override it)\n"
           "      --save-preset FILE  write the settings (--preset, then --set) as a preset file named\n"
           "                          after FILE; without INPUT and OUTPUT nothing is processed\n"
           "  -b, --block N           block size in samples (default 512)\n"
           "      --input-mode M      auto or left (left channel only)\n"
           "      --demo              process the built-in demo scene (writes demo-in.wav, demo-out.wav),\n"
           "                          then the bleed scene with \"Bleed Reduction=100\" (writes\n"
           "                          demo-bleed-in.wav, demo-bleed-out.wav) and measure it\n"
           "      --demo-dir DIR      folder for the demo files (default: current folder)\n"
           "      --scene FILE        the bleed scene to use (stereo: microphone, vocal) instead of\n"
           "                          resources/demo/bleed-scene.flac\n"
           "      --models DIR        read big_base_s1.bin and gig_eco_v2.bin from DIR instead of the\n"
           "                          built-in models (a folder without them runs with no model)\n"
           "      --log DIR           write the diagnostic log (CSV: notches engaged, released and\n"
           "                          retuned, a status row every 100 ms of audio) into DIR\n"
           "      --list-params       list the parameters with their ranges and defaults\n"
           "  -q, --quiet             no progress and no summary\n"
           "  -h, --help              this text\n";
}

} // namespace brindlecot::tools
