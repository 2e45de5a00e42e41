// velarune-feedback-sim: closed-loop acoustic feedback simulation of the processing frame.
// Reports the maximum stable loop gain with the feedback stage off and on, the added stable gain,
// the time from howl onset to the first notch, false notches on a run far below the stability
// limit, and the spectral distortion of output against source.
#include "diag/DiagnosticLog.h"
#include "feedback-sim/FeedbackLoop.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace brindlecot::sim;

namespace {

struct Options
{
    std::string source = "voice"; // "voice", "noise" or a WAV path
    std::string room; // WAV path; empty: the built-in synthetic room
    uint32_t roomSeed = 1;
    uint32_t sourceSeed = 7;
    double seconds = 10.0;
    double sampleRate = 48000.0;
    int blockSize = 64;
    double stepDb = 0.5;
    std::string csv;
    std::string logDir; // diagnostic CSV log of every closed-loop run
};

void usage()
{
    std::fprintf(stderr,
        "usage: velarune-feedback-sim [--source voice|noise|FILE.wav] [--room FILE.wav] [--room-seed N]\n"
        "                             [--source-seed N] [--seconds S] [--rate HZ] [--block N] [--step DB]\n"
        "                             [--csv FILE] [--log DIR]\n");
}

bool parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "missing value for %s\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        const char* v = nullptr;
        if (a == "--help" || a == "-h") {
            usage();
            std::exit(0);
        } else if (a == "--source" && (v = value("--source")))
            o.source = v;
        else if (a == "--room" && (v = value("--room")))
            o.room = v;
        else if (a == "--room-seed" && (v = value("--room-seed")))
            o.roomSeed = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
        else if (a == "--source-seed" && (v = value("--source-seed")))
            o.sourceSeed = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
        else if (a == "--seconds" && (v = value("--seconds")))
            o.seconds = std::atof(v);
        else if (a == "--rate" && (v = value("--rate")))
            o.sampleRate = std::atof(v);
        else if (a == "--block" && (v = value("--block")))
            o.blockSize = std::atoi(v);
        else if (a == "--step" && (v = value("--step")))
            o.stepDb = std::atof(v);
        else if (a == "--csv" && (v = value("--csv")))
            o.csv = v;
        else if (a == "--log" && (v = value("--log")) && *v != '\0')
            o.logDir = v;
        else {
            std::fprintf(stderr, "unknown or incomplete argument: %s\n", a.c_str());
            usage();
            return false;
        }
    }
    if (!(o.seconds >= 6.0) || !(o.sampleRate >= 8000.0) || o.blockSize < 1 || !(o.stepDb > 0.0)) {
        std::fprintf(stderr, "need --seconds >= 6, --rate >= 8000, --block >= 1, --step > 0\n");
        return false;
    }
    return true;
}

