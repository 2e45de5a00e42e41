#!/usr/bin/python3
"""Generates the training, validation and evaluation mixes of the bleed models.

Everything comes from Debian packages (installed here with apt-get when missing) and is derived
deterministically from the seeds in recipe.json:

- voices: spoken prompts and words (asterisk prompts decoded from G.722, tuxpaint stamp
  descriptions in the full-band languages, ktuberling and klettres sounds; clipped files and
  low-passed tuxpaint files dropped) and singing-like legato melodies with vibrato played on the
  choir / voice presets of General MIDI soundfonts;
- bleed: random MIDI parts (keys, organ, guitars, bass, pads, brass, leads) rendered with
  fluidsynth (reverb and chorus off), drums from the Black Pearl kit and a few hydrogen kits;
- rooms: seeded synthetic impulse responses; mixing rules in `mix_example`.

A split's "options" in the recipe (recipe-sung.json) add sung phrases made from the split's own
speech by singing.py, real instrument recordings as bleed (Muldjord and Sectoid stems, the 0ad
music), the proximity effect on the vocal and an off-axis colour on the band; without options a
split comes out exactly as before. A split may borrow another split's sources ("sources") and seed.

The evaluation split uses only sources that training never sees: the Italian asterisk prompts,
the hedgewars voice packs, the Red Zeppelin kit, the MuseScore General soundfont, sonic-pi
samples and lmms samples. The validation split holds out one file in eight of the training
voice sources (by a hash of the path) and uses separately seeded bleed parts.

    nice -n 15 /usr/bin/python3 tools/train/make_data.py [--out /work/train-data] [--small]

Writes <out>/<split>/mix.npy ([examples, 2, samples]: microphone, vocal target; float16 for
training, float32 otherwise), <out>/<split>/meta.json and <out>/manifest.sha256.
"""
import argparse
import glob
import hashlib
import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ET

import numpy as np
from scipy import signal

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import audio  # noqa: E402
from audio import RATE, VOCAL_ACTIVE_FRAME  # noqa: E402
from runtime_constants import NETWORK_HOP, VOCAL_ACTIVE_RATIO  # noqa: E402

PACKAGES_TRAIN = [
    "ffmpeg", "fluidsynth", "fluid-soundfont-gm", "timgm6mb-soundfont", "avldrums.lv2-soundfont",
    "hydrogen-drumkits", "asterisk-core-sounds-en-g722", "asterisk-core-sounds-es-g722",
    "asterisk-core-sounds-fr-g722", "asterisk-core-sounds-ru-g722", "tuxpaint-stamps-default",
    "ktuberling-data", "klettres-data", "fretsonfire-songs-muldjord", "fretsonfire-songs-sectoid",
]
PACKAGES_EVAL = [
    "asterisk-core-sounds-it-g722", "hedgewars-data", "musescore-general-soundfont-small",
    "sonic-pi-samples", "lmms-common",
]
PACKAGES_TOOLS = ["python3-numpy", "python3-scipy", "python3-torch", "libopenblas0-pthread"]

SF2 = "/usr/share/sounds/sf2/"
TRAIN_SOUNDFONTS = [SF2 + "FluidR3_GM.sf2", SF2 + "TimGM6mb.sf2"]
EVAL_SOUNDFONTS = ["/usr/share/sounds/sf3/MuseScore_General_Lite.sf3"]
TRAIN_DRUM_SOUNDFONT = SF2 + "Black_Pearl_4_LV2.sf2"
EVAL_DRUM_SOUNDFONT = SF2 + "Red_Zeppelin_4_LV2.sf2"
HYDROGEN = "/usr/share/hydrogen/data/drumkits/"
TRAIN_HYDROGEN_KITS = ["ColomboAcousticDrumkit", "Millo-Drums_v.1", "BJA_Pacific", "rumpf_kit_z01_h2", "ElectricEmpireKit"]
ASTERISK = "/usr/share/asterisk/sounds/"
TRAIN_ASTERISK = ["en_US_f_Allison", "es_MX_f_Allison", "fr_CA_f_June", "ru_RU_f_IvrvoiceRU"]
EVAL_ASTERISK = ["it_IT_m_Carlo"]

SINGING_PROGRAMS = [52, 53, 54]
BLEED_PROGRAMS = {
    "keys": [0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19],
    "guitar": [24, 25, 26, 27, 28, 29, 30],
    "bass": [32, 33, 34, 35, 36, 37, 38],
    "pad": [48, 49, 50, 88, 89, 90, 91],
    "lead": [56, 57, 61, 65, 66, 71, 80, 81],
}


def install_packages(names):
    """apt-get installs the packages that are not installed yet (nothing to do when all are)."""
    missing = []
    for name in names:
        r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", name], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True, check=False)
        if "install ok installed" not in r.stdout:
            missing.append(name)
    if missing:
        print("installing", " ".join(missing), flush=True)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "-y", "--no-install-recommends", "-o", "DPkg::Lock::Timeout=900",
                        "install"] + missing, check=True, env=env)


