#!/usr/bin/env bash
# Renders through a built Velarune bundle (.vst3 or .lv2) in Debian's Ardour 7, headless:
#  1. a mono and a stereo track at default settings pass the audio unchanged (the test level stays
#     under the limiter);
#  2. "Input" at -12 dB scales the output by 10^(-12/20);
#  3. the plug-in's state survives its session: a session saved with several parameters changed,
#     reopened and rendered a second time gives the same output as the first render.
# Exit 77 (skipped) when Ardour, sox or the render script is not available.
set -euo pipefail
BUNDLE=$1
RENDER=${2:-}
[ -n "$RENDER" ] && [ -x "$RENDER" ] || { echo "ardour-render.sh not found: skipped"; exit 77; }
command -v ardour7-export >/dev/null 2>&1 || { echo "Ardour 7 not installed: skipped"; exit 77; }
command -v sox >/dev/null 2>&1 || { echo "sox not installed: skipped"; exit 77; }
if [ -f "$BUNDLE/manifest.ttl" ]; then FORMAT=LV2; else FORMAT=VST3; fi

W=$(mktemp -d /tmp/velarune-ardour-XXXXXX)
trap 'rm -rf "$W"' EXIT
sox -n -r 48000 -c 1 -b 32 -e floating-point "$W/mono.wav" synth 2 sine 440 vol 0.4
sox -n -r 48000 -c 2 -b 32 -e floating-point "$W/stereo.wav" synth 2 sine 440 sine 660 vol 0.4

status=0
fail() { echo "$FORMAT: $*"; status=1; }

# Ardour's plug-in scan and its export occasionally fail by themselves: three tries.
render() { # render NAME IN OUT [ardour-render.sh options...]
    local name=$1 in=$2 out=$3; shift 3
    for attempt in 1 2 3; do
        if "$RENDER" "$@" "$in" "$BUNDLE" "$out" > "$W/$name.log" 2>&1; then return 0; fi
        echo "$name: render attempt $attempt failed"; tail -n 3 "$W/$name.log"
    done
    return 1
}
largest_difference() { sox -m -v 1 "$1" -v "-$3" "$2" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}'; }
rms() { sox "$1" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}'; }

# 1. Defaults pass the audio unchanged, on a mono and on a stereo track.
for name in mono stereo; do
    render "$name" "$W/$name.wav" "$W/$name-out.wav" || { fail "$name: Ardour could not render"; continue; }
    r=$(rms "$W/$name-out.wav"); d=$(largest_difference "$W/$name.wav" "$W/$name-out.wav" 1)
    echo "$FORMAT $name: output RMS $r, largest difference from the input $d"
    awk -v r="$r" -v d="$d" 'BEGIN { exit !(r > 0.2 && d < 1e-6) }' || fail "$name: output differs from the input (or is silent)"
done

# 2. Input at -12 dB. Ardour hands VST3 parameters normalised (-24 .. +24 dB: -12 dB is 0.25), LV2
# ones in their own unit. The first 0.1 s is left out of the comparison. Once in many LV2 runs the
# render came out partly unscaled and did not reproduce (most likely Ardour handing the value over
# after the export had started), so a render that misses is repeated: a plug-in that ignores the
# parameter fails all three.
if [ "$FORMAT" = LV2 ]; then input=-12; else input=0.25; fi
sox "$W/stereo.wav" "$W/ref.wav" trim 0.1
scaled=0
for attempt in 1 2 3; do
    if ! render gain "$W/stereo.wav" "$W/gain-out.wav" --param "Input=$input"; then
        scaled=norender
        break
    fi
    sox "$W/gain-out.wav" "$W/gain-trim.wav" trim 0.1
    d=$(largest_difference "$W/gain-trim.wav" "$W/ref.wav" 0.251188643)
    echo "$FORMAT Input -12 dB (render $attempt): largest difference from 0.2512 x input $d"
    if awk -v d="$d" 'BEGIN { exit !(d < 1e-5) }'; then scaled=1; break; fi
done
case $scaled in
    1) ;;
    norender) fail "Ardour could not render with Input at -12 dB" ;;
    *) fail "Input -12 dB did not scale the output by 0.2512" ;;
esac

# 3. State in the session: render with settings that change the sound audibly, keep the session,
# reopen it and render again. As in 2, Ardour now and then hands the settings over after the first
# export has started (the two renders then differ at their start), so the whole check is repeated
# up to three times: a plug-in that loses its state fails all three.
if [ "$FORMAT" = LV2 ]; then
    settings=(--param "Input=-6" --param "Output=-3" --param "Air=50" --param "Saturation=30")
else
    settings=(--param "Input=0.375" --param "Output=0.4375" --param "Air=0.5" --param "Saturation=0.3")
fi
state_check() { # 0: same render after reopening; 1: differs; 2: Ardour failed
    rm -rf "$W/kept" "$W/state-1.wav" "$W/state-2.wav"
    render state "$W/stereo.wav" "$W/state-1.wav" --keep "$W/kept" "${settings[@]}" || return 2
    local ok=0
    for attempt in 1 2 3; do
        rm -f "$W/state-2.wav"
        if HOME=$W/kept/home LV2_PATH=$W/kept/lv2 timeout -k 5 60 \
            ardour7-export -b float -s 48000 -o "$W/state-2.wav" "$W/kept/sess" sess > "$W/reexport.log" 2>&1 \
            && [ -s "$W/state-2.wav" ]; then ok=1; break; fi
        echo "re-export attempt $attempt failed"; tail -n 3 "$W/reexport.log"
    done
    [ $ok = 1 ] || return 2
    grep -q -i "velarune" "$W/kept/sess/sess.ardour" || fail "the saved session does not name the plug-in"
    same=$(largest_difference "$W/state-1.wav" "$W/state-2.wav" 1)
    changed=$(largest_difference "$W/stereo.wav" "$W/state-1.wav" 1)
    echo "$FORMAT state: reopened session renders within $same of the first render; the settings moved the output by up to $changed"
    awk -v s="$same" -v c="$changed" 'BEGIN { exit !(s < 1e-6 && c > 0.05) }' || return 1
}
state=1
for round in 1 2 3; do
    set +e
    state_check
    state=$?
    set -e
    [ "$state" = 1 ] || break
done
case $state in
    0) ;;
    1) fail "the reopened session did not render as saved (or the settings changed nothing)" ;;
    *) fail "Ardour could not render the first or the reopened session" ;;
esac
exit $status
