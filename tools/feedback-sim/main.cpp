// velarune-feedback-sim: closed-loop acoustic feedback bench of the processing frame. For every
// room (the generated default set, one of it, or a WAV impulse response) it reports the maximum
// stable loop gain with the feedback stage off and on, the added stable gain beside the ideal
// four-notch bound worked out from the room's open-loop response, the time from howl onset to the
// first notch, false notches on a run far below the stability limit, and the spectral distortion
// of output against source.
#include "diag/DiagnosticLog.h"
#include "feedback-sim/FeedbackLoop.h"
#include "feedback-sim/LoopAnalysis.h"
#include "feedback-sim/RoomModel.h"

#include <sndfile.h>

#include <algorithm>
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
    std::string room; // WAV path; empty: generated rooms
    std::string roomName; // one room of the default set; empty: all of them
    uint32_t roomSeed = 1; // added (minus 1) to every generated room's own seed
    bool listRooms = false;
    uint32_t sourceSeed = 7;
    double seconds = 10.0;
    double sampleRate = 48000.0;
    int blockSize = 64;
    double stepDb = 0.5;
    double floorDbfs = -60.0; // ambient noise at the microphone under every source
    bool falseNotchesOnly = false; // only the run far below the limit (material without feedback)
    double marginDb = 20.0; // how far below the limit the false-notch run plays
    std::string csv;
    std::string logDir; // diagnostic CSV log of every closed-loop run
};