def stable_hash(text):
    return int(hashlib.sha1(text.encode()).hexdigest()[:8], 16)


def rng_for(seed, *keys):
    return np.random.default_rng([seed] + [stable_hash(str(k)) for k in keys])


# ---- voices ------------------------------------------------------------------------------------

def sources_of(split, cfg):
    """Which sources a split draws from: "train", "valid" or "eval" (a split may borrow another
    split's sources, e.g. a sung evaluation split)."""
    return cfg.get("sources", split)


def voice_files(split):
    """(group, path, raw format) of the candidate voice files of a source set, sorted."""
    files = []
    if split == "eval":
        for lang in EVAL_ASTERISK:
            files += [("asterisk-" + lang, p, "g722") for p in glob.glob(ASTERISK + lang + "/**/*.g722", recursive=True)]
        files += [("hedgewars", p, None)
                  for p in glob.glob("/usr/share/games/hedgewars/Data/Sounds/voices/*/*.ogg")]
        return sorted(files)
    for lang in TRAIN_ASTERISK:
        files += [("asterisk-" + lang, p, "g722") for p in glob.glob(ASTERISK + lang + "/**/*.g722", recursive=True)]
    files += [("tuxpaint", p, None) for p in glob.glob("/usr/share/tuxpaint/stamps/**/*_desc*.ogg", recursive=True)]
    files += [("ktuberling", p, None) for p in glob.glob("/usr/share/ktuberling/sounds/*/*.wav")
              + glob.glob("/usr/share/ktuberling/sounds/*/*.ogg")]
    files += [("klettres", p, None) for p in glob.glob("/usr/share/klettres/*/*/*.ogg")]
    held_out = [f for f in files if stable_hash(f[1]) % 8 == 0]
    kept = [f for f in files if stable_hash(f[1]) % 8 != 0]
    return sorted(held_out if split == "valid" else kept)


def tuxpaint_language(path):
    base = os.path.basename(path)[:-4]
    return base.rsplit("_desc", 1)[1].strip("_") or "en"


def load_voices(split, per_group, seed, cache):
    """Decoded, filtered voice clips: (full-band clips, band-limited clips, notes)."""
    path = os.path.join(cache, "voices_%s.npz" % split)
    if os.path.exists(path):
        d = np.load(path, allow_pickle=True)
        return list(d["full"]), list(d["limited"]), d["notes"].item()
    files = voice_files(split)
    groups = {}
    for g, p, fmt in files:
        key = g if g != "tuxpaint" else "tuxpaint-" + tuxpaint_language(p)
        groups.setdefault(key, []).append((p, fmt))
    full, limited, notes = [], [], {}
    rng = rng_for(seed, "voices", split)
    for key in sorted(groups):
        entries = groups[key]
        cap = per_group // 3 if key.startswith("tuxpaint-") else per_group
        order = rng.permutation(len(entries))[:cap]
        kept = dropped_clip = dropped_band = 0
        for i in order:
            p, fmt = entries[i]
            x = audio.decode(p, fmt)
            if len(x) < RATE // 4 or np.max(np.abs(x)) < 1e-3:
                continue
            if audio.is_clipped(x):
                dropped_clip += 1
                continue
            x = trim_silence(x)
            band_limited = fmt == "g722" or audio.high_band_ratio_db(x) < -45.0
            if band_limited and key.startswith("tuxpaint-"):
                dropped_band += 1  # the tuxpaint descriptions are used in their full-band languages only
                continue
            (limited if band_limited else full).append((x / np.max(np.abs(x))).astype(np.float32))
            kept += 1
        notes[key] = {"candidates": len(entries), "kept": kept, "clipped": dropped_clip, "low_passed": dropped_band}
        print("  voices %s %s: %s" % (split, key, notes[key]), flush=True)
    np.savez(path, full=np.array(full, dtype=object), limited=np.array(limited, dtype=object), notes=notes)
    return load_voices(split, per_group, seed, cache)  # from the cache, so a fresh run gives the same bits


def trim_silence(x):
    e = audio.frame_energies(x, 480)
    if len(e) == 0:
        return x
    active = np.nonzero(e > np.max(e) * 1e-4)[0]
    return x[max(0, active[0] * 480 - 960) : min(len(x), (active[-1] + 1) * 480 + 960)]


# ---- rendered material -------------------------------------------------------------------------

