#!/usr/bin/env bash
# One command for a new machine (Debian 12, as root): installs the dependencies, builds everything
# in Release and runs the offline processor on the demo scenes (synthetic and bleed).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release -j "$jobs"

mkdir -p build/demo
build/release/tools/velarune-process --demo --demo-dir build/demo
echo
echo "Plug-ins: build/release/Velarune_artefacts/Release/{VST3/Velarune.vst3,LV2/Velarune.lv2,Standalone/Velarune}"
