"""Audio helpers of the training pipeline: decoding with ffmpeg, rendering MIDI with fluidsynth,
a minimal standard MIDI file writer, a soundfont preset lister, synthetic room impulse responses
and simple filters. Everything at RATE Hz, mono float32."""
import os
import struct
import subprocess
import tempfile
import warnings

import numpy as np
from scipy import signal
from scipy.io import wavfile

from runtime_constants import SAMPLE_RATE_HZ, VOCAL_ACTIVE_FRAME_SECONDS

RATE = SAMPLE_RATE_HZ
VOCAL_ACTIVE_FRAME = int(round(VOCAL_ACTIVE_FRAME_SECONDS * RATE))  # 960 samples, 20 ms


def decode(path, raw_format=None):
    """Any file ffmpeg reads (raw G.722 with raw_format="g722") as mono float32 at RATE."""
    cmd = ["ffmpeg", "-nostdin", "-v", "error"]
    if raw_format:
        cmd += ["-f", raw_format]
    cmd += ["-i", path, "-ac", "1", "-ar", str(RATE), "-f", "f32le", "-"]
    out = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False).stdout
    return np.frombuffer(out, dtype="<f4").astype(np.float32)


# ---- MIDI --------------------------------------------------------------------------------------

TICKS = 480  # per quarter note; tempo fixed at 120 bpm, so one tick is 1/960 s
TICKS_PER_SECOND = 960


