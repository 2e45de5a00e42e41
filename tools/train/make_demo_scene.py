#!/usr/bin/python3
"""Builds the bleed demo scene of velarune-process: one 5 s example made like the training mixes
(make_data.py's melody, band parts, drum groove, rooms and mixing rules), from the FluidR3_GM
soundfont only, so the committed file needs no more than its MIT attribution.

- vocal: two legato phrases with vibrato on the Voice Oohs preset, with a pause between them;
- bleed: FluidR3_GM melodic parts (bass, keys, guitar, pad) and its General MIDI drum kit
  (MIDI channel 10), each through a seeded synthetic room;
- mixing: make_data.mix_example on these stems, drawn with the first seed that gives a mixed
  example with at least two bleed sources including the drums; then the bleed is scaled to a
  vocal-to-bleed ratio of 0 dB over the vocal-active 20 ms frames and the mix to a -6 dBFS peak.

Writes a 2-channel 16-bit FLAC at 48 kHz: channel 1 the microphone signal (vocal + bleed),
channel 2 the vocal as it arrives at the microphone (the known target, for measuring only).

    nice -n 15 /usr/bin/python3 tools/train/make_demo_scene.py [--out resources/demo/bleed-scene.flac]
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
from scipy.io import wavfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import audio  # noqa: E402
import make_data  # noqa: E402
from audio import RATE  # noqa: E402
from runtime_constants import NETWORK_HOP  # noqa: E402

SEED = 4242
SECONDS = 5.0
SOUNDFONT = make_data.SF2 + "FluidR3_GM.sf2"
# Voice Oohs, the one of make_data's singing presets whose notes release within about 0.3 s in
# FluidR3_GM (Choir Aahs and Synth Voice ring for about a second), so the pause stays clear.
VOICE_PROGRAM = 53
assert VOICE_PROGRAM in make_data.SINGING_PROGRAMS
DRUM_CHANNEL = 9  # MIDI channel 10, the General MIDI percussion channel
# (start, length) of the two sung phrases in seconds; the notes end inside each window.
PHRASES = [(0.15, 2.0), (3.1, 1.75)]
VBR_DB = 0.0
PEAK_DBFS = -6.0


def phrase_events(rng, channel, program, start, length):
    """make_data's singing melody for one phrase: notes starting after `length` are dropped and
    the others end by then, so the phrase and its release are inside the window."""
    events = audio.channel_setup(channel, program)
    for t, message in make_data.singing_events(rng, length, channel):
        status = message[0] & 0xF0
        if status == 0x90 and t >= length - 0.15:
            continue
        if status == 0x80:
            t = min(t, length)
        elif status == 0xE0 and t >= length:
            continue
        events.append((start + t, message))
    return events


def fluid_drums(rng, seconds):
    """make_data's drum groove on FluidR3_GM's General MIDI kit."""
    events = audio.channel_setup(DRUM_CHANNEL, 0)
    for when, voice, velocity in make_data.drum_pattern(rng, seconds):
        events += make_data.note(DRUM_CHANNEL, when, 0.1, make_data.DRUM_NOTES[voice], velocity)
    return audio.render_midi(SOUNDFONT, events, seconds)


def render_sources(n):
    seconds = n / RATE
    rng = make_data.rng_for(SEED, "demo", "stems")
    program = VOICE_PROGRAM
    events = []
    for channel, (start, length) in enumerate(PHRASES):
        events += phrase_events(rng, channel, program, start, length)
    singing = audio.render_midi(SOUNDFONT, events, seconds)[:n]
    bleed = []
    for kind in ["bass", "keys", "guitar", "pad"]:
        p = int(rng.choice(make_data.BLEED_PROGRAMS[kind]))
        x = audio.render_midi(SOUNDFONT, make_data.melodic_events(rng, kind, p, seconds), seconds)[:n]
        bleed.append(("%s:%d" % (kind, p), x))
    bleed.append(("drums:fluid-gm", fluid_drums(rng, seconds)[:n]))
    bleed = [(name, x) for name, x in bleed if np.max(np.abs(x)) > 1e-4]
    return singing, bleed, program


def frame_mask(vocal):
    """Vocal-active 20 ms frames (energy above 1e-4 of the loudest frame), per sample."""
    e = audio.frame_energies(vocal)
    mask = np.repeat(e > np.max(e) * 1e-4, 960)
    return np.pad(mask, (0, len(vocal) - len(mask)))


def build(n):
    singing, bleed_stems, program = render_sources(n)
    if np.max(np.abs(singing)) < 1e-4:
        raise SystemExit("make_demo_scene: fluidsynth rendered no vocal (is %s installed?)" % SOUNDFONT)
    for k in range(1000):
        rng = make_data.rng_for(SEED, "demo", "mix", k)
        # The vocal is drawn from the singing stems; the spoken-voice pools get the same phrases
        # only so that a draw of a spoken example (rejected below) has something to pick.
        mic, vocal, meta = make_data.mix_example(rng, ([singing], []), ([singing], bleed_stems), n)
        sources = meta.get("bleed", [])
        if (meta["kind"] == "mixed" and meta.get("vocal") == "singing" and len(sources) >= 2
                and any(s.startswith("drums:") for s in sources)):
            break
    else:
        raise SystemExit("make_demo_scene: no suitable mix drawn")
    bleed = mic - vocal
    active = frame_mask(vocal)
    bleed *= np.sqrt(np.mean(vocal[active] ** 2) / np.mean(bleed[active] ** 2)) * 10.0 ** (-VBR_DB / 20.0)
    mic = vocal + bleed
    gain = 10.0 ** (PEAK_DBFS / 20.0) / np.max(np.abs(mic))
    meta.update(mix=k, program=program, vbr_db=VBR_DB)
    return (mic * gain).astype(np.float32), (vocal * gain).astype(np.float32), meta


def to_int16(x):
    return np.clip(np.round(x * 32768.0), -32768, 32767).astype(np.int16)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default=os.path.join(HERE, "..", "..", "resources", "demo", "bleed-scene.flac"))
    parser.add_argument("--no-install", action="store_true")
    args = parser.parse_args()
    if not args.no_install:
        make_data.install_packages(["fluidsynth", "fluid-soundfont-gm", "sox", "python3-numpy", "python3-scipy"])
    n = int(SECONDS * RATE) // NETWORK_HOP * NETWORK_HOP
    mic, vocal, meta = build(n)

    # Integer samples are written as they are, so sox converts to FLAC without dither and the
    # file is the same on every run.
    out = os.path.abspath(args.out)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "scene.wav")
        wavfile.write(wav, RATE, np.stack([to_int16(mic), to_int16(vocal)], axis=1))
        comment = "Velarune bleed demo scene; sounds from the FluidR3_GM soundfont by Frank Wen, MIT licence"
        subprocess.run(["sox", "-D", wav, "--comment", comment, "-C", "8", out + ".partial.flac"], check=True)
    os.replace(out + ".partial.flac", out)

    active = frame_mask(vocal)
    bleed = mic - vocal
    e = audio.frame_energies(vocal)
    pauses = int(np.sum(e <= np.max(e) * 1e-4))
    vbr = 10.0 * np.log10(np.sum(vocal[active] ** 2) / np.sum(bleed[active] ** 2))
    print("wrote %s (%d bytes): %.2f s, peak %.1f dBFS, vocal-to-bleed %.1f dB over %d vocal-active frames, "
          "%d pause frames" % (out, os.path.getsize(out), n / RATE, 20.0 * np.log10(np.max(np.abs(mic))), vbr,
                               int(np.sum(e > np.max(e) * 1e-4)), pauses))
    print("mix:", meta)


if __name__ == "__main__":
    main()