// Reads a WAV (or any libsndfile format) as mono: channels are averaged.
bool readMono(const std::string& path, std::vector<double>& out, double& sampleRate)
{
    SF_INFO info {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) {
        std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    std::vector<double> interleaved(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_double(f, interleaved.data(), info.frames);
    sf_close(f);
    out.assign(static_cast<size_t>(got), 0.0);
    for (sf_count_t n = 0; n < got; ++n) {
        double s = 0.0;
        for (int c = 0; c < info.channels; ++c)
            s += interleaved[static_cast<size_t>(n) * static_cast<size_t>(info.channels)
                + static_cast<size_t>(c)];
        out[static_cast<size_t>(n)] = s / info.channels;
    }
    sampleRate = info.samplerate;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse(argc, argv, o))
        return 2;

    std::vector<double> source;
    double rate = o.sampleRate;
    if (o.source == "voice" || o.source == "noise") {
        source = testSignal(o.source, rate, o.seconds, o.sourceSeed);
    } else {
        if (!readMono(o.source, source, rate))
            return 1;
        if (source.size() < static_cast<size_t>(6.0 * rate)) {
            std::fprintf(stderr, "source must be at least 6 s long\n");
            return 1;
        }
    }

    std::vector<float> room;
    if (o.room.empty()) {
        RoomSettings rs;
        rs.seed = o.roomSeed;
        room = syntheticRoom(rs, rate);
    } else {
        std::vector<double> ir;
        double irRate = 0.0;
        if (!readMono(o.room, ir, irRate))
            return 1;
        if (irRate != rate)
            std::fprintf(stderr, "warning: room at %.0f Hz used at %.0f Hz unchanged\n", irRate, rate);
        room.assign(ir.begin(), ir.end());
    }

    RunSettings base;
    base.sampleRate = rate;
    base.blockSize = o.blockSize;
    // Spectra are compared only while the source plays (it is muted for the stability judgement).
    const std::vector<double> audible(source.begin(), source.end() - base.mutedFrames());
    const double estimate = theoreticalStableGainDb(room, rate, 20.0, rate * 0.5);
    const double start = std::floor(estimate / o.stepDb) * o.stepDb - 6.0;

    FrameProcessor off(rate, 0.0);
    FrameProcessor on(rate, 100.0);
    // One log per processor, like one per plug-in instance: the stage-off runs log as instance
    // i0, the stage-on runs as i1. Each run restarts the playhead at 0.
    std::unique_ptr<brindlecot::DiagnosticLog> offLog, onLog;
    if (!o.logDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o.logDir, ec);
        if (ec || !std::filesystem::is_directory(o.logDir)) {
            std::fprintf(stderr, "cannot create the log folder %s\n", o.logDir.c_str());
            return 1;
        }
        offLog = std::make_unique<brindlecot::DiagnosticLog>();
        onLog = std::make_unique<brindlecot::DiagnosticLog>();
        offLog->setEnabled(true);
        onLog->setEnabled(true);
        off.attachLog(offLog.get(), o.logDir);
        on.attachLog(onLog.get(), o.logDir);
    }
    const double msgOff = findMaxStableGainDb(source, room, off, base, start, o.stepDb, start + 30.0);
    const double msgOn = findMaxStableGainDb(source, room, on, base, msgOff, o.stepDb, msgOff + 30.0);

    // Howl onset: the loop gain jumps from far below to 3 dB above the limit without suppression.
    RunSettings howl = base;
    howl.onsetSeconds = 2.0;
    howl.quietGainDb = msgOff - 20.0;
    howl.loopGainDb = msgOff + 3.0;
    const RunResult howlRun = runLoop(source, room, on, howl);
    const double timeToNotchMs
        = howlRun.firstNotchFrame >= 0 ? (howlRun.firstNotchFrame / rate - howl.onsetSeconds) * 1000.0 : NAN;

    // False notches: a whole run far below the stability limit.
    RunSettings quiet = base;
    quiet.loopGainDb = msgOff - 20.0;
    const RunResult quietRun = runLoop(source, room, on, quiet);
    const double distortionQuiet = spectralDistortionDb(audible, quietRun.output, rate, 100.0, 10000.0, 0);

    // Spectral distortion at the same loop gain (the limit without suppression) with the stage off
    // and on, so the room's colouration is the same; and at the higher limit with the stage on.
    RunSettings atOff = base;
    atOff.loopGainDb = msgOff;
    const int skip = static_cast<int>(rate);
    const double distortionOffAtOff
        = spectralDistortionDb(audible, runLoop(source, room, off, atOff).output, rate, 100.0, 10000.0, skip);
    const double distortionOnAtOff
        = spectralDistortionDb(audible, runLoop(source, room, on, atOff).output, rate, 100.0, 10000.0, skip);
    RunSettings atOn = base;
    atOn.loopGainDb = msgOn;
    const double distortionOnAtOn
        = spectralDistortionDb(audible, runLoop(source, room, on, atOn).output, rate, 100.0, 10000.0, skip);

    std::printf("Velarune feedback simulation: source %s, room %s, %.0f Hz, block %d, %.1f s runs\n",
        o.source.c_str(),
        o.room.empty() ? ("synthetic seed " + std::to_string(o.roomSeed)).c_str() : o.room.c_str(), rate,
        o.blockSize, source.size() / rate);
    std::printf("  %-46s %10s\n", "quantity", "value");
    std::printf("  %-46s %7.1f dB\n", "room peak (theoretical limit, identity loop)", estimate);
    std::printf("  %-46s %7.1f dB\n", "max stable loop gain, feedback stage off", msgOff);
    std::printf("  %-46s %7.1f dB\n", "max stable loop gain, feedback stage on", msgOn);
    std::printf("  %-46s %7.1f dB\n", "added stable gain", msgOn - msgOff);
    std::printf("  %-46s %7.0f ms\n", "howl onset (+3 dB) to first notch", timeToNotchMs);
    std::printf("  %-46s %7s\n", "howl run stable with the stage on", howlRun.stable ? "yes" : "no");
    std::printf("  %-46s %7d\n", "false notches (loop gain limit - 20 dB)", quietRun.notchEngagements);
    std::printf("  %-46s %7.2f dB\n", "spectral distortion, limit - 20 dB, stage on", distortionQuiet);
    std::printf("  %-46s %7.2f dB\n", "spectral distortion at limit off, stage off", distortionOffAtOff);
    std::printf("  %-46s %7.2f dB\n", "spectral distortion at limit off, stage on", distortionOnAtOff);
    std::printf("  %-46s %7.2f dB\n", "spectral distortion at limit on, stage on", distortionOnAtOn);

    if (!o.csv.empty()) {
        FILE* f = std::fopen(o.csv.c_str(), "w");
        if (f == nullptr) {
            std::fprintf(stderr, "cannot write %s\n", o.csv.c_str());
            return 1;
        }
        std::fprintf(f, "quantity,value,unit\n");
        std::fprintf(f, "room_peak_limit,%.2f,dB\n", estimate);
        std::fprintf(f, "max_stable_gain_off,%.2f,dB\n", msgOff);
        std::fprintf(f, "max_stable_gain_on,%.2f,dB\n", msgOn);
        std::fprintf(f, "added_stable_gain,%.2f,dB\n", msgOn - msgOff);
        std::fprintf(f, "time_to_first_notch,%.1f,ms\n", timeToNotchMs);
        std::fprintf(f, "howl_run_stable,%d,bool\n", howlRun.stable ? 1 : 0);
        std::fprintf(f, "false_notches,%d,count\n", quietRun.notchEngagements);
        std::fprintf(f, "spectral_distortion_quiet_on,%.3f,dB\n", distortionQuiet);
        std::fprintf(f, "spectral_distortion_limit_off_stage_off,%.3f,dB\n", distortionOffAtOff);
        std::fprintf(f, "spectral_distortion_limit_off_stage_on,%.3f,dB\n", distortionOnAtOff);
        std::fprintf(f, "spectral_distortion_limit_on_stage_on,%.3f,dB\n", distortionOnAtOn);
        std::fclose(f);
    }
    for (const auto* log : {offLog.get(), onLog.get()}) {
        if (log == nullptr)
            continue;
        const auto& w = log->writer();
        std::printf("  diagnostic log i%u: %llu rows", log->instanceNumber(),
            static_cast<unsigned long long>(w.rowsWritten()));
        for (const auto& file : w.createdFiles())
            std::printf(" %s", file.string().c_str());
        std::printf("\n");
        if (w.rowsLost() > 0 || log->dropped() > 0) {
            std::fprintf(stderr, "%llu diagnostic log rows could not be written to %s\n",
                static_cast<unsigned long long>(w.rowsLost() + log->dropped()), o.logDir.c_str());
            return 1;
        }
    }
    return 0;
}
