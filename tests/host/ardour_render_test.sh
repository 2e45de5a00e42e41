#!/usr/bin/env bash
# Renders a mono and a stereo file through the built Velarune.vst3 in Debian's Ardour 7 (headless)
# and checks that default settings pass the audio unchanged (the test level stays under the limiter).
# Exit 77 (skipped) when Ardour or the render script is not available.
set -euo pipefail
BUNDLE=$1
RENDER=${2:-}
[ -n "$RENDER" ] && [ -x "$RENDER" ] || { echo "ardour-render.sh not found: skipped"; exit 77; }
command -v ardour7-export >/dev/null 2>&1 || { echo "Ardour 7 not installed: skipped"; exit 77; }
command -v sox >/dev/null 2>&1 || { echo "sox not installed: skipped"; exit 77; }

W=$(mktemp -d /tmp/velarune-ardour-XXXXXX)
trap 'rm -rf "$W"' EXIT
sox -n -r 48000 -c 1 -b 32 -e floating-point "$W/mono.wav" synth 2 sine 440 vol 0.4
sox -n -r 48000 -c 2 -b 32 -e floating-point "$W/stereo.wav" synth 2 sine 440 sine 660 vol 0.4

status=0
for name in mono stereo; do
    ok=0
    # Ardour's plug-in scan occasionally fails to instantiate on the first try: retry twice.
    for attempt in 1 2 3; do
        if "$RENDER" "$W/$name.wav" "$BUNDLE" "$W/$name-out.wav" > "$W/$name.log" 2>&1; then ok=1; break; fi
        echo "$name: render attempt $attempt failed"; tail -n 3 "$W/$name.log"
    done
    [ $ok = 1 ] || { echo "$name: Ardour could not render"; status=1; continue; }
    rms_out=$(sox "$W/$name-out.wav" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}')
    diff_max=$(sox -m -v 1 "$W/$name.wav" -v -1 "$W/$name-out.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
    echo "$name: output RMS $rms_out, largest difference from the input $diff_max"
    if ! awk -v r="$rms_out" -v d="$diff_max" 'BEGIN { exit !(r > 0.2 && d < 1e-6) }'; then
        echo "$name: output differs from the input (or is silent)"; status=1
    fi
done
exit $status
