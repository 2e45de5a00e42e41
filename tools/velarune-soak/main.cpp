// velarune-soak: a long run of the whole processing frame, every stage on, that checks it stays
// healthy: finite output inside the limiter's ceiling, flat memory, and no slowdown in silence
// after a loud passage (denormals).
//
//   velarune-soak [--minutes M] [--block N] [--seed S] [--scene FILE] [--report FILE.csv]
//
// The audio, made block by block so an hour needs no hour-long buffer: the microphone channel of
// the bleed demo scene (band bleed with a sung line) looped from random offsets at random levels
// (-12 .. +3 dB), stereo with the right channel slightly delayed and softer; every 30-40 s a ring
// (a sine at 200 Hz .. 6 kHz that grows over a second to near full scale, holds two seconds and
// dies away); and once a minute a loud passage (two seconds at +12 dB into the limiter) followed by
// four seconds of digital silence and three of noise at -140 dBFS. "ECO Mode" switches every two
// minutes (every half run for shorter runs), so both models run. 48 kHz, 64-sample blocks.
//
// Checks (the exit status is 1 when one fails, 2 on bad arguments):
//  - every output sample finite and within the ceiling (-0.3 dBFS);
//  - resident memory at the end within 1 MiB of that after the first minute (after the first 10 s
//    for runs under two minutes);
//  - thread CPU time per block in the silence and quiet noise after a loud passage at most twice
//    that during the music.
#include "bench/WholeChainSetup.h"
#include "engine/ProcessingFrame.h"
#include "velarune-process/AudioFile.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#ifndef VELARUNE_DEMO_SCENE
#define VELARUNE_DEMO_SCENE ""
#endif

namespace {

using namespace brindlecot;

constexpr double kRate = 48000.0;
const double kCeiling = std::pow(10.0, -0.3 / 20.0) * (1.0 + 1e-6);

struct Options
{
    double minutes = 60.0;
    int block = 64;
    unsigned seed = 1;
    std::string scene = VELARUNE_DEMO_SCENE;
    std::string report;
};

bool parse(int argc, char** argv, Options& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            error = "usage: velarune-soak [--minutes M] [--block N] [--seed S] [--scene FILE] [--report "
                    "FILE.csv]";
            return false;
        }
        if (i + 1 >= argc) {
            error = "missing value after " + a;
            return false;
        }
        const std::string v = argv[++i];
        char* end = nullptr;
        if (a == "--minutes") {
            o.minutes = std::strtod(v.c_str(), &end);
            // The first loud passage and the quiet after it come in the second half of each minute.
            if (*end != '\0' || !(o.minutes >= 1.0) || o.minutes > 24 * 60) {
                error = "--minutes wants a number of minutes from 1 to 1440: " + v;
                return false;
            }
        } else if (a == "--block") {
            const long n = std::strtol(v.c_str(), &end, 10);
            if (*end != '\0' || n < 1 || n > 8192) {
                error = "--block wants a whole number of frames from 1 to 8192: " + v;
                return false;
            }
            o.block = static_cast<int>(n);
        } else if (a == "--seed") {
            o.seed = static_cast<unsigned>(std::strtoul(v.c_str(), &end, 10));
            if (*end != '\0') {
                error = "--seed wants a whole number: " + v;
                return false;
            }
        } else if (a == "--scene") {
            o.scene = v;
        } else if (a == "--report") {
            o.report = v;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    return true;
}

double threadSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double residentMiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// What a sample of the schedule is; music blocks and the quiet after a loud passage are timed.
enum class Segment
{
    Music,
    Loud,
    Silence,
    QuietNoise
};

Segment segmentAt(double t)
{
    const double inMinute = std::fmod(t, 60.0);
    if (inMinute >= 45.0 && inMinute < 47.0)
        return Segment::Loud;
    if (inMinute >= 47.0 && inMinute < 51.0)
        return Segment::Silence;
    if (inMinute >= 51.0 && inMinute < 54.0)
        return Segment::QuietNoise;
    return Segment::Music;
}

// The input, one sample frame at a time.
class SoakSignal
{
public:
    SoakSignal(std::vector<double> scene, unsigned seed)
        : scene_(std::move(scene))
        , rng_(seed)
    {
        startLoop();
        nextRingAt_ = 20.0 + uniform(0.0, 10.0);
    }

