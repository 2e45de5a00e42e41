// velarune-process: runs Velarune's processing frame on a WAV or FLAC file, offline, at the file's
// own sample rate and channel count, in host-sized blocks, and prints what each stage did.
#include "diag/DiagnosticLog.h"
#include "engine/ProcessingFrame.h"
#include "velarune-process/AudioFile.h"
#include "velarune-process/BleedScene.h"
#include "velarune-process/DemoSignal.h"
#include "velarune-process/PresetFiles.h"
#include "velarune-process/ProcessOptions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// The bleed demo scene of the source tree (resources/demo/bleed-scene.flac), set by the build.
#ifndef VELARUNE_DEMO_SCENE
#define VELARUNE_DEMO_SCENE ""
#endif

using namespace brindlecot;
using namespace brindlecot::tools;

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "velarune-process: %s\n", message.c_str());
    return 2;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa
    {
    };
    struct stat sb
    {
    };
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

double peakDb(const std::vector<std::vector<double>>& x)
{
    double p = 0.0;
    for (const auto& ch : x)
        for (double v : ch)
            p = std::max(p, std::fabs(v));
    return p > 0.0 ? 20.0 * std::log10(p) : -INFINITY;
}

// What each stage did over the run, sampled once per block.
struct Activity
{
    size_t blocks = 0;
    size_t bleed = 0, feedback = 0, air = 0, saturation = 0, topSaturation = 0, ride = 0, gate = 0,
           bypass = 0;
    int maxNotches = 0;
    float deepestNotchHz = 0.0f;
    float minLimiterGainDb = 0.0f;
    float maxBleedMeter = 0.0f;
    int laneMode = 0;

    void sample(const FrameSnapshot& s)
    {
        ++blocks;
        bypass += s.fullBypass;
        bleed += !s.bleedIdle;
        feedback += !s.feedbackIdle;
        air += !s.airIdle;
        saturation += !s.saturationIdle;
        topSaturation += !s.topSaturationIdle;
        ride += !s.rideIdle;
        gate += !s.gateIdle;
        if (s.activeNotchCount > maxNotches) {
            maxNotches = s.activeNotchCount;
            deepestNotchHz = s.deepestNotchFrequencyHz;
        }
        minLimiterGainDb = std::min(minLimiterGainDb, s.limiterGainDb);
        maxBleedMeter = std::max(maxBleedMeter, s.bleedMeter);
        laneMode = s.laneMode;
    }
};

const char* percentOf(size_t part, size_t whole, char* buffer, size_t size)
{
    std::snprintf(buffer, size, "%5.1f %% of blocks", whole ? 100.0 * part / whole : 0.0);
    return buffer;
}

void listParameters()
{
    std::printf("%-3s %-22s %-10s %-10s %-10s\n", "#", "name", "default", "min", "max");
    for (const auto& s : parameterTable())
        std::printf("%-3d %-22s %-10s %-10s %-10s %s\n", s.index, s.name,
            formatValue(s, s.defaultValue).c_str(), formatValue(s, s.minValue).c_str(),
            formatValue(s, s.maxValue).c_str(), s.unit);
}

// Runs the processing frame over `in` in blocks of options.blockSize, with the bleed models of
// options.modelsDir (or the built-in ones), and returns the output. The demo scenes use it too.
// With a log, every block is recorded as the plug-in's audio thread would, with the transport
// running and the playhead at the block's first frame, and the queue is drained after each block
// (an offline run has no idle task, and a drain per block keeps the queue from ever filling).
Audio runFrame(const Audio& in, const ParameterValues& params, const ProcessOptions& options, bool progress,
    Activity& activity, double& cpuSeconds, std::string& modelStatus, DiagnosticLog* log = nullptr)
{
    auto frame = std::make_unique<ProcessingFrame>(0);
    dsp::ModelSearch search;
    if (!options.modelsDir.empty()) {
        search.embedded = nullptr;
        search.bareNameDirectory = options.modelsDir;
        search.fallbackDirectory = options.modelsDir + "/";
    }
    frame->loadModels(search);
    frame->inputMode.store(options.inputMode);
    frame->onReset(in.sampleRate, params);

    Audio out = in;
    const size_t frames = in.frames();
    const int block = options.blockSize;
    const double* ip[2] = {};
    double* op[2] = {};
    const auto start = std::chrono::steady_clock::now();
    int lastPercent = -1;
    for (size_t pos = 0; pos < frames; pos += static_cast<size_t>(block)) {
        const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), frames - pos));
        for (int c = 0; c < in.channels; ++c) {
            ip[c] = in.samples[static_cast<size_t>(c)].data() + pos;
            op[c] = out.samples[static_cast<size_t>(c)].data() + pos;
        }
        frame->setTransport(true, static_cast<double>(pos));
        frame->process(params, ip, in.channels, op, in.channels, n);
        activity.sample(frame->lastSnapshot());
        if (log != nullptr) {
            log->recordBlock(frame->lastSnapshot());
            log->drain(options.logDir);
        }
        const int percent
            = static_cast<int>(100.0 * static_cast<double>(pos + static_cast<size_t>(n)) / frames);
        if (progress && percent != lastPercent) {
            std::fprintf(stderr, "\rprocessing %3d %%", percent);
            lastPercent = percent;
        }
    }
    cpuSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (progress)
        std::fprintf(stderr, "\r                \r");
    modelStatus = frame->models().status;
    return out;
}

