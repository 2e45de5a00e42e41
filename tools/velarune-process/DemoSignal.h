// The demo scene: a sung-like line in two phrases over band bleed (kick, bass, keys) and a monitor
// ring that starts to grow near the end. Deterministic: the same samples on every machine.
#pragma once

#include "engine/Parameters.h"

#include <utility>
#include <vector>

namespace brindlecot::tools {

inline constexpr double kDemoSampleRate = 48000.0;
inline constexpr double kDemoSeconds = 6.0;

/// Mono demo microphone signal at kDemoSampleRate.
std::vector<double> makeDemoSignal();

/// The settings the demo runs with (before any --set from the command line).
std::vector<std::pair<int, double>> demoSettings();

} // namespace brindlecot::tools
