#include "velarune-process/BleedScene.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace brindlecot::tools {

namespace {

// Energy ratio in dB; the floor keeps silent frames finite.
double db(double a, double b)
{
    return 10.0 * std::log10((a + 1e-30) / (b + 1e-30));
}

double peak(const std::vector<double>& x)
{
    double p = 0.0;
    for (double v : x)
        p = std::max(p, std::fabs(v));
    return p;
}

// Sums of squares over consecutive frames of `frame` samples (a partial last frame is dropped).
std::vector<double> frameEnergies(const std::vector<double>& x, size_t frame)
{
    std::vector<double> e(x.size() / frame, 0.0);
    for (size_t f = 0; f < e.size(); ++f)
        for (size_t i = f * frame; i < (f + 1) * frame; ++i)
            e[f] += x[i] * x[i];
    return e;
}

std::vector<double> difference(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> d(a.size());
    for (size_t i = 0; i < a.size(); ++i)
        d[i] = a[i] - b[i];
    return d;
}

Audio stereoFloatWav(std::vector<double> left, std::vector<double> right, double sampleRate)
{
    Audio a = monoFloatWav(std::move(left), sampleRate);
    a.channels = 2;
    a.info.channels = 2;
    a.samples.push_back(std::move(right));
    return a;
}

std::string figure(double valueDb, const char* what)
{
    char text[96];
    if (std::isnan(valueDb))
        std::snprintf(text, sizeof text, "-  (%s)", what);
    else
        std::snprintf(text, sizeof text, "%+.2f dB", valueDb);
    return text;
}

} // namespace

BleedFigures measureBleed(double sampleRate, const std::vector<double>& mic, const std::vector<double>& vocal,
    const std::vector<double>& outMic, const std::vector<double>& outVocal)
{
    const size_t frame
        = static_cast<size_t>(std::max(1L, std::lround(kVocalActiveFrameSeconds * sampleRate)));
    const std::vector<double> em = frameEnergies(mic, frame);
    const std::vector<double> ev = frameEnergies(vocal, frame);
    const std::vector<double> eb = frameEnergies(difference(mic, vocal), frame);
    const std::vector<double> eo = frameEnergies(outMic, frame);
    const std::vector<double> eov = frameEnergies(outVocal, frame);
    const std::vector<double> eob = frameEnergies(difference(outMic, outVocal), frame);

    BleedFigures r;
    const double loudest = ev.empty() ? 0.0 : *std::max_element(ev.begin(), ev.end());
    double pauseIn = 0.0, pauseOut = 0.0, vocalIn = 0.0, vocalOut = 0.0, bleedIn = 0.0, bleedOut = 0.0;
    for (size_t f = 0; f < ev.size(); ++f) {
        if (loudest > 0.0 && ev[f] > loudest * kVocalActiveRatio) {
            ++r.activeFrames;
            vocalIn += ev[f];
            vocalOut += eov[f];
            bleedIn += eb[f];
            bleedOut += eob[f];
        } else if (eb[f] > 0.0) {
            ++r.pauseFrames;
            pauseIn += em[f];
            pauseOut += eo[f];
        }
    }
    if (r.pauseFrames > 0)
        r.pauseChangeDb = db(pauseOut, pauseIn);
    if (r.activeFrames > 0) {
        r.vocalLevelDb = db(vocalOut, vocalIn);
        if (bleedIn > 1e-6 * vocalIn)
            r.vbrChangeDb = db(vocalOut, bleedOut) - db(vocalIn, bleedIn);
    }
    return r;
}