// The summary of one run: what each stage did and the real-time factor.
void printSummary(const ProcessOptions& options, const Audio& in, const Audio& out,
    const std::vector<std::pair<int, double>>& settings, const Activity& activity, double cpuSeconds,
    const std::string& modelStatus)
{
    const size_t frames = in.frames();
    const int block = options.blockSize;
    const double seconds = static_cast<double>(frames) / in.sampleRate;
    char a[64];
    std::printf("Velarune %s -> %s\n", options.inputPath.c_str(), options.outputPath.c_str());
    std::printf("  length           %zu frames, %.3f s at %.0f Hz, %d channel(s), blocks of %d\n", frames,
        seconds, in.sampleRate, in.channels, block);
    std::printf("  peak in / out    %.2f dBFS / %.2f dBFS\n", peakDb(in.samples), peakDb(out.samples));
    if (!options.presetPath.empty())
        std::printf("  preset           %s\n", options.presetPath.c_str());
    for (const auto& [index, value] : settings)
        std::printf("  setting          %s = %s\n", paramSpec(index).name,
            formatValueWithUnit(paramSpec(index), value).c_str());
    std::printf("  lanes            %s\n",
        activity.laneMode == kLaneStereo         ? "stereo"
            : activity.laneMode == kLaneMonoPath ? "mono path"
            : activity.laneMode == kLaneLeftOnly ? "left channel only"
                                                 : "single channel");
    std::printf("  bleed reduction  %s, deepest %.1f dB (%s)\n",
        percentOf(activity.bleed, activity.blocks, a, sizeof a), -24.0 * activity.maxBleedMeter,
        modelStatus.c_str());
    std::printf("  phrase gate      %s\n", percentOf(activity.gate, activity.blocks, a, sizeof a));
    std::printf("  feedback         %s, up to %d notch(es)",
        percentOf(activity.feedback, activity.blocks, a, sizeof a), activity.maxNotches);
    if (activity.maxNotches > 0)
        std::printf(", deepest at %.0f Hz", activity.deepestNotchHz);
    std::printf("\n");
    std::printf("  air              %s\n", percentOf(activity.air, activity.blocks, a, sizeof a));
    std::printf("  vocal ride       %s\n", percentOf(activity.ride, activity.blocks, a, sizeof a));
    std::printf("  saturation       %s\n", percentOf(activity.saturation, activity.blocks, a, sizeof a));
    std::printf("  top saturation   %s\n", percentOf(activity.topSaturation, activity.blocks, a, sizeof a));
    std::printf("  output limiter   deepest gain reduction %.2f dB\n",
        static_cast<double>(activity.minLimiterGainDb));
    std::printf(
        "  soft bypass      %s in full bypass\n", percentOf(activity.bypass, activity.blocks, a, sizeof a));
    std::printf("  real-time factor %.1fx (%.3f s of CPU for %.3f s of audio)\n",
        cpuSeconds > 0.0 ? seconds / cpuSeconds : INFINITY, cpuSeconds, seconds);
}