    void next(double t, double& left, double& right)
    {
        const Segment segment = segmentAt(t);
        double x = 0.0;
        if (segment == Segment::QuietNoise) {
            x = 1e-7 * uniform(-1.0, 1.0); // -140 dBFS
        } else if (segment != Segment::Silence) {
            x = scene_[position_] * gain_ * (segment == Segment::Loud ? 4.0 : 1.0);
            if (++position_ >= scene_.size() || --remaining_ == 0)
                startLoop();
        }
        if (segment == Segment::Music)
            x += ring(t);
        delay_[delayIndex_] = x;
        delayIndex_ = (delayIndex_ + 1) % delay_.size();
        left = x;
        right = 0.8 * delay_[delayIndex_]; // the oldest: 23 samples ago
    }

private:
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }

    void startLoop()
    {
        position_ = static_cast<size_t>(uniform(0.0, static_cast<double>(scene_.size()) * 0.5));
        remaining_ = static_cast<size_t>(uniform(1.0, 4.0) * kRate);
        gain_ = std::pow(10.0, uniform(-12.0, 3.0) / 20.0);
    }

    // A ring grows over 1 s to 0.7 of full scale, holds 2 s and decays over 1 s.
    double ring(double t)
    {
        if (t >= nextRingAt_ && !ringing_) {
            ringing_ = true;
            ringStart_ = t;
            ringHz_ = 200.0 * std::pow(30.0, uniform(0.0, 1.0)); // 200 Hz .. 6 kHz
        }
        if (!ringing_)
            return 0.0;
        const double age = t - ringStart_;
        if (age >= 4.0) {
            ringing_ = false;
            nextRingAt_ = t + uniform(30.0, 40.0);
            return 0.0;
        }
        const double envelope = age < 1.0 ? age : age < 3.0 ? 1.0 : 4.0 - age;
        ringPhase_ += 2.0 * M_PI * ringHz_ / kRate;
        if (ringPhase_ > 2.0 * M_PI)
            ringPhase_ -= 2.0 * M_PI;
        return 0.7 * envelope * envelope * std::sin(ringPhase_);
    }

    std::vector<double> scene_;
    std::mt19937 rng_;
    size_t position_ = 0;
    size_t remaining_ = 0;
    double gain_ = 1.0;
    std::vector<double> delay_ = std::vector<double>(24, 0.0);
    size_t delayIndex_ = 0;
    bool ringing_ = false;
    double nextRingAt_ = 0.0;
    double ringStart_ = 0.0;
    double ringHz_ = 1000.0;
    double ringPhase_ = 0.0;
};

