#!/usr/bin/python3
"""Sung phrases from real speech, for the bleed models' vocal material: the voiced stretches of an
utterance are held as sung vowels and moved onto a melody with vibrato and a phrase swell by
time-domain pitch-synchronous overlap-add (TD-PSOLA, Moulines and Charpentier 1990); the unvoiced
parts (consonants, breaths) keep their own timing and sound.

    from singing import sing_phrase
    y, notes = sing_phrase(x, rate, rng)      # x: mono float speech at `rate`

Steps:
1. Pitch track every 5 ms by the normalised difference function of YIN (de Cheveigne and Kawahara
   2002) between 70 and 600 Hz, with parabolic refinement; a frame is voiced when its minimum is
   below 0.25 and its level within 35 dB of the loudest frame.
2. Analysis marks one period apart through each voiced run, each moved to the largest absolute
   sample within a quarter period, so grains are centred on the glottal pulses.
3. A melody: one note per voiced run (lasting its own length times a stretch of 1.5 to 4), notes a
   scale step or two apart within a singable range around the speaker's own median pitch, a
   vibrato of 5 to 6.5 Hz and 20 to 60 cents that sets in after 0.25 s, and a swell of the level
   over each note.
4. Synthesis marks at the target period; each takes the two-period Hann grain of the analysis mark
   nearest its place on the stretched time axis. Unvoiced stretches are copied, cross-faded over
   5 ms at the joins.
"""
import numpy as np

FRAME_HOP_SECONDS = 0.005
MIN_F0_HZ = 70.0
MAX_F0_HZ = 600.0
VOICED_THRESHOLD = 0.25
MAJOR_SCALE = np.array([0, 2, 4, 5, 7, 9, 11])