// Writes the run's settings (preset, then --set) as a preset file; prints where unless quiet.
bool savePreset(const ProcessOptions& options)
{
    std::string error;
    if (!savePresetFile(options.savePresetPath, options.settings, options.inputMode, error)) {
        fail(error);
        return false;
    }
    if (!options.quiet)
        std::printf("saved preset \"%s\" (%zu setting(s)) to %s\n",
            std::filesystem::path(options.savePresetPath).stem().string().c_str(), options.settings.size(),
            options.savePresetPath.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    ProcessOptions options;
    std::string error;
    if (!parseProcessOptions(argc, argv, options, error))
        return fail(error);
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (options.listParams) {
        listParameters();
        return 0;
    }

    // A preset's values come first; a --set for the same parameter overrides it.
    if (!options.presetPath.empty()) {
        std::vector<std::pair<int, double>> fromPreset;
        if (!presetSettings(options.presetPath, fromPreset, error))
            return fail(error);
        for (auto it = fromPreset.rbegin(); it != fromPreset.rend(); ++it) {
            const int index = it->first;
            if (std::none_of(options.settings.begin(), options.settings.end(),
                    [index](const auto& s) { return s.first == index; }))
                options.settings.insert(options.settings.begin(), *it);
        }
    }
    const bool saveOnly = !options.savePresetPath.empty() && !options.demo && options.inputPath.empty();
    if (!options.savePresetPath.empty()) {
        for (const std::string& audio : {options.inputPath, options.outputPath})
            if (!audio.empty()
                && (audio == options.savePresetPath || sameFile(audio, options.savePresetPath)))
                return fail(
                    "the preset file \"" + options.savePresetPath + "\" is an audio file of this run");
    }
    if (saveOnly)
        return savePreset(options) ? 0 : 2;

    Audio in;
    std::vector<std::pair<int, double>> settings;
    const std::string demoDir = options.demoDir.empty() ? "." : options.demoDir;
    if (options.demo) {
        options.inputPath = demoDir + "/demo-in.wav";
        options.outputPath = demoDir + "/demo-out.wav";
        in = monoFloatWav(makeDemoSignal(), kDemoSampleRate);
        if (!writeAudio(options.inputPath, in, error))
            return fail(error);
        settings = demoSettings();
    } else {
        if (access(options.inputPath.c_str(), R_OK) != 0)
            return fail("cannot read \"" + options.inputPath + "\": no such file or no permission");
        if (options.inputPath == options.outputPath || sameFile(options.inputPath, options.outputPath))
            return fail("the output \"" + options.outputPath + "\" is the input file; choose another name");
        if (!readAudio(options.inputPath, in, error))
            return fail(error);
    }
    settings.insert(settings.end(), options.settings.begin(), options.settings.end());

    ParameterValues params = defaultParameterValues();
    for (const auto& [index, value] : settings)
        params[static_cast<size_t>(index)] = value;

    std::unique_ptr<DiagnosticLog> log;
    if (!options.logDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.logDir, ec);
        if (ec || !std::filesystem::is_directory(options.logDir))
            return fail("cannot create the log folder \"" + options.logDir + "\"");
        log = std::make_unique<DiagnosticLog>();
        log->setEnabled(true);
    }

    const bool progress = !options.quiet && isatty(fileno(stderr));
    Activity activity;
    double cpuSeconds = 0.0;
    std::string modelStatus;
    const Audio out = runFrame(in, params, options, progress, activity, cpuSeconds, modelStatus, log.get());
    if (!writeAudio(options.outputPath, out, error))
        return fail(error);
    if (!options.quiet)
        printSummary(options, in, out, settings, activity, cpuSeconds, modelStatus);
    if (log != nullptr) {
        const DiagnosticFileWriter& w = log->writer();
        if (!options.quiet) {
            std::printf("  diagnostic log   %llu rows in", static_cast<unsigned long long>(w.rowsWritten()));
            for (const auto& file : w.createdFiles())
                std::printf(" %s", file.string().c_str());
            std::printf("\n");
        }
        if (w.rowsLost() > 0 || log->dropped() > 0)
            return fail(std::to_string(w.rowsLost() + log->dropped())
                + " diagnostic log rows could not be written to \"" + options.logDir + "\"");
    }
    if (!options.savePresetPath.empty() && !savePreset(options))
        return 2;
    if (!options.demo)
        return 0;

    // The second demo scene: a real mix with its vocal known, measured by the lane split.
    const BleedChain chain = [&options](const Audio& x, const ParameterValues& p, std::string& status) {
        Activity unused;
        double cpu = 0.0;
        return runFrame(x, p, options, false, unused, cpu, status);
    };
    const std::string scene
        = options.scenePath.empty() ? std::string(VELARUNE_DEMO_SCENE) : options.scenePath;
    if (!runBleedScene(scene, demoDir, options.settings, chain, options.quiet, error))
        return fail(error);
    return 0;
}