struct Timing
{
    double seconds = 0.0;
    long blocks = 0;
    double meanMicroseconds() const { return blocks > 0 ? 1e6 * seconds / static_cast<double>(blocks) : 0.0; }
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string error;
    if (!parse(argc, argv, options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    tools::Audio scene;
    if (!tools::readAudio(options.scene, scene, error)) {
        std::fprintf(stderr, "velarune-soak: cannot read the scene: %s\n", error.c_str());
        return 2;
    }
    if (scene.frames() < static_cast<size_t>(kRate)) {
        std::fprintf(stderr, "velarune-soak: the scene %s is shorter than a second\n", options.scene.c_str());
        return 2;
    }

    auto frame = std::make_unique<ProcessingFrame>(0);
    frame->loadModels();
    const bool bothModels = frame->models().fullModelLoaded && frame->models().ecoModelLoaded;
    bool eco = false;
    ParameterValues params = bench::wholeChainParameters(eco);
    frame->onReset(kRate, params);
    SoakSignal signal(scene.samples[0], options.seed);

    const int block = options.block;
    const long totalFrames = static_cast<long>(options.minutes * 60.0 * kRate);
    const double ecoEvery = std::min(120.0, options.minutes * 60.0 / 2.0);
    const double memoryMark = options.minutes >= 2.0 ? 60.0 : 10.0;
    std::vector<double> in[2]
        = {std::vector<double>(static_cast<size_t>(block)), std::vector<double>(static_cast<size_t>(block))};
    std::vector<double> out[2]
        = {std::vector<double>(static_cast<size_t>(block)), std::vector<double>(static_cast<size_t>(block))};
    std::ofstream report;
    if (!options.report.empty()) {
        report.open(options.report);
        if (!report) {
            std::fprintf(stderr, "velarune-soak: cannot write %s\n", options.report.c_str());
            return 2;
        }
        report << "seconds,rss_mib,music_us_per_block,quiet_us_per_block,eco\n";
    }

    Timing music, quiet, interval[2];
    long nonFinite = 0, overCeiling = 0, ecoSwitches = 0;
    double peak = 0.0, rssAtMark = -1.0, nextEcoAt = ecoEvery, nextReportAt = 10.0;
    const double started = threadSeconds();
    for (long done = 0; done < totalFrames; done += block) {
        const int n = static_cast<int>(std::min<long>(block, totalFrames - done));
        const double t0 = static_cast<double>(done) / kRate;
        if (t0 >= nextEcoAt) {
            eco = !eco;
            params = bench::wholeChainParameters(eco);
            ++ecoSwitches;
            nextEcoAt += ecoEvery;
        }
        for (int i = 0; i < n; ++i)
            signal.next(t0 + i / kRate, in[0][static_cast<size_t>(i)], in[1][static_cast<size_t>(i)]);
        const double* ip[2] = {in[0].data(), in[1].data()};
        double* op[2] = {out[0].data(), out[1].data()};
        const double b0 = threadSeconds();
        frame->process(params, ip, 2, op, 2, n);
        const double dt = threadSeconds() - b0;

        // Blocks wholly inside one segment are timed: music, and the quiet after a loud passage.
        const Segment first = segmentAt(t0), last = segmentAt(t0 + (n - 1) / kRate);
        if (first == last && first == Segment::Music) {
            music.seconds += dt;
            ++music.blocks;
            interval[0].seconds += dt;
            ++interval[0].blocks;
        } else if (first == last && (first == Segment::Silence || first == Segment::QuietNoise)) {
            quiet.seconds += dt;
            ++quiet.blocks;
            interval[1].seconds += dt;
            ++interval[1].blocks;
        }
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i) {
                const double y = out[c][static_cast<size_t>(i)];
                if (!std::isfinite(y))
                    ++nonFinite;
                else if (std::fabs(y) > kCeiling)
                    ++overCeiling;
                else
                    peak = std::max(peak, std::fabs(y));
            }
        const double t1 = static_cast<double>(done + n) / kRate;
        if (rssAtMark < 0.0 && t1 >= memoryMark)
            rssAtMark = residentMiB();
        if (t1 >= nextReportAt) {
            if (report)
                report << nextReportAt << ',' << residentMiB() << ',' << interval[0].meanMicroseconds() << ','
                       << interval[1].meanMicroseconds() << ',' << (eco ? 1 : 0) << '\n';
            interval[0] = interval[1] = Timing {};
            nextReportAt += 10.0;
        }
    }
    const double cpu = threadSeconds() - started;
    const double rssEnd = residentMiB();
    if (rssAtMark < 0.0)
        rssAtMark = rssEnd;

    const double audioSeconds = static_cast<double>(totalFrames) / kRate;
    const double growth = rssEnd - rssAtMark;
    const double ratio
        = music.blocks > 0 && quiet.blocks > 0 ? quiet.meanMicroseconds() / music.meanMicroseconds() : 0.0;
    std::printf(
        "soak: %.1f min of audio in %d-frame blocks, both models %s, ECO switched %ld times; RTF %.1f\n",
        audioSeconds / 60.0, block, bothModels ? "loaded" : "NOT loaded", ecoSwitches, audioSeconds / cpu);
    std::printf("output: %ld non-finite, %ld over the ceiling, peak %.4f (ceiling %.4f)\n", nonFinite,
        overCeiling, peak, kCeiling);
    std::printf("memory: %.2f MiB resident after %.0f s, %.2f MiB at the end (%+.3f MiB)\n", rssAtMark,
        memoryMark, rssEnd, growth);
    std::printf("time per block: %.2f us in music (%ld blocks), %.2f us in the quiet after loud passages "
                "(%ld blocks): ratio %.2f\n",
        music.meanMicroseconds(), music.blocks, quiet.meanMicroseconds(), quiet.blocks, ratio);

    bool ok = true;
    const auto check = [&](bool pass, const char* what) {
        std::printf("%s: %s\n", pass ? "ok  " : "FAIL", what);
        ok = ok && pass;
    };
    check(bothModels, "both bleed models loaded");
    check(nonFinite == 0 && overCeiling == 0, "output finite and within the ceiling");
    check(growth <= 1.0, "resident memory flat (at most 1 MiB more at the end)");
    check(quiet.blocks > 0 && music.blocks > 0 && ratio <= 2.0,
        "no slowdown in the quiet after loud passages (<= 2x)");
    return ok ? 0 : 1;
}