def pitch_track(x, rate):
    """f0 per 5 ms frame (0 where unvoiced) and the frame hop in samples."""
    hop = int(round(FRAME_HOP_SECONDS * rate))
    max_lag = int(rate / MIN_F0_HZ)
    min_lag = max(2, int(rate / MAX_F0_HZ))
    window = 2 * max_lag
    frames = max(0, (len(x) - window - max_lag) // hop)
    f0 = np.zeros(frames)
    level = np.zeros(frames)
    lags = np.arange(1, max_lag + 1)
    for i in range(frames):
        start = i * hop
        seg = x[start:start + window + max_lag]
        ref = seg[:window]
        level[i] = np.mean(ref * ref)
        # Difference function d(tau) = sum (x_j - x_{j+tau})^2 over the window, then its
        # cumulative-mean normalisation.
        energy0 = np.sum(ref * ref)
        cum = np.cumsum(seg * seg)
        shifted_energy = cum[lags + window - 1] - cum[lags - 1]
        corr = np.correlate(seg, ref, mode="valid")[1:max_lag + 1]
        d = energy0 + shifted_energy - 2.0 * corr
        cmnd = d * lags / np.maximum(np.cumsum(d), 1e-20)
        search = cmnd[min_lag - 1:]
        below = np.nonzero(search < VOICED_THRESHOLD)[0]
        if below.size == 0:
            continue
        k = below[0]
        while k + 1 < search.size and search[k + 1] < search[k]:
            k += 1  # down to the local minimum
        tau = float(k + min_lag)
        if 0 < k < search.size - 1:
            a, b, c = search[k - 1], search[k], search[k + 1]
            curvature = a - 2.0 * b + c
            if curvature > 0.0:
                tau += 0.5 * (a - c) / curvature
        f0[i] = rate / tau
    loud = level > np.max(level, initial=0.0) * 10.0 ** (-35.0 / 10.0)
    f0[~loud] = 0.0
    return f0, hop


def voiced_runs(f0, hop, min_seconds, rate):
    """(start, end) sample ranges of voiced runs at least min_seconds long."""
    runs = []
    i = 0
    while i < len(f0):
        if f0[i] <= 0.0:
            i += 1
            continue
        j = i
        while j < len(f0) and f0[j] > 0.0:
            j += 1
        if (j - i) * hop >= min_seconds * rate:
            runs.append((i * hop, j * hop))
        i = j
    return runs


def analysis_marks(x, f0, hop, start, end, rate):
    """Pitch marks through [start, end): one period apart, each on the largest absolute sample
    within a quarter period. Returns (marks, periods) in samples."""
    marks, periods = [], []
    t = float(start)
    while t < end:
        frame = min(len(f0) - 1, int(t // hop))
        f = f0[frame] if f0[frame] > 0.0 else np.median(f0[start // hop:max(start // hop + 1, end // hop)])
        period = rate / f
        lo = max(0, int(t - period / 4))
        hi = min(len(x), int(t + period / 4) + 1)
        peak = lo + int(np.argmax(np.abs(x[lo:hi])))
        if marks and peak <= marks[-1] + period / 2:
            peak = int(round(marks[-1] + period))
        if peak >= end:
            break
        marks.append(peak)
        periods.append(period)
        t = peak + period
    return np.array(marks, dtype=np.int64), np.array(periods)


def make_melody(runs, speaker_hz, rate, rng):
    """One note per voiced run: (length in samples, frequency in Hz)."""
    # Tonic a few semitones around the speaker's own pitch, kept singable (about 90-700 Hz).
    tonic_midi = 69.0 + 12.0 * np.log2(max(speaker_hz, 60.0) / 440.0) + rng.integers(-3, 6)
    degree = int(rng.integers(0, 5))
    notes = []
    for start, end in runs:
        length = int((end - start) * rng.uniform(1.5, 4.0))
        degree = int(np.clip(degree + rng.choice([-2, -1, -1, 0, 1, 1, 2]), 0, 9))
        semitone = 12 * (degree // 7) + MAJOR_SCALE[degree % 7]
        hz = 440.0 * 2.0 ** ((tonic_midi + semitone - 69.0) / 12.0)
        notes.append((length, float(np.clip(hz, 90.0, 700.0))))
    return notes


def note_pitch(length, hz, rate, rng):
    """Instantaneous frequency over a note: a short scoop into the pitch, then vibrato."""
    t = np.arange(length) / rate
    rate_hz = rng.uniform(5.0, 6.5)
    depth_cents = rng.uniform(20.0, 60.0)
    onset = np.clip((t - 0.25) / 0.3, 0.0, 1.0)  # vibrato sets in after 0.25 s
    scoop = -rng.uniform(0.0, 80.0) * np.exp(-t / 0.06)  # cents, from below
    cents = scoop + depth_cents * onset * np.sin(2.0 * np.pi * rate_hz * t + rng.uniform(0, 2 * np.pi))
    return hz * 2.0 ** (cents / 1200.0)


def psola_note(x, marks, periods, length, pitch, rate):
    """`length` samples at the instantaneous frequency `pitch` (per output sample) from the
    analysis marks of one voiced run, stretched evenly over the note."""
    pad = int(np.ceil(np.max(periods, initial=1.0))) + 1  # room for half a grain at either end
    y = np.zeros(length + 2 * pad)
    if len(marks) == 0:
        return y[pad:pad + length]
    span = marks[-1] - marks[0]
    s = 0.0
    while s < length:
        # Nearest analysis mark to this place on the stretched input axis.
        position = marks[0] + span * (s / max(1, length - 1))
        k = int(np.argmin(np.abs(marks - position)))
        p = int(round(periods[k]))
        lo, hi = marks[k] - p, marks[k] + p
        if lo >= 0 and hi <= len(x):
            grain = x[lo:hi] * np.hanning(2 * p + 2)[1:-1]
            at = int(round(s)) + pad - p
            y[at:at + 2 * p] += grain
        s += rate / pitch[min(length - 1, int(s))]
    return y[pad:pad + length]


def sing_phrase(x, rate, rng, min_voiced_seconds=0.06):
    """A sung phrase from the speech x: returns (y, notes) with notes a list of
    (start sample in y, length, frequency Hz). Every sample of y comes from a held vowel or from an
    unvoiced stretch of x; without a voiced run, y is a copy of x and notes is empty."""
    x = np.asarray(x, dtype=np.float64)
    f0, hop = pitch_track(x, rate)
    runs = voiced_runs(f0, hop, min_voiced_seconds, rate)
    if not runs:
        return x.copy(), []
    voiced_f0 = f0[f0 > 0.0]
    melody = make_melody(runs, float(np.median(voiced_f0)), rate, rng)
    fade = int(0.005 * rate)
    pieces, notes = [], []
    cursor = 0
    position = 0

    def append(piece):
        # Cross-fades into the previous piece; returns where the piece starts in the output.
        nonlocal position
        if pieces and fade > 0 and len(piece) > fade and len(pieces[-1]) > fade:
            ramp = np.linspace(0.0, 1.0, fade)
            tail = pieces[-1][-fade:]
            piece = piece.copy()
            piece[:fade] = tail * (1.0 - ramp) + piece[:fade] * ramp
            pieces[-1] = pieces[-1][:-fade]
            position -= fade
        start = position
        pieces.append(piece)
        position += len(piece)
        return start

    for (start, end), (length, hz) in zip(runs, melody):
        if start > cursor:
            append(x[cursor:start])
        marks, periods = analysis_marks(x, f0, hop, start, end, rate)
        pitch = note_pitch(length, hz, rate, rng)
        held = psola_note(x, marks, periods, length, pitch, rate)
        # Phrase swell: the held vowel rises a few dB and falls back at its end.
        t = np.linspace(0.0, 1.0, length)
        swell = 10.0 ** (rng.uniform(2.0, 6.0) * np.sin(np.pi * t) ** 2 / 20.0)
        notes.append((append(held * swell), length, hz))
        cursor = end
    if cursor < len(x):
        append(x[cursor:])
    return np.concatenate(pieces), notes