BleedFigures measureChain(double sampleRate, const std::vector<double>& mic, const std::vector<double>& vocal,
    const ParameterValues& params, const BleedChain& chain, std::string& modelStatus, double& splitGainDb)
{
    // The output limiter works from the lanes' peaks rather than their mean, so the lanes are kept
    // at or below -6 dBFS, where it does not act at the default settings.
    const double scale = std::min(1.0, 0.5 / (peak(mic) + peak(vocal) + 1e-9));
    splitGainDb = 20.0 * std::log10(scale);
    const size_t n = mic.size();
    std::vector<double> plus(n), minus(n);
    for (size_t i = 0; i < n; ++i) {
        plus[i] = (mic[i] + vocal[i]) * scale;
        minus[i] = (mic[i] - vocal[i]) * scale;
    }
    const Audio out
        = chain(stereoFloatWav(std::move(plus), std::move(minus), sampleRate), params, modelStatus);
    std::vector<double> outMic(n, 0.0), outVocal(n, 0.0);
    if (out.channels == 2 && out.frames() == n)
        for (size_t i = 0; i < n; ++i) {
            outMic[i] = 0.5 * (out.samples[0][i] + out.samples[1][i]) / scale;
            outVocal[i] = 0.5 * (out.samples[0][i] - out.samples[1][i]) / scale;
        }
    return measureBleed(sampleRate, mic, vocal, outMic, outVocal);
}

std::vector<std::pair<int, double>> bleedSceneSettings()
{
    return {{kBleedReduction, 100.0}};
}

bool runBleedScene(const std::string& path, const std::string& dir,
    const std::vector<std::pair<int, double>>& extraSettings, const BleedChain& chain, bool quiet,
    std::string& error)
{
    if (path.empty() || access(path.c_str(), F_OK) != 0) {
        if (!quiet)
            std::printf("\nBleed scene skipped: %s\n",
                path.empty()
                    ? "this build has no scene file (point --scene at one)"
                    : ("\"" + path + "\" not found (tools/train/make_demo_scene.py builds it)").c_str());
        return true;
    }
    Audio scene;
    if (!readAudio(path, scene, error))
        return false;
    if (scene.channels != 2) {
        error = "\"" + path + "\" is not a bleed scene: it needs two channels, the microphone and the vocal";
        return false;
    }
    const std::vector<double>& mic = scene.samples[0];
    const std::vector<double>& vocal = scene.samples[1];
    if (measureBleed(scene.sampleRate, mic, vocal, mic, vocal).activeFrames == 0) {
        error = "\"" + path + "\" is not a bleed scene: its second channel holds no vocal";
        return false;
    }

    std::vector<std::pair<int, double>> settings = bleedSceneSettings();
    settings.insert(settings.end(), extraSettings.begin(), extraSettings.end());
    ParameterValues params = defaultParameterValues();
    for (const auto& [index, value] : settings)
        params[static_cast<size_t>(index)] = value;

    const std::string inPath = dir + "/demo-bleed-in.wav";
    const std::string outPath = dir + "/demo-bleed-out.wav";
    const Audio in = monoFloatWav(mic, scene.sampleRate);
    std::string modelStatus;
    if (!writeAudio(inPath, in, error) || !writeAudio(outPath, chain(in, params, modelStatus), error))
        return false;
    double splitGainDb = 0.0;
    const BleedFigures r
        = measureChain(scene.sampleRate, mic, vocal, params, chain, modelStatus, splitGainDb);
    if (quiet)
        return true;

    std::printf("\nVelarune bleed scene %s -> %s, %s\n", path.c_str(), inPath.c_str(), outPath.c_str());
    for (const auto& [index, value] : settings)
        std::printf("  setting          %s = %s\n", paramSpec(index).name,
            formatValueWithUnit(paramSpec(index), value).c_str());
    std::printf("  bleed in pauses  %s over %zu pause frames of 20 ms\n",
        figure(r.pauseChangeDb, "no pause").c_str(), r.pauseFrames);
    std::printf("  vocal-to-bleed   %s change over %zu vocal-active frames\n",
        figure(r.vbrChangeDb, "no bleed under the vocal").c_str(), r.activeFrames);
    std::printf("  vocal in phrases %s\n", figure(r.vocalLevelDb, "no vocal").c_str());
    std::printf(
        "  measured         on the lanes mic + vocal and mic - vocal, scaled by %.1f dB\n", splitGainDb);
    std::printf("  bleed model      %s\n", modelStatus.c_str());
    return true;
}

} // namespace brindlecot::tools