void usage()
{
    std::fprintf(stderr,
        "usage: velarune-feedback-sim [--source voice|noise|FILE.wav] [--room FILE.wav | --room-name NAME]\n"
        "                             [--room-seed N] [--source-seed N] [--seconds S] [--rate HZ] [--block "
        "N]\n"
        "                             [--step DB] [--floor DBFS] [--csv FILE] [--log DIR] [--list-rooms]\n"
        "                             [--false-notches-only] [--margin DB]\n"
        "Without --room or --room-name every room of the default set is measured.\n");
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
        else if (a == "--room-name" && (v = value("--room-name")))
            o.roomName = v;
        else if (a == "--list-rooms")
            o.listRooms = true;
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
        else if (a == "--floor" && (v = value("--floor")))
            o.floorDbfs = std::atof(v);
        else if (a == "--false-notches-only")
            o.falseNotchesOnly = true;
        else if (a == "--margin" && (v = value("--margin")))
            o.marginDb = std::atof(v);
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
    if (!(o.seconds >= 6.0) || !(o.sampleRate >= 8000.0) || o.blockSize < 1 || !(o.stepDb > 0.0)
        || !(o.marginDb >= 0.0 && o.marginDb <= 60.0)) {
        std::fprintf(
            stderr, "need --seconds >= 6, --rate >= 8000, --block >= 1, --step > 0, 0 <= --margin <= 60\n");
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

namespace {

struct RoomCase
{
    std::string name;
    double rt60Seconds = 0.0; // nominal (generated rooms) or measured (WAV)
    std::vector<float> ir;
};

struct RoomReport
{
    std::string name;
    double rt60Seconds = 0.0;
    double nyquistLimitDb = 0.0; // this loop, feedback stage off
    double magnitudeLimitDb = 0.0; // any phase
    NotchBound bound; // four notches, this loop
    NotchBound anyPhaseBound; // four notches, any phase
    NotchBound stageShapeBound; // four notches shaped like the stage's at full depth, this loop
    double msgOff = 0.0, msgOn = 0.0;
    double timeToNotchMs = NAN;
    bool howlStable = false;
    int falseNotches = 0;
    double heldShare = 0.0; // howl run: share of analyses in which two rings competed for the track
    double timeToTrackMs = NAN; // howl onset to the detector's first track (loud, 45 dB prominent, isolated)
    double distortionQuiet = 0.0, distortionOffAtOff = 0.0, distortionOnAtOff = 0.0, distortionOnAtOn = 0.0;
    double added() const { return msgOn - msgOff; }
};

// The added gain and both bounds side by side, as every figure of added stable gain is printed.
std::string addedWithBound(const RoomReport& r)
{
    char text[200];
    std::snprintf(text, sizeof text,
        "%5.1f dB (four-notch bound %.1f dB this loop, %.1f dB any phase; %.1f dB with the stage's notch "
        "shape)",
        r.added(), r.bound.addedDb(), r.anyPhaseBound.addedDb(), r.stageShapeBound.addedDb());
    return text;
}

double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : 0.5 * (v[m - 1] + v[m]);
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

    // An ambient floor (pink noise, RMS floorDbfs) under the source: every room mode is then excited,
    // as on a real stage, so a mode that a sparse source leaves alone cannot hide an instability.
    if (o.floorDbfs > -200.0) {
        const std::vector<double> floorNoise
            = testSignal("noise", rate, source.size() / rate, o.sourceSeed + 1);
        double power = 0.0;
        for (double v : floorNoise)
            power += v * v;
        power /= static_cast<double>(std::max<size_t>(1, floorNoise.size()));
        const double scale = power > 0.0 ? std::pow(10.0, o.floorDbfs / 20.0) / std::sqrt(power) : 0.0;
        for (size_t n = 0; n < source.size() && n < floorNoise.size(); ++n)
            source[n] += scale * floorNoise[n];
    }

    std::vector<RoomCase> rooms;
    if (!o.room.empty()) {
        std::vector<double> ir;
        double irRate = 0.0;
        if (!readMono(o.room, ir, irRate))
            return 1;
        if (irRate != rate)
            std::fprintf(stderr, "warning: room at %.0f Hz used at %.0f Hz unchanged\n", irRate, rate);
        RoomCase c;
        c.name = o.room;
        c.ir.assign(ir.begin(), ir.end());
        c.rt60Seconds = measuredRt60Seconds(c.ir, rate);
        rooms.push_back(std::move(c));
    } else {
        for (ShoeboxRoom r : defaultRooms()) {
            if (!o.roomName.empty() && r.name != o.roomName)
                continue;
            r.seed += o.roomSeed - 1;
            rooms.push_back({r.name, r.rt60Seconds, shoeboxRoomImpulse(r, rate)});
        }
        if (rooms.empty()) {
            std::fprintf(stderr, "no room named %s; --list-rooms shows the set\n", o.roomName.c_str());
            return 2;
        }
    }
    if (o.listRooms) {
        std::printf("  %-18s %7s %7s %8s\n", "room", "RT60 s", "meas. s", "IR ms");
        for (const RoomCase& c : rooms)
            std::printf("  %-18s %7.2f %7.2f %8.0f\n", c.name.c_str(), c.rt60Seconds,
                measuredRt60Seconds(c.ir, rate), 1000.0 * c.ir.size() / rate);
        return 0;
    }

    RunSettings base;
    base.sampleRate = rate;
    base.blockSize = o.blockSize;
    // Spectra are compared only while the source plays (it is muted for the ring-down check).
    const std::vector<double> audible(source.begin(), source.end() - base.mutedFrames());

    FrameProcessor off(rate, 0.0);
    FrameProcessor on(rate, 100.0);
    // What the frame itself adds to the open loop (stage off, far below any limiter): measured once.
    const std::vector<double> chain = measureImpulse(off, 4096, o.blockSize);
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

    std::printf("Velarune feedback bench: source %s over a %.0f dBFS floor, %zu room(s), %.0f Hz, block %d, "
                "%.1f s runs, "
                "step %.2f dB\n",
        o.source.c_str(), o.floorDbfs, rooms.size(), rate, o.blockSize, source.size() / rate, o.stepDb);
    std::vector<RoomReport> reports;
    for (const RoomCase& room : rooms) {
        RoomReport r;
        r.name = room.name;
        r.rt60Seconds = room.rt60Seconds;
        // Limits and bounds from the open loop: room, frame at unity and the block's delay.
        const OpenLoopResponse open = openLoopResponse(room.ir, chain, o.blockSize, rate);
        const double hiHz = 0.5 * rate;
        r.nyquistLimitDb = nyquistLimitDb(open, 20.0, hiHz);
        r.magnitudeLimitDb = magnitudeLimitDb(open, 20.0, hiHz);
        r.bound = notchBound(open, 20.0, hiHz, 4, 0.1, true);
        r.anyPhaseBound = notchBound(open, 20.0, hiHz, 4, 0.1, false);
        // The stage's own notch at full depth: a peaking cut of 30 dB, Q = f / 30 Hz up to 20 (11 dB
        // and 70 Hz below 350 Hz). Far wider at -3 dB than the ideal notch, so it can buy more.
        r.stageShapeBound = notchBound(
            open, 20.0, hiHz, 4,
            [rate](double hz) {
                const bool low = hz < 350.0;
                return designPeaking(hz, low ? -11.0 : -30.0, std::min(20.0, hz / (low ? 70.0 : 30.0)), rate);
            },
            true);

        if (o.falseNotchesOnly) {
            // Material without feedback: one run `margin` below the loop's analytic limit (the
            // searched limit agrees with it within a step), every notch engagement counted.
            RunSettings quiet = base;
            quiet.loopGainDb = r.nyquistLimitDb - o.marginDb;
            r.falseNotches = runLoop(source, room.ir, on, quiet).notchEngagements;
            std::printf("  %-18s false notches (loop gain limit - %.0f dB): %d\n", r.name.c_str(), o.marginDb,
                r.falseNotches);
            std::fflush(stdout);
            reports.push_back(std::move(r));
            continue;
        }

        const double start = std::floor(r.nyquistLimitDb / o.stepDb) * o.stepDb - 3.0;
        r.msgOff = findMaxStableGainDb(source, room.ir, off, base, start, o.stepDb, start + 30.0);
        r.msgOn = findMaxStableGainDb(source, room.ir, on, base, r.msgOff, o.stepDb, r.msgOff + 30.0);

        // Howl onset: the loop gain jumps from far below to 3 dB above the limit without suppression.
        RunSettings howl = base;
        howl.onsetSeconds = 2.0;
        howl.quietGainDb = r.msgOff - 20.0;
        howl.loopGainDb = r.msgOff + 3.0;
        const RunResult howlRun = runLoop(source, room.ir, on, howl);
        r.timeToNotchMs = howlRun.firstNotchFrame >= 0
            ? (howlRun.firstNotchFrame / rate - howl.onsetSeconds) * 1000.0
            : NAN;
        r.howlStable = howlRun.stable;
        r.timeToTrackMs = howlRun.firstTrackFrame >= 0
            ? (howlRun.firstTrackFrame / rate - howl.onsetSeconds) * 1000.0
            : NAN;
        r.heldShare = howlRun.analyses > 0
            ? static_cast<double>(howlRun.heldTrackAnalyses) / static_cast<double>(howlRun.analyses)
            : 0.0;

        // False notches: a whole run far below the stability limit.
        RunSettings quiet = base;
        quiet.loopGainDb = r.msgOff - o.marginDb;
        const RunResult quietRun = runLoop(source, room.ir, on, quiet);
        r.falseNotches = quietRun.notchEngagements;
        r.distortionQuiet = spectralDistortionDb(audible, quietRun.output, rate, 100.0, 10000.0, 0);

        // Spectral distortion at the same loop gain (the limit without suppression) with the stage
        // off and on, so the room's colouration is the same; and at the higher limit, stage on.
        RunSettings atOff = base;
        atOff.loopGainDb = r.msgOff;
        const int skip = static_cast<int>(rate);
        r.distortionOffAtOff = spectralDistortionDb(
            audible, runLoop(source, room.ir, off, atOff).output, rate, 100.0, 10000.0, skip);
        r.distortionOnAtOff = spectralDistortionDb(
            audible, runLoop(source, room.ir, on, atOff).output, rate, 100.0, 10000.0, skip);
        RunSettings atOn = base;
        atOn.loopGainDb = r.msgOn;
        r.distortionOnAtOn = spectralDistortionDb(
            audible, runLoop(source, room.ir, on, atOn).output, rate, 100.0, 10000.0, skip);

        std::printf("\nroom %s (RT60 %.2f s)\n", r.name.c_str(), r.rt60Seconds);
        std::printf("  %-46s %7.1f dB\n", "stable-gain limit, this loop (Nyquist)", r.nyquistLimitDb);
        std::printf("  %-46s %7.1f dB\n", "stable-gain limit, any phase (peak of |H|)", r.magnitudeLimitDb);
        std::printf("  %-46s %7.1f dB\n", "max stable loop gain, feedback stage off", r.msgOff);
        std::printf("  %-46s %7.1f dB\n", "max stable loop gain, feedback stage on", r.msgOn);
        std::printf("  %-46s %s\n", "added stable gain", addedWithBound(r).c_str());
        // Cross-check: four fixed notches of the stage's own shape cannot buy more than their bound;
        // more than a step above it, a howl probably went unseen (or the notches moved in time).
        if (r.added() > std::max(r.bound.addedDb(), r.stageShapeBound.addedDb()) + o.stepDb)
            std::printf("  %-46s %s\n", "", "above every four-notch bound by more than a step");
        std::printf("  %-46s %7.0f ms\n", "howl onset (+3 dB) to first notch", r.timeToNotchMs);
        std::printf("  %-46s %7.0f ms\n", "  of which until the ring is tracked (45 dB)", r.timeToTrackMs);
        std::printf("  %-46s %7s\n", "howl run stable with the stage on", r.howlStable ? "yes" : "no");
        std::printf("  %-46s %6.1f %%\n", "howl run analyses with two rings competing", 100.0 * r.heldShare);
        const std::string below
            = "limit - " + std::to_string(static_cast<int>(std::lround(o.marginDb))) + " dB";
        std::printf("  %-46s %7d\n", ("false notches (loop gain " + below + ")").c_str(), r.falseNotches);
        std::printf("  %-46s %7.2f dB\n", ("spectral distortion, " + below + ", stage on").c_str(),
            r.distortionQuiet);
        std::printf(
            "  %-46s %7.2f dB\n", "spectral distortion at limit off, stage off", r.distortionOffAtOff);
        std::printf("  %-46s %7.2f dB\n", "spectral distortion at limit off, stage on", r.distortionOnAtOff);
        std::printf("  %-46s %7.2f dB\n", "spectral distortion at limit on, stage on", r.distortionOnAtOn);
        std::fflush(stdout);
        reports.push_back(std::move(r));
    }

    int exitCode = 0;
    if (o.falseNotchesOnly) {
        int total = 0;
        for (const RoomReport& r : reports)
            total += r.falseNotches;
        std::printf("  false notches in %zu room(s): %d\n", reports.size(), total);
        exitCode = total == 0 ? 0 : 3;
    } else if (reports.size() > 1) {
        std::printf("\n  %-18s %6s %7s %7s %6s %6s %7s %7s %8s %5s\n", "room", "RT60 s", "off dB", "on dB",
            "added", "bound", "any ph.", "stage n", "notch ms", "false");
        std::vector<double> ratios, times;
        for (const RoomReport& r : reports) {
            std::printf("  %-18s %6.2f %7.1f %7.1f %6.1f %6.1f %7.1f %7.1f %8.0f %5d\n", r.name.c_str(),
                r.rt60Seconds, r.msgOff, r.msgOn, r.added(), r.bound.addedDb(), r.anyPhaseBound.addedDb(),
                r.stageShapeBound.addedDb(), r.timeToNotchMs, r.falseNotches);
            ratios.push_back(r.bound.addedDb() > 0.0 ? r.added() / r.bound.addedDb() : NAN);
            times.push_back(r.timeToNotchMs);
        }
        double worst = NAN;
        int missed = 0;
        for (double t : times) {
            missed += std::isnan(t);
            if (!std::isnan(t) && !(t <= worst))
                worst = t;
        }
        std::printf("  median added / bound (this loop): %.0f %%; howl onset to first notch: median %.0f ms, "
                    "worst %.0f ms, no notch in %d room(s)\n",
            100.0 * median(ratios), median(times), worst, missed);
    }

    if (!o.csv.empty()) {
        FILE* f = std::fopen(o.csv.c_str(), "w");
        if (f == nullptr) {
            std::fprintf(stderr, "cannot write %s\n", o.csv.c_str());
            return 1;
        }
        std::fprintf(f, "room,quantity,value,unit\n");
        for (const RoomReport& r : reports) {
            const char* n = r.name.c_str();
            if (o.falseNotchesOnly) {
                std::fprintf(f, "%s,false_notches,%d,count\n", n, r.falseNotches);
                continue;
            }
            std::fprintf(f, "%s,rt60,%.2f,s\n", n, r.rt60Seconds);
            std::fprintf(f, "%s,stable_gain_limit_nyquist,%.2f,dB\n", n, r.nyquistLimitDb);
            std::fprintf(f, "%s,stable_gain_limit_any_phase,%.2f,dB\n", n, r.magnitudeLimitDb);
            std::fprintf(f, "%s,max_stable_gain_off,%.2f,dB\n", n, r.msgOff);
            std::fprintf(f, "%s,max_stable_gain_on,%.2f,dB\n", n, r.msgOn);
            std::fprintf(f, "%s,added_stable_gain,%.2f,dB\n", n, r.added());
            std::fprintf(f, "%s,four_notch_bound,%.2f,dB\n", n, r.bound.addedDb());
            std::fprintf(f, "%s,four_notch_bound_any_phase,%.2f,dB\n", n, r.anyPhaseBound.addedDb());
            std::fprintf(f, "%s,four_notch_bound_stage_shape,%.2f,dB\n", n, r.stageShapeBound.addedDb());
            std::fprintf(f, "%s,time_to_first_notch,%.1f,ms\n", n, r.timeToNotchMs);
            std::fprintf(f, "%s,time_to_first_track,%.1f,ms\n", n, r.timeToTrackMs);
            std::fprintf(f, "%s,howl_run_stable,%d,bool\n", n, r.howlStable ? 1 : 0);
            std::fprintf(f, "%s,howl_run_two_rings_share,%.4f,ratio\n", n, r.heldShare);
            std::fprintf(f, "%s,false_notches,%d,count\n", n, r.falseNotches);
            std::fprintf(f, "%s,spectral_distortion_quiet_on,%.3f,dB\n", n, r.distortionQuiet);
            std::fprintf(f, "%s,spectral_distortion_limit_off_stage_off,%.3f,dB\n", n, r.distortionOffAtOff);
            std::fprintf(f, "%s,spectral_distortion_limit_off_stage_on,%.3f,dB\n", n, r.distortionOnAtOff);
            std::fprintf(f, "%s,spectral_distortion_limit_on_stage_on,%.3f,dB\n", n, r.distortionOnAtOn);
        }
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
    return exitCode;
}
