#!/usr/bin/env bash
# The built LV2 bundle as Debian's lilv sees it (lv2info, package lilv-utils), with LV2_PATH
# holding only this bundle: the plug-in is found under its URI with its name and maker, two audio
# inputs and two outputs, the state interface, and its 22 parameters. JUCE's LV2 wrapper exposes
# the parameters as patch:writable properties (set through the atom control port), not as control
# ports: lilv must list all 22 as writable, and the bundle's parameter labels must be the
# parameter names in index order. Exit 77 (skipped) without lv2info.
set -euo pipefail
BUNDLE=$1
URI=https://brindlecot.example/plugins/velarune
command -v lv2info >/dev/null 2>&1 || { echo "lv2info not installed (package lilv-utils): skipped"; exit 77; }
W=$(mktemp -d /tmp/velarune-lv2info-XXXXXX)
trap 'rm -rf "$W"' EXIT
mkdir "$W/lv2"
ln -s "$(readlink -f "$BUNDLE")" "$W/lv2/Velarune.lv2"
export LV2_PATH=$W/lv2

status=0
fail() { echo "lv2info: $*"; status=1; }
[ "$(lv2ls)" = "$URI" ] || fail "lv2ls lists '$(lv2ls)', not $URI alone"
lv2info "$URI" > "$W/info.txt" || { cat "$W/info.txt"; echo "lv2info failed"; exit 1; }
grep -q "Name: *Velarune$" "$W/info.txt" || fail "no name Velarune"
grep -q "Author: *Brindlecot$" "$W/info.txt" || fail "no author Brindlecot"
! grep -q "Author Email" "$W/info.txt" || fail "an author e-mail is declared: $(grep "Author Email" "$W/info.txt")"
grep -q "http://lv2plug.in/ns/ext/state#interface" "$W/info.txt" || fail "no state interface"
count_ports() { awk -v a="$1" -v b="$2" '/^\tPort [0-9]+:/ { t = "" } /Type:/ || /^\t\t +http/ { t = t $NF " " }
    /Symbol:/ { if (index(t, a) && index(t, b)) n++ } END { print n + 0 }' "$W/info.txt"; }
ins=$(count_ports "#AudioPort" "#InputPort"); outs=$(count_ports "#AudioPort" "#OutputPort")
echo "audio ports: $ins in, $outs out"
[ "$ins" = 2 ] && [ "$outs" = 2 ] || fail "expected 2 audio inputs and 2 outputs"

lv2info -p "$W/plugin.ttl" "$URI" > /dev/null
writable=$(grep -o "<$URI:[a-z]*>" "$W/plugin.ttl" | sort -u | wc -l)
echo "patch:writable properties: $writable"
[ "$writable" = 22 ] || fail "expected 22 writable parameters"

expected="Input|Bleed Reduction|Feedback Reduction|Output|High-Pass|Low-Pass|High-Pass On|Low-Pass On|Soft Bypass|ECO Mode|Air|Air Corner|Ride Strength|Voice Floor|Saturation|Saturation Focus|Saturation Drive|Vocal Target|Top Saturation|Top Saturation Focus|Top Saturation Drive|BEEF Knob"
labels=$(awk '/a lv2:Parameter/ { p = 1; next } p && /rdfs:label/ { sub(/^[^"]*"/, ""); sub(/".*$/, ""); print; p = 0 }' \
    "$BUNDLE/dsp.ttl" | paste -sd'|')
[ "$labels" = "$expected" ] || fail "parameter labels differ: $labels"
echo "parameters: $(echo "$labels" | tr '|' '\n' | wc -l), in index order"
exit $status
