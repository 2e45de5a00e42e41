// The bleed demo scene: a real mix from the training pipeline (tools/train/make_demo_scene.py) in a
// stereo file whose first channel is the microphone signal and whose second is the vocal as it
// arrives at the microphone, so what the chain does to the vocal and to the bleed can be measured.
#pragma once

#include "engine/ProcessingFrame.h" // ParameterValues
#include "velarune-process/AudioFile.h"

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace brindlecot::tools {

/// Runs the processing chain with `params` on `in` (mono or stereo) and returns the output; sets
/// `modelStatus` to the bleed models' status line.
using BleedChain
    = std::function<Audio(const Audio& in, const ParameterValues& params, std::string& modelStatus)>;

/// Frame length (s) of the vocal-active rule, shared with the training's evaluation.
inline constexpr double kVocalActiveFrameSeconds = 0.02;
/// A frame is vocal-active when its vocal energy is above this fraction (-40 dB) of the loudest.
inline constexpr double kVocalActiveRatio = 1e-4;

/// What the chain did, over 20 ms frames. A frame is vocal-active when its vocal energy is above
/// 1e-4 of the loudest vocal frame; a pause is any other frame that has bleed.
struct BleedFigures
{
    size_t activeFrames = 0;
    size_t pauseFrames = 0;
    double pauseChangeDb = NAN; // output over input energy in the pauses
    double vbrChangeDb = NAN; // vocal-to-bleed ratio change over the vocal-active frames
    double vocalLevelDb = NAN; // vocal energy change over the vocal-active frames
};

/// Figures from the microphone signal, the vocal in it, the processed microphone signal and what
/// the processing made of the vocal (all the same length).
BleedFigures measureBleed(double sampleRate, const std::vector<double>& mic, const std::vector<double>& vocal,
    const std::vector<double>& outMic, const std::vector<double>& outVocal);

/// Measures the chain on a microphone signal with a known vocal by running it once on the stereo
/// lanes mic + vocal and mic - vocal. Their mean is the microphone signal, which drives every
/// bleed decision, and both lanes get the same filters, so half the sum of the output lanes is the
/// processed microphone signal and half the difference is what the chain did to the vocal. The
/// lanes are scaled down to stay out of the output limiter; `splitGainDb` returns that scale.
BleedFigures measureChain(double sampleRate, const std::vector<double>& mic, const std::vector<double>& vocal,
    const ParameterValues& params, const BleedChain& chain, std::string& modelStatus, double& splitGainDb);

/// The settings of the bleed scene on top of the defaults (before any --set).
std::vector<std::pair<int, double>> bleedSceneSettings();

/// Runs the bleed scene from `path`: writes demo-bleed-in.wav (the microphone signal) and
/// demo-bleed-out.wav (its processed version) into `dir` and prints the figures. A missing file
/// only prints a line saying the scene was skipped. Returns false with a one-line `error` for a
/// file that is not a bleed scene or an output that cannot be written.
bool runBleedScene(const std::string& path, const std::string& dir,
    const std::vector<std::pair<int, double>>& extraSettings, const BleedChain& chain, bool quiet,
    std::string& error);

} // namespace brindlecot::tools