def _varlen(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.append(0x80 | (v & 0x7F))
        v >>= 7
    return bytes(reversed(out))


def write_midi(path, events):
    """events: (seconds, bytes) pairs of channel messages; written as a format-0 file."""
    events = sorted(events, key=lambda e: (e[0], e[1][0] & 0xF0 == 0x90))
    track = bytearray(b"\x00\xff\x51\x03\x07\xa1\x20")  # 500000 us per quarter
    last = 0
    for seconds, message in events:
        tick = max(0, int(round(seconds * TICKS_PER_SECOND)))
        track += _varlen(tick - last) + bytes(message)
        last = tick
    track += b"\x00\xff\x2f\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS))
        f.write(b"MTrk" + struct.pack(">I", len(track)) + track)


def channel_setup(channel, program, bank=0, volume=110):
    return [
        (0.0, bytes([0xB0 | channel, 0, bank])),
        (0.0, bytes([0xB0 | channel, 32, 0])),
        (0.0, bytes([0xC0 | channel, program])),
        (0.0, bytes([0xB0 | channel, 7, volume])),
        (0.0, bytes([0xB0 | channel, 91, 0])),  # no reverb send
        (0.0, bytes([0xB0 | channel, 93, 0])),  # no chorus send
    ]


def note(channel, start, length, key, velocity):
    return [
        (start, bytes([0x90 | channel, key, velocity])),
        (start + length, bytes([0x80 | channel, key, 0])),
    ]


def pitch_bend(channel, t, value):
    v = int(np.clip(8192 + value, 0, 16383))
    return (t, bytes([0xE0 | channel, v & 0x7F, v >> 7]))


def render_midi(soundfont, events, seconds, gain=0.5):
    """Renders events with fluidsynth (reverb and chorus off) and returns `seconds` of audio."""
    with tempfile.TemporaryDirectory() as tmp:
        mid = os.path.join(tmp, "part.mid")
        wav = os.path.join(tmp, "part.wav")
        write_midi(mid, events)
        cmd = [
            "fluidsynth", "-n", "-i", "-q", "-R", "0", "-C", "0", "-g", str(gain), "-r", str(RATE),
            "-o", "synth.polyphony=128", "-T", "wav", "-O", "float", "-F", wav, soundfont, mid,
        ]
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        if not os.path.exists(wav):
            return np.zeros(int(seconds * RATE), dtype=np.float32)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # fluidsynth writes a LIST chunk scipy does not parse
            _, x = wavfile.read(wav)
    x = np.asarray(x, dtype=np.float32)
    if x.ndim == 2:
        x = x.mean(axis=1)
    out = np.zeros(int(seconds * RATE), dtype=np.float32)
    n = min(len(out), len(x))
    out[:n] = x[:n]
    return out


def soundfont_presets(path):
    """(bank, program, name) of every preset of a SoundFont 2 / 3 file."""
    with open(path, "rb") as f:
        data = f.read()
    i = data.find(b"phdr")
    if i < 0:
        return []
    size = struct.unpack("<I", data[i + 4 : i + 8])[0]
    presets = []
    for r in range(size // 38 - 1):  # the last record is the terminal one
        rec = data[i + 8 + 38 * r : i + 8 + 38 * (r + 1)]
        name = rec[:20].split(b"\x00")[0].decode("latin-1")
        program, bank = struct.unpack("<HH", rec[20:24])
        presets.append((bank, program, name))
    return presets


# ---- rooms and filters -------------------------------------------------------------------------

OCTAVES = [125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0]


def room_impulse_response(rng, distance, rt60, critical_distance):
    """Seeded synthetic impulse response of a source `distance` metres from the microphone: the
    direct sound delayed by distance / 343 m/s with amplitude 1 / distance, early reflections, and
    a band-wise exponentially decaying noise tail (RT60 per octave band around `rt60`, shorter in
    the highest bands) whose energy sets the direct-to-reverberant ratio to about
    (critical_distance / distance)^2."""
    delay = int(round(distance / 343.0 * RATE))
    length = delay + int(min(1.5 * rt60, 1.5) * RATE) + 1
    h = np.zeros(length, dtype=np.float64)
    h[delay] = 1.0 / distance
    for _ in range(rng.integers(5, 13)):
        extra = rng.uniform(1.0, 25.0) * 1e-3 * (1.0 + distance / 4.0)
        path = distance + extra * 343.0
        d = delay + int(round(extra * RATE))
        if d < length:
            h[d] += rng.choice([-1.0, 1.0]) * rng.uniform(0.3, 0.8) / path
    start = delay + int(rng.uniform(5e-3, 20e-3) * RATE)
    n = length - start
    if n > 16:
        t = np.arange(n) / RATE
        noise = rng.standard_normal(n)
        tail = np.zeros(n)
        for i, centre in enumerate(OCTAVES):
            factor = [1.25, 1.15, 1.0, 1.0, 0.9, 0.75, 0.55][i] * rng.uniform(0.85, 1.15)
            low, high = centre / np.sqrt(2.0), min(centre * np.sqrt(2.0), 0.45 * RATE)
            if i == 0:
                sos = signal.butter(2, high, "lowpass", fs=RATE, output="sos")
            elif i == len(OCTAVES) - 1:
                sos = signal.butter(2, low, "highpass", fs=RATE, output="sos")
            else:
                sos = signal.butter(2, [low, high], "bandpass", fs=RATE, output="sos")
            band = signal.sosfilt(sos, noise)
            tail += band * np.exp(-6.9078 * t / (rt60 * factor))
        onset = np.minimum(1.0, t / 0.01)  # the tail builds up over 10 ms
        tail *= onset
        energy = np.sum(tail**2)
        if energy > 0:
            tail *= np.sqrt((1.0 / critical_distance) ** 2 / energy)
        h[start:] += tail
    return h.astype(np.float32)


def biquad(kind, frequency, gain_db=0.0, q=0.707):
    """RBJ cookbook biquad as an sos row."""
    a = 10.0 ** (gain_db / 40.0)
    w0 = 2.0 * np.pi * frequency / RATE
    cw, sw = np.cos(w0), np.sin(w0)
    alpha = sw / (2.0 * q)
    if kind == "peak":
        b = [1 + alpha * a, -2 * cw, 1 - alpha * a]
        d = [1 + alpha / a, -2 * cw, 1 - alpha / a]
    elif kind == "lowshelf":
        s = 2 * np.sqrt(a) * alpha
        b = [a * ((a + 1) - (a - 1) * cw + s), 2 * a * ((a - 1) - (a + 1) * cw), a * ((a + 1) - (a - 1) * cw - s)]
        d = [(a + 1) + (a - 1) * cw + s, -2 * ((a - 1) + (a + 1) * cw), (a + 1) + (a - 1) * cw - s]
    elif kind == "highshelf":
        s = 2 * np.sqrt(a) * alpha
        b = [a * ((a + 1) + (a - 1) * cw + s), -2 * a * ((a - 1) + (a + 1) * cw), a * ((a + 1) + (a - 1) * cw - s)]
        d = [(a + 1) - (a - 1) * cw + s, 2 * ((a - 1) - (a + 1) * cw), (a + 1) - (a - 1) * cw - s]
    elif kind == "highpass":
        b = [(1 + cw) / 2, -(1 + cw), (1 + cw) / 2]
        d = [1 + alpha, -2 * cw, 1 - alpha]
    else:
        raise ValueError(kind)
    return np.array([[b[0] / d[0], b[1] / d[0], b[2] / d[0], 1.0, d[1] / d[0], d[2] / d[0]]])


def random_mic_eq(rng):
    rows = [biquad("highpass", rng.uniform(40.0, 140.0))]
    rows.append(biquad("lowshelf", rng.uniform(150.0, 300.0), rng.uniform(-4.0, 4.0)))
    rows.append(biquad("peak", rng.uniform(2500.0, 6500.0), rng.uniform(-2.0, 5.0), rng.uniform(0.7, 1.5)))
    rows.append(biquad("highshelf", rng.uniform(7000.0, 11000.0), rng.uniform(-5.0, 3.0)))
    return np.concatenate(rows)


def frame_energies(x, frame=VOCAL_ACTIVE_FRAME):
    n = len(x) // frame
    return np.mean(x[: n * frame].reshape(n, frame).astype(np.float64) ** 2, axis=1)


def high_band_ratio_db(x):
    """Energy above 8 kHz relative to the whole, in dB (a band-limited recording is far below)."""
    if len(x) < 2048:
        return -200.0
    f, p = signal.welch(x, fs=RATE, nperseg=2048)
    total = np.sum(p) + 1e-30
    return 10.0 * np.log10(np.sum(p[f >= 8000.0]) / total + 1e-30)


def is_clipped(x):
    """A recording that was clipped before lossy coding: the decoder overshoots full scale (peak
    above 1.02), or more than 1 % of the samples lie within 10 % of a near-full-scale peak."""
    peak = float(np.max(np.abs(x))) if len(x) else 0.0
    if peak > 1.02:
        return True
    return peak >= 0.95 and float(np.mean(np.abs(x) >= 0.9 * peak)) > 0.01
