// velarune-process: runs Velarune's processing frame on a WAV or FLAC file, offline, at the file's
// own sample rate and channel count, in host-sized blocks, and prints what each stage did.
#include "plugin/ProcessingFrame.h"
#include "velarune-process/DemoSignal.h"
#include "velarune-process/ProcessOptions.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace brindlecot;
using namespace brindlecot::tools;

namespace {

struct Audio
{
    int channels = 0;
    double sampleRate = 0.0;
    std::vector<std::vector<double>> samples; // planar
    SF_INFO info {};
    size_t frames() const { return samples.empty() ? 0 : samples[0].size(); }
};

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

bool readAudio(const std::string& path, Audio& audio, std::string& error)
{
    SF_INFO info {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = "cannot read \"" + path + "\": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > 2) {
        sf_close(file);
        error = "\"" + path + "\" has " + std::to_string(info.channels)
            + " channels; only mono and stereo are supported";
        return false;
    }
    if (info.samplerate < 1) {
        sf_close(file);
        error = "\"" + path + "\" has no valid sample rate";
        return false;
    }
    std::vector<double> interleaved(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_double(file, interleaved.data(), info.frames);
    sf_close(file);
    audio.channels = info.channels;
    audio.sampleRate = info.samplerate;
    audio.info = info;
    audio.samples.assign(static_cast<size_t>(info.channels), std::vector<double>(static_cast<size_t>(got)));
    for (sf_count_t n = 0; n < got; ++n)
        for (int c = 0; c < info.channels; ++c)
            audio.samples[static_cast<size_t>(c)][static_cast<size_t>(n)]
                = interleaved[static_cast<size_t>(n) * static_cast<size_t>(info.channels)
                    + static_cast<size_t>(c)];
    return true;
}

// Writes next to the destination first and renames, so a failed run never leaves half a file.
bool writeAudio(const std::string& path, const Audio& audio, std::string& error)
{
    SF_INFO info = audio.info;
    info.frames = 0;
    const std::string partial = path + ".partial";
    SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = "cannot write \"" + path + "\": " + sf_strerror(nullptr);
        return false;
    }
    // Float output keeps the limiter's headroom exact; integer formats are clipped by libsndfile.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const size_t frames = audio.frames();
    std::vector<double> interleaved(frames * static_cast<size_t>(audio.channels));
    for (size_t n = 0; n < frames; ++n)
        for (int c = 0; c < audio.channels; ++c)
            interleaved[n * static_cast<size_t>(audio.channels) + static_cast<size_t>(c)]
                = audio.samples[static_cast<size_t>(c)][n];
    const sf_count_t written = sf_writef_double(file, interleaved.data(), static_cast<sf_count_t>(frames));
    const int closeError = sf_close(file);
    if (written != static_cast<sf_count_t>(frames) || closeError != 0
        || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        error = "writing \"" + path + "\" failed";
        return false;
    }
    return true;
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
    float minLimiterGain = 1.0f;
    float maxBleedMeter = 0.0f;
    int laneMode = 0;

    void sample(ProcessingFrame& f)
    {
        ++blocks;
        bleed += !f.bleedIdle();
        feedback += !f.feedbackIdle();
        air += !f.airIdle();
        saturation += !f.saturationIdle();
        topSaturation += !f.topSaturationIdle();
        ride += !f.rideIdle();
        gate += !f.gateIdle();
        bypass += f.fullBypass();
        const int notches = f.published.activeNotchCount.load();
        if (notches > maxNotches) {
            maxNotches = notches;
            deepestNotchHz = f.published.deepestNotchFrequency.load();
        }
        minLimiterGain = std::min(minLimiterGain, f.limiter().gain);
        maxBleedMeter = std::max(maxBleedMeter, f.published.bleedMeter.load());
        laneMode = f.published.laneMode.load();
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

    Audio in;
    std::vector<std::pair<int, double>> settings;
    if (options.demo) {
        const std::string dir = options.demoDir.empty() ? "." : options.demoDir;
        options.inputPath = dir + "/demo-in.wav";
        options.outputPath = dir + "/demo-out.wav";
        in.channels = 1;
        in.sampleRate = kDemoSampleRate;
        in.samples = {makeDemoSignal()};
        in.info.samplerate = static_cast<int>(kDemoSampleRate);
        in.info.channels = 1;
        in.info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
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
    const bool progress = !options.quiet && isatty(fileno(stderr));
    Activity activity;
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
        frame->process(params, ip, in.channels, op, in.channels, n);
        activity.sample(*frame);
        const int percent
            = static_cast<int>(100.0 * static_cast<double>(pos + static_cast<size_t>(n)) / frames);
        if (progress && percent != lastPercent) {
            std::fprintf(stderr, "\rprocessing %3d %%", percent);
            lastPercent = percent;
        }
    }
    const double cpuSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (progress)
        std::fprintf(stderr, "\r                \r");

    if (!writeAudio(options.outputPath, out, error))
        return fail(error);
    if (options.quiet)
        return 0;

    const double seconds = static_cast<double>(frames) / in.sampleRate;
    char a[64];
    std::printf("Velarune %s -> %s\n", options.inputPath.c_str(), options.outputPath.c_str());
    std::printf("  length           %zu frames, %.3f s at %.0f Hz, %d channel(s), blocks of %d\n", frames,
        seconds, in.sampleRate, in.channels, block);
    std::printf("  peak in / out    %.2f dBFS / %.2f dBFS\n", peakDb(in.samples), peakDb(out.samples));
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
        frame->models.status.c_str());
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
        20.0 * std::log10(std::max(1e-6f, activity.minLimiterGain)));
    std::printf(
        "  soft bypass      %s in full bypass\n", percentOf(activity.bypass, activity.blocks, a, sizeof a));
    std::printf("  real-time factor %.1fx (%.3f s of CPU for %.3f s of audio)\n",
        cpuSeconds > 0.0 ? seconds / cpuSeconds : INFINITY, cpuSeconds, seconds);
    return 0;
}