def singing_events(rng, seconds, channel=0):
    """A legato melody in a singer's range with vibrato, in phrases separated by breaths."""
    events = []
    t = rng.uniform(0.0, 0.5)
    centre = int(rng.integers(50, 70))
    scale = [0, 2, 4, 5, 7, 9, 11] if rng.random() < 0.5 else [0, 2, 3, 5, 7, 8, 10]
    degree = 0
    rate = rng.uniform(4.5, 6.5)
    depth = rng.uniform(150.0, 500.0)  # of 8192 per two semitones: about 4 to 12 cents
    while t < seconds - 0.5:
        phrase_end = min(seconds, t + rng.uniform(1.5, 5.0))
        while t < phrase_end:
            degree = int(np.clip(degree + rng.integers(-2, 3), -7, 9))
            key = centre + 12 * (degree // 7) + scale[degree % 7]
            length = rng.choice([0.25, 0.375, 0.5, 0.75, 1.0, 1.5])
            events += note(channel, t, length + 0.04, key, int(rng.integers(70, 115)))  # slight overlap
            t += length
        t += rng.uniform(0.3, 1.2)  # breath
    for k in range(int(seconds * 50)):
        tt = k / 50.0
        events.append(audio.pitch_bend(channel, tt, depth * np.sin(2 * np.pi * rate * tt) * min(1.0, tt % 2.0)))
    events.append((0.0, bytes([0xB0 | channel, 11, int(rng.integers(90, 127))])))
    return events


def note(channel, start, length, key, velocity):
    return audio.note(channel, start, length, int(np.clip(key, 0, 127)), int(np.clip(velocity, 1, 127)))


def melodic_events(rng, kind, program, seconds, channel=0):
    events = audio.channel_setup(channel, program)
    beat = 60.0 / rng.uniform(80.0, 150.0)
    root = int(rng.integers(0, 12))
    progression = [root + c for c in rng.choice([0, 5, 7, 9, 2, 4], size=4)]
    t, bar = 0.0, 0
    while t < seconds:
        chord_root = progression[bar % 4]
        chord = [chord_root, chord_root + 4 if rng.random() < 0.5 else chord_root + 3, chord_root + 7]
        if kind == "bass":
            for step in range(8):
                if rng.random() < 0.8:
                    key = 36 + (chord_root % 12) + (7 if rng.random() < 0.25 else 0)
                    events += note(channel, t + step * beat / 2, beat / 2 * rng.uniform(0.6, 1.0), key, rng.integers(70, 120))
        elif kind in ("keys", "pad"):
            if rng.random() < 0.5 or kind == "pad":
                for k in chord:
                    events += note(channel, t, 4 * beat * rng.uniform(0.8, 1.0), 60 + k % 12, rng.integers(55, 100))
            else:
                for step in range(8):
                    events += note(channel, t + step * beat / 2, beat / 2, 60 + chord[step % 3] % 12 + 12 * (step // 6),
                                   rng.integers(60, 105))
        elif kind == "guitar":
            for step in range(8):
                if rng.random() < 0.7:
                    for i, k in enumerate(chord + [chord[0] + 12]):
                        events += note(channel, t + step * beat / 2 + i * 0.012, beat / 2 * 0.9, 52 + k % 12,
                                       rng.integers(60, 110))
        else:  # lead
            key = 64 + chord[0] % 12
            s = 0.0
            while s < 4 * beat:
                length = beat * rng.choice([0.5, 1.0, 1.5])
                key = int(np.clip(key + rng.integers(-3, 4), 55, 84))
                events += note(channel, t + s, length * 0.95, key, rng.integers(70, 115))
                s += length
        t += 4 * beat
        bar += 1
    return events


DRUM_NOTES = {"kick": 36, "snare": 38, "hat": 42, "open": 46, "tom": 45, "crash": 49, "ride": 51}


def drum_pattern(rng, seconds):
    """(time, voice, velocity) hits of a random groove."""
    beat = 60.0 / rng.uniform(75.0, 160.0)
    sixteenth = beat / 4
    kick = [0] + [s for s in range(1, 16) if rng.random() < 0.2]
    snare = [4, 12] + [s for s in range(16) if rng.random() < 0.06]
    hats = list(range(0, 16, 2 if rng.random() < 0.6 else 1))
    cymbal = "ride" if rng.random() < 0.3 else "hat"
    hits, t, bar = [], 0.0, 0
    while t < seconds:
        for s in range(16):
            when = t + s * sixteenth + rng.normal(0.0, 0.004)
            if s in kick:
                hits.append((when, "kick", rng.integers(90, 127)))
            if s in snare:
                hits.append((when, "snare", rng.integers(80, 127) if s in (4, 12) else rng.integers(40, 80)))
            if s in hats:
                hits.append((when, cymbal if rng.random() < 0.92 else "open", rng.integers(50, 110)))
        if bar % 4 == 3 and rng.random() < 0.6:
            for s in range(12, 16):
                hits.append((t + s * sixteenth, "tom", rng.integers(80, 120)))
        if bar % 8 == 0 and rng.random() < 0.5:
            hits.append((t, "crash", rng.integers(90, 127)))
        t += 16 * sixteenth
        bar += 1
    return [(max(0.0, a), b, int(c)) for a, b, c in hits if a < seconds]


def hydrogen_kit(path):
    """voice -> list of sample files of a hydrogen kit, classified by instrument name."""
    tree = ET.parse(os.path.join(path, "drumkit.xml"))
    kit = {}
    for inst in tree.iter():
        if not inst.tag.endswith("instrument"):
            continue
        name = ""
        files = []
        for child in inst.iter():
            if child.tag.endswith("name") and not name:
                name = (child.text or "").lower()
            if child.tag.endswith("filename") and child.text:
                files.append(os.path.join(path, child.text))
        voice = None
        for v, words in [("kick", ["kick", "bass", "bd"]), ("snare", ["snare", "sd"]), ("open", ["open"]),
                         ("hat", ["hat", "hh"]), ("tom", ["tom"]), ("ride", ["ride"]), ("crash", ["crash", "cymbal"])]:
            if any(w in name for w in words):
                voice = v
                break
        files = [f for f in files if os.path.exists(f)]
        if voice and files:
            kit.setdefault(voice, []).extend(files)
    return kit


def render_hydrogen_drums(rng, kit_path, seconds):
    kit = hydrogen_kit(kit_path)
    samples = {}
    for voice, files in kit.items():
        x = audio.decode(files[int(rng.integers(len(files)))])
        if len(x):
            samples[voice] = x / (np.max(np.abs(x)) + 1e-9)
    out = np.zeros(int(seconds * RATE) + RATE, dtype=np.float32)
    for when, voice, velocity in drum_pattern(rng, seconds):
        if voice not in samples and voice == "open":
            voice = "hat"
        if voice not in samples:
            continue
        x = samples[voice][: RATE]
        i = int(when * RATE)
        out[i : i + len(x)] += x[: len(out) - i] * (velocity / 127.0) ** 1.5
    return out[: int(seconds * RATE)]


def render_sf_drums(rng, soundfont, seconds):
    events = audio.channel_setup(0, 0)
    for when, voice, velocity in drum_pattern(rng, seconds):
        events += note(0, when, 0.1, DRUM_NOTES[voice], velocity)
    return audio.render_midi(soundfont, events, seconds)


def sample_stem(rng, files, seconds):
    """A stem made of sample files (loops and one-shots) placed one after another."""
    out = np.zeros(int(seconds * RATE), dtype=np.float32)
    i = 0
    while i < len(out) and files:
        x = audio.decode(files[int(rng.integers(len(files)))])
        if len(x) == 0 or np.max(np.abs(x)) < 1e-4:
            continue
        x = x[: 6 * RATE] / np.max(np.abs(x)) * rng.uniform(0.3, 1.0)
        repeats = 1 if len(x) > RATE else int(rng.integers(1, 6))
        for _ in range(repeats):
            n = min(len(x), len(out) - i)
            out[i : i + n] += x[:n]
            i += n + int(rng.uniform(0.0, 0.5) * RATE * (len(x) < RATE))
            if i >= len(out):
                break
    return out


def render_stems(split, counts, seconds, seed, cache):
    """Rendered singing and bleed stems of a split (cached)."""
    path = os.path.join(cache, "stems_%s.npz" % split)
    if os.path.exists(path):
        d = np.load(path, allow_pickle=True)
        return list(d["singing"]), list(d["bleed"])
    rng = rng_for(seed, "stems", split)
    soundfonts = EVAL_SOUNDFONTS if split == "eval" else TRAIN_SOUNDFONTS
    singing = []
    for i in range(counts["singing"]):
        sf = soundfonts[i % len(soundfonts)]
        events = audio.channel_setup(0, SINGING_PROGRAMS[i % len(SINGING_PROGRAMS)]) + singing_events(rng, seconds)
        x = audio.render_midi(sf, events, seconds)
        if np.max(np.abs(x)) > 1e-4:
            singing.append(x)
    bleed = []
    kinds = sorted(BLEED_PROGRAMS)
    for i in range(counts["melodic"]):
        kind = kinds[i % len(kinds)]
        program = int(rng.choice(BLEED_PROGRAMS[kind]))
        x = audio.render_midi(soundfonts[i % len(soundfonts)], melodic_events(rng, kind, program, seconds), seconds)
        if np.max(np.abs(x)) > 1e-4:
            bleed.append(("%s:%d" % (kind, program), x))
    for i in range(counts["drums"]):
        if split == "eval":
            x = render_sf_drums(rng, EVAL_DRUM_SOUNDFONT, seconds)
            bleed.append(("drums:red-zeppelin", x))
        elif i % 2 == 0:
            bleed.append(("drums:black-pearl", render_sf_drums(rng, TRAIN_DRUM_SOUNDFONT, seconds)))
        else:
            kit = TRAIN_HYDROGEN_KITS[(i // 2) % len(TRAIN_HYDROGEN_KITS)]
            bleed.append(("drums:" + kit, render_hydrogen_drums(rng, HYDROGEN + kit, seconds)))
    if split == "eval":
        sonic = sorted(glob.glob("/usr/share/sonic-pi/samples/*.flac"))
        lmms = sorted(glob.glob("/usr/share/lmms/samples/**/*.ogg", recursive=True)
                      + glob.glob("/usr/share/lmms/samples/**/*.wav", recursive=True)
                + glob.glob("/usr/share/lmms/samples/**/*.flac", recursive=True))
        for i in range(counts["samples"]):
            files = sonic if i % 2 == 0 else lmms
            bleed.append(("samples:" + ("sonic-pi" if i % 2 == 0 else "lmms"), sample_stem(rng, files, seconds)))
    bleed = [(name, x) for name, x in bleed if np.max(np.abs(x)) > 1e-4]
    print("  stems %s: %d singing, %d bleed" % (split, len(singing), len(bleed)), flush=True)
    np.savez(path, singing=np.array(singing, dtype=object), bleed=np.array(bleed, dtype=object))
    return render_stems(split, counts, seconds, seed, cache)


# ---- real recordings and sung phrases ----------------------------------------------------------

FRETSONFIRE = "/usr/share/games/fretsonfire/data/songs/"
ZEROAD_PACKAGE = "0ad-data"
ZEROAD_ZIP = "usr/share/games/0ad/mods/public/public.zip"


def fetch_0ad_music(cache):
    """The game's music folder (live orchestral and world instruments, no voice; CC-BY-SA-3.0,
    Wildfire Games) taken out of its data package without installing it: the package is
    downloaded with apt-get, only audio/music/*.ogg and audio/LICENSE.txt are kept (about 210 MB
    of 3.2 GB), and the package is deleted."""
    out = os.path.join(cache, "0ad")
    music = os.path.join(out, "audio", "music")
    if os.path.isdir(music) and glob.glob(os.path.join(music, "*.ogg")):
        return sorted(glob.glob(os.path.join(music, "*.ogg")))
    import shutil
    import tempfile
    import zipfile

    work = tempfile.mkdtemp(dir=cache)
    try:
        print("downloading %s for its music" % ZEROAD_PACKAGE, flush=True)
        subprocess.run(["apt-get", "download", ZEROAD_PACKAGE], cwd=work, check=True)
        deb = glob.glob(os.path.join(work, "*.deb"))[0]
        tar = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", deb], stdout=subprocess.PIPE)
        subprocess.run(["tar", "-x", "-C", work, "./" + ZEROAD_ZIP], stdin=tar.stdout, check=True)
        if tar.wait() != 0:
            raise RuntimeError("dpkg-deb failed on " + deb)
        os.remove(deb)
        with zipfile.ZipFile(os.path.join(work, ZEROAD_ZIP)) as z:
            for name in z.namelist():
                if (name.startswith("audio/music/") and name.endswith(".ogg")) or name == "audio/LICENSE.txt":
                    z.extract(name, work + "/extracted")
        os.makedirs(out, exist_ok=True)
        os.replace(os.path.join(work, "extracted", "audio"), os.path.join(out, "audio"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return sorted(glob.glob(os.path.join(music, "*.ogg")))


def real_recording_files(split, cache):
    """(name, path) of the real instrument recordings a training or validation split draws bleed
    from: the lead-guitar stems of Muldjord's songs (their full mixes carry a voice and are left
    out), Sectoid's instrumental songs and guitar stems, and the 0ad music. One file in six (by a
    hash of its path) belongs to validation."""
    files = [("muldjord-guitar", p) for p in glob.glob(FRETSONFIRE + "muldjord/*/guitar.ogg")]
    files += [("sectoid-" + os.path.basename(p)[:-4], p) for p in glob.glob(FRETSONFIRE + "sectoid/*/*.ogg")]
    files += [("0ad", p) for p in fetch_0ad_music(cache)]
    held_out = [f for f in files if stable_hash(os.path.relpath(f[1], cache) if f[1].startswith(cache) else f[1]) % 6 == 0]
    kept = [f for f in files if f not in held_out]
    return sorted(held_out if split == "valid" else kept)


def load_real_stems(split, seconds, seed, cache):
    """(name, excerpt) of the real recordings: from every file one excerpt of up to `seconds`
    seconds at a seeded place, in float16 (cached)."""
    path = os.path.join(cache, "real_%s.npz" % split)
    if os.path.exists(path):
        d = np.load(path, allow_pickle=True)
        return [(name, x.astype(np.float32)) for name, x in d["stems"]]
    stems = []
    for name, p in real_recording_files(split, cache):
        rng = rng_for(seed, "real", os.path.basename(os.path.dirname(p)), os.path.basename(p))
        x = audio.decode(p)
        n = int(seconds * RATE)
        if len(x) > n:
            start = int(rng.integers(0, len(x) - n))
            x = x[start : start + n]
        if len(x) > RATE and np.max(np.abs(x)) > 1e-3:
            stems.append(("real:" + name, (x / np.max(np.abs(x))).astype(np.float16)))
    print("  real recordings %s: %d files, %.1f min" % (split, len(stems), sum(len(x) for _, x in stems) / RATE / 60), flush=True)
    np.savez(path, stems=np.array(stems, dtype=object))
    return load_real_stems(split, seconds, seed, cache)


def sung_pool(split, voices, count, seed, cache):
    """`count` sung phrases made from the split's own speech clips by singing.py (held vowels on
    a melody with vibrato and swell, consonants kept), a quarter of them from the band-limited
    clips as in the spoken examples (cached)."""
    import singing

    path = os.path.join(cache, "sung_%s_%d.npz" % (split, count))
    if os.path.exists(path):
        return list(np.load(path, allow_pickle=True)["phrases"])
    full, limited = voices[0], voices[1]
    rng = rng_for(seed, "sung", split)
    phrases = []
    while len(phrases) < count:
        pool = limited if (limited and rng.random() < 0.25) or not full else full
        clip = pool[int(rng.integers(len(pool)))]
        y, notes = singing.sing_phrase(clip, RATE, rng)
        if notes and np.max(np.abs(y)) > 1e-3:
            phrases.append((y / np.max(np.abs(y))).astype(np.float32))
    print("  sung phrases %s: %d, %.1f min" % (split, len(phrases), sum(len(x) for x in phrases) / RATE / 60), flush=True)
    np.savez(path, phrases=np.array(phrases, dtype=object))
    return sung_pool(split, voices, count, seed, cache)


# ---- mixing ------------------------------------------------------------------------------------

def excerpt(rng, x, n):
    if len(x) <= n:
        return np.pad(x, (0, n - len(x)))
    start = int(rng.integers(0, len(x) - n))
    return x[start : start + n]


def clip_sequence(rng, clips, n, gains, gaps):
    """Clips one after another from a random start within 0.6 s, each at a level drawn from `gains`
    (linear) and followed by a pause drawn from `gaps` (seconds)."""
    out = np.zeros(n, dtype=np.float32)
    i = int(rng.uniform(0.0, 0.6) * RATE)
    while i < n:
        clip = clips[int(rng.integers(len(clips)))] * rng.uniform(*gains)
        m = min(len(clip), n - i)
        out[i : i + m] += clip[:m]
        i += m + int(rng.uniform(*gaps) * RATE)
    return out


def sung_track(rng, phrases, n):
    """Sung phrases one after another with breaths between them, each soft or loud."""
    return clip_sequence(rng, phrases, n, (0.25, 1.0), (0.15, 0.9))


def vocal_track(rng, full, limited, singing, n, sung=None, options=None):
    """Dry vocal: a singing excerpt or spoken clips with pauses. Band-limited clips are drawn for
    a quarter of the spoken examples only. With sung phrases and `sung_share` in the options, that
    share of the vocals are sung phrases and `soundfont_share` soundfont singing."""
    if sung and options and options.get("sung_share", 0.0) > 0.0:
        u = rng.random()
        if u < options["sung_share"]:
            return sung_track(rng, sung, n), "sung-from-speech"
        if singing and u < options["sung_share"] + options.get("soundfont_share", 0.0):
            x = excerpt(rng, singing[int(rng.integers(len(singing)))], n)
            return x / (np.max(np.abs(x)) + 1e-9), "singing"
    elif singing and rng.random() < 0.4:
        x = excerpt(rng, singing[int(rng.integers(len(singing)))], n)
        return x / (np.max(np.abs(x)) + 1e-9), "singing"
    pool, kind = (limited, "speech-band-limited") if (limited and rng.random() < 0.25) or not full else (full, "speech")
    return clip_sequence(rng, pool, n, (0.5, 1.0), (0.1, 0.9)), kind


def active_mask(x):
    """The vocal-active 20 ms frames of x (the evaluation's rule, see runtime_constants.py)."""
    e = audio.frame_energies(x, VOCAL_ACTIVE_FRAME)
    return e > np.max(e) * VOCAL_ACTIVE_RATIO if len(e) and np.max(e) > 0 else np.zeros(len(e), bool)


def convolve(x, h):
    return signal.oaconvolve(x, h)[: len(x)].astype(np.float32)


def proximity_shelf(distance):
    """The bass lift of a directional microphone close to the mouth: about +6 dB per halving of
    the distance below 30 cm, at most +12 dB, as a low shelf at 150 Hz."""
    return audio.biquad("lowshelf", 150.0, float(np.clip(6.0 * np.log2(0.3 / distance), 0.0, 12.0)))


def off_axis_colour(rng):
    """A directional microphone hears the band off its axis: the highs fall off more than the
    lows (a high shelf of 0 to -9 dB from 2 to 6 kHz and a gentle low-mid dip)."""
    return np.concatenate([audio.biquad("highshelf", rng.uniform(2000.0, 6000.0), rng.uniform(-9.0, 0.0)),
                           audio.biquad("peak", rng.uniform(300.0, 900.0), rng.uniform(-4.0, 0.0), 0.8)])


def pick_bleed(rng, bleed_stems, real, options):
    """A bleed stem: a real recording for `real_share` of the picks when there are any."""
    if real and rng.random() < options.get("real_share", 0.0):
        return real[int(rng.integers(len(real)))]
    return bleed_stems[int(rng.integers(len(bleed_stems)))]


def mix_example(rng, voices, stems, n, sung=None, real=None, options=None):
    """One example: microphone signal and vocal target (float32), and what went into it. The
    options (all off by default, which gives the first round's data unchanged) add sung phrases,
    real recordings as bleed, the proximity effect on the vocal and off-axis colour on the band."""
    options = options or {}
    full, limited = voices
    singing, bleed_stems = stems
    meta = {}
    u = rng.random()
    kind = "bleed-only" if u < 0.15 else "vocal-only" if u < 0.225 else "mixed"
    meta["kind"] = kind
    rt60 = rng.uniform(0.2, 1.2)
    critical = rng.uniform(0.6, 2.0)
    meta["rt60"] = round(rt60, 3)

    vocal = np.zeros(n, dtype=np.float32)
    if kind != "bleed-only":
        dry, meta["vocal"] = vocal_track(rng, full, limited, singing, n, sung, options)
        distance = rng.uniform(0.05, 0.3)
        near = audio.room_impulse_response(rng, distance, rng.uniform(0.2, 0.6), critical)
        vocal = convolve(dry, near * distance)
        if options.get("proximity"):
            vocal = signal.sosfilt(proximity_shelf(distance), vocal).astype(np.float32)
        if rng.random() < 0.3:  # the vocal coming back from the monitors belongs to the vocal
            monitor = audio.room_impulse_response(rng, rng.uniform(1.0, 3.0), rt60, critical)
            delay = int(rng.uniform(0.002, 0.008) * RATE)
            copy = convolve(np.pad(dry, (delay, 0))[:n], monitor)
            copy *= np.sqrt(np.sum(vocal**2) / (np.sum(copy**2) + 1e-12)) * 10.0 ** (rng.uniform(-25.0, -12.0) / 20.0)
            vocal = vocal + copy
            meta["monitor"] = True

    bleed = np.zeros(n, dtype=np.float32)
    if kind != "vocal-only":
        sources = []
        for _ in range(int(rng.integers(1, 5))):
            name, stem = pick_bleed(rng, bleed_stems, real, options)
            x = excerpt(rng, stem, n)
            if options.get("off_axis"):
                x = signal.sosfilt(off_axis_colour(rng), x).astype(np.float32)
            distance = rng.uniform(1.0, 8.0)
            h = audio.room_impulse_response(rng, distance, rt60, critical)
            y = convolve(x / (np.sqrt(np.mean(x**2)) + 1e-9), h) * 10.0 ** (rng.uniform(-6.0, 6.0) / 20.0)
            bleed += y
            sources.append("%s@%.1fm" % (name, distance))
        meta["bleed"] = sources

    eq = audio.random_mic_eq(rng)
    vocal = signal.sosfilt(eq, vocal).astype(np.float32)
    bleed = signal.sosfilt(eq, bleed).astype(np.float32)

    if kind == "mixed":
        mask = np.repeat(active_mask(vocal), VOCAL_ACTIVE_FRAME)
        mask = np.pad(mask, (0, n - len(mask)))
        vbr = rng.uniform(-10.0, 10.0)
        pv = np.mean(vocal[mask] ** 2)
        pb = np.mean(bleed[mask] ** 2) + 1e-12
        bleed *= np.sqrt(pv / pb) * 10.0 ** (-vbr / 20.0)
        meta["vbr_db"] = round(vbr, 2)

    mic = vocal + bleed
    peak = np.max(np.abs(mic)) + 1e-9
    gain = 10.0 ** (rng.uniform(-24.0, -3.0) / 20.0) / peak
    vocal *= gain
    noise = signal.lfilter([1.0], [1.0, -rng.uniform(0.0, 0.95)], rng.standard_normal(n))
    noise *= 10.0 ** (rng.uniform(-85.0, -65.0) / 20.0) / (np.sqrt(np.mean(noise**2)) + 1e-12)
    mic = mic * gain + noise.astype(np.float32)
    return mic.astype(np.float32), vocal.astype(np.float32), meta


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default="/work/train-data")
    parser.add_argument("--recipe", default=os.path.join(HERE, "recipe.json"))
    parser.add_argument("--small", action="store_true", help="a few examples per split, for testing")
    parser.add_argument("--no-install", action="store_true")
    parser.add_argument("--splits", help="comma-separated splits to make (default: every split of the recipe)")
    parser.add_argument("--jobs", type=int, default=1, help="processes that mix examples (same data for any count)")
    args = parser.parse_args()
    with open(args.recipe) as f:
        recipe = json.load(f)["data"]
    if args.small:
        recipe = json.loads(json.dumps(recipe))
        for split in recipe["splits"].values():
            split["examples"] = min(split["examples"], 6)
            split["voices_per_group"] = min(split["voices_per_group"], 6)
            for k in split["stems"]:
                split["stems"][k] = min(split["stems"][k], 2)
    if not args.no_install:
        install_packages(PACKAGES_TOOLS + PACKAGES_TRAIN + PACKAGES_EVAL)
    args.splits = args.splits or ",".join(recipe["splits"])
    seed = recipe["seed"]
    seconds = recipe["example_seconds"]
    n = int(seconds * RATE) // NETWORK_HOP * NETWORK_HOP
    cache = os.path.join(args.out, "cache" + ("-small" if args.small else ""))
    os.makedirs(cache, exist_ok=True)
    for split in args.splits.split(","):
        cfg = recipe["splits"][split]
        split_seed = cfg.get("seed", seed)
        source = sources_of(split, cfg)
        options = cfg.get("options", {})
        voices = load_voices(source, cfg["voices_per_group"], split_seed, cache)
        stems = render_stems(source, cfg["stems"], recipe["stem_seconds"], split_seed, cache)
        sung = sung_pool(source, voices, options["sung_phrases"], split_seed, cache) if options.get("sung_phrases") else None
        real = load_real_stems(source, options["real_seconds"], split_seed, cache) if options.get("real_seconds") else None
        out_dir = os.path.join(args.out, split + ("-small" if args.small else ""))
        os.makedirs(out_dir, exist_ok=True)
        dtype = np.float16 if split == "train" else np.float32
        partial = os.path.join(out_dir, "mix.npy.partial")
        np.lib.format.open_memmap(partial, mode="w+", dtype=dtype, shape=(cfg["examples"], 2, n)).flush()

        def make(worker):
            """Writes examples worker, worker + jobs, ... into the shared file; returns their metas."""
            mix = np.load(partial, mmap_mode="r+")
            metas = {}
            for i in range(worker, cfg["examples"], args.jobs):
                rng = rng_for(split_seed, "example", split, i)
                mic, vocal, meta = mix_example(rng, voices[:2], stems, n, sung, real, options)
                mix[i, 0] = mic
                mix[i, 1] = vocal
                metas[i] = meta
                if (i + 1) % 200 == 0:
                    print("  %s: example %d" % (split, i + 1), flush=True)
            mix.flush()
            return metas

        if args.jobs > 1:
            import multiprocessing

            def run(worker):
                with open(os.path.join(out_dir, "meta.part%d.json" % worker), "w") as f:
                    json.dump(make(worker), f)

            context = multiprocessing.get_context("fork")  # the workers share the decoded sources
            workers = [context.Process(target=run, args=(k,)) for k in range(args.jobs)]
            for w in workers:
                w.start()
            for w in workers:
                w.join()
            if any(w.exitcode != 0 for w in workers):
                sys.exit("a mixing worker failed")
            parts = []
            for k in range(args.jobs):
                part_path = os.path.join(out_dir, "meta.part%d.json" % k)
                with open(part_path) as f:
                    parts.append({int(i): m for i, m in json.load(f).items()})
                os.remove(part_path)
        else:
            parts = [make(0)]
        metas = [m for part in parts for m in part.items()]
        metas = [meta for _, meta in sorted(metas, key=lambda item: item[0])]
        os.replace(partial, os.path.join(out_dir, "mix.npy"))
        with open(os.path.join(out_dir, "meta.json"), "w") as f:
            json.dump({"rate": RATE, "samples": n, "voices": voices[2], "examples": metas}, f, indent=1)
    manifest = os.path.join(args.out, "manifest" + ("-small" if args.small else "") + ".sha256")
    with open(manifest, "w") as f:
        for split in sorted(recipe["splits"]):
            d = os.path.join(args.out, split + ("-small" if args.small else ""))
            for name in ("mix.npy", "meta.json"):
                p = os.path.join(d, name)
                if os.path.exists(p):
                    f.write("%s  %s\n" % (sha256(p), os.path.relpath(p, args.out)))
    print("wrote", manifest)


if __name__ == "__main__":
    main()
