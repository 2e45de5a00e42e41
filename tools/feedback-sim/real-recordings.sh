#!/usr/bin/env bash
# False-notch check of the feedback stage on real recordings without feedback: band songs from
# Debian's packages (instrumental rock, metal with growled vocals, metal with a sung female lead),
# each played through every room of the bench 20 dB below the loop's limit. Any notch is a false
# one. The packages are downloaded and unpacked here, not installed; nothing is committed.
#
#   tools/feedback-sim/real-recordings.sh [WORK_DIR] [SIMULATOR] [MARGIN_DB]
#
# WORK_DIR defaults to /tmp/velarune-recordings, SIMULATOR to build/release/tools/velarune-feedback-sim,
# MARGIN_DB (how far below the limit the songs play) to 20.
# Needs apt-get (Debian's repositories), dpkg-deb and sox with Ogg Vorbis support (package sox).
# Sources and licences:
#   fretsonfire-songs-sectoid  4 songs by Sectoid (instrumental rock)          MIT
#   fretsonfire-songs-muldjord 4 songs by Muldjord (metal, growled vocals)     CC-BY-SA-3.0
#   marsshooter-data           10 songs by Obsidian Shell (metal, sung lead)   CC-BY-SA-3.0
set -euo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-/tmp/velarune-recordings}
sim=${2:-$here/build/release/tools/velarune-feedback-sim}
margin=${3:-20}
[ -x "$sim" ] || { echo "no simulator at $sim (build the release preset first)" >&2; exit 1; }
sim=$(realpath "$sim")
command -v sox > /dev/null || { echo "sox is missing (apt-get install sox)" >&2; exit 1; }

mkdir -p "$work/deb" "$work/x" "$work/wav"
cd "$work/deb"
for pkg in fretsonfire-songs-sectoid fretsonfire-songs-muldjord marsshooter-data; do
    ls ${pkg}_*.deb > /dev/null 2>&1 || apt-get download "$pkg"
    dpkg-deb -x ${pkg}_*.deb "$work/x"
done

# 45 s from 20 s into each song (past any intro), mono, 48 kHz.
songs=()
while IFS= read -r -d '' f; do songs+=("$f"); done < <(find "$work/x/usr/share/games/fretsonfire" -name song.ogg -print0 | sort -z)
while IFS= read -r -d '' f; do songs+=("$f"); done < <(find "$work/x/usr/share/games/marsshooter/audio/music" -name '*.ogg' -print0 | sort -z)
[ "${#songs[@]}" -gt 0 ] || { echo "no songs found under $work/x" >&2; exit 1; }

status=0
for song in "${songs[@]}"; do
    name=$(basename "$(dirname "$song")")
    [ "$name" = music ] && name=$(basename "$song" .ogg)
    wav="$work/wav/${name// /_}.wav"
    [ -f "$wav" ] || sox -v 0.7 "$song" -r 48000 -c 1 -b 24 "$wav" trim 20 45
    echo "== $name"
    "$sim" --false-notches-only --margin "$margin" --source "$wav" | tail -n 1 || status=1
done
exit $status
