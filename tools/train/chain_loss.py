#!/usr/bin/python3
"""What the spectral bleed stage does with a canceller's output, in the STFT domain, in torch.

The runtime never plays the canceller's output: every 128 samples it compares the 1024-sample
Hann-windowed spectra of the mix X and of the canceller output Y, level-matches them
(m = sum |X| / sum |Y|, clamped to 0..64), turns each bin into a voice mask
clamp(1 + 20 log10(|Y| m / |X|) / 1.5, 0, 1) and applies the gain f + (1 - f) mask, f being the
floor curve (during a phrase -7 dB above 125 Hz, falling to -45 dB below 78.125 Hz at 100 %).
This module mirrors those decisions on STFT frames and applies the gains to the vocal V and the
bleed B separately, so the effect on each is known. It is an approximation of the runtime (no
smoothing over hops, no minimum-phase FIR, no phrase gate, gain of frame t applied to frame
t + 1, as the runtime's filter only acts after its analysis), good enough for two uses:

- a differentiable training term (`chain_terms`) that scores a canceller by what the chain can
  do with it: a bin only needs to lose 1.5 dB against the average to reach the floor;
- the ceiling of the spectral stage: with Y = V (a perfect canceller) no canceller can do better
  with these floors and this mask range. Two more reference rows: the best time-varying FIR of the
  model's length (a Wiener filter fitted per 128 samples with knowledge of the bleed, so it bounds
  what the filter structure allows), and the ideal binary mask (every bin where the vocal
  outweighs the bleed kept, every other bin at the floor, in the same frame), which bounds any
  mask under these floors.

    /usr/bin/python3 tools/train/chain_loss.py --split valid [--full BLOB] [--eco BLOB] [--ceilings]
"""
import argparse
import os
import sys

import numpy as np
import torch

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from runtime_constants import (  # noqa: E402
    DEEP_FLOOR_DB,
    FLOOR_CORNER_HIGH_HZ,
    FLOOR_CORNER_LOW_HZ,
    LEVEL_MATCH_MAX,
    MASK_RANGE_DB,
    SAMPLE_RATE_HZ,
    SHALLOW_FLOOR_DB,
    SPECTRAL_FFT,
    SPECTRAL_HOP,
    VOCAL_ACTIVE_RATIO,
)

RATE = SAMPLE_RATE_HZ
FFT = SPECTRAL_FFT
HOP = SPECTRAL_HOP
SHALLOW_DB = SHALLOW_FLOOR_DB
DEEP_DB = DEEP_FLOOR_DB
CORNERS = (FLOOR_CORNER_LOW_HZ, FLOOR_CORNER_HIGH_HZ)  # high-pass off or below 125 Hz


def floor_curve(rate=RATE):
    """Per-bin floor gain during a phrase at Bleed Reduction 100 %, high-pass off."""
    f = np.arange(FFT // 2 + 1) * rate / FFT
    low, high = CORNERS
    t = np.clip(np.log2(np.maximum(f, 1e-9) / low) / np.log2(high / low), 0.0, 1.0)
    t[f <= low] = 0.0
    db = (1.0 - t) * DEEP_DB + t * SHALLOW_DB
    return torch.tensor(10.0 ** (db / 20.0), dtype=torch.float32)


class ChainModel:
    def __init__(self, leak=0.05):
        self.window = torch.hann_window(FFT, periodic=False)
        self.floor = floor_curve()[None, :, None]  # [1, bins, 1]
        self.leak = leak  # gradient through the mask's clamp, so saturated bins still learn

    def spectrum(self, x):
        return torch.stft(x, FFT, HOP, window=self.window, center=False, return_complex=True)

    def gains(self, X, Y):
        """Bin gains [B, bins, frames] from the spectra of the mix and the clean estimate."""
        ax, ay = X.abs(), Y.abs()
        sx, sy = ax.sum(dim=1, keepdim=True), ay.sum(dim=1, keepdim=True)
        m = torch.where((sx > 1e-12) & (sy > 1e-12), torch.clamp(sx / (sy + 1e-30), 0.0, LEVEL_MATCH_MAX), torch.ones_like(sx))
        u = (ay * m + 1e-12) / (ax + 1e-12)
        v = 1.0 + 20.0 * torch.log10(u) / MASK_RANGE_DB
        clamped = torch.clamp(v, 0.0, 1.0)
        mask = clamped + self.leak * (v - clamped) - (self.leak * (v - clamped)).detach()
        return self.floor + (1.0 - self.floor) * mask

    def effect(self, x, y, vocal, bleed):
        """Per-example gain of the vocal and of the bleed (dB) over the vocal-active frames, when
        the stage's gains (from mix x and clean y) act on vocal and bleed. All inputs [B, N]."""
        X, Y = self.spectrum(x), self.spectrum(y)
        V, Bl = self.spectrum(vocal).abs() ** 2, self.spectrum(bleed).abs() ** 2
        g = self.gains(X, Y)[..., :-1] ** 2  # frame t's gains act on frame t + 1
        V, Bl = V[..., 1:], Bl[..., 1:]
        ev = V.sum(dim=1)  # [B, frames]
        active = (ev > ev.amax(dim=1, keepdim=True) * VOCAL_ACTIVE_RATIO) & (ev > 0)
        a = active[:, None, :].float()
        v0, b0 = (V * a).sum(dim=(1, 2)), (Bl * a).sum(dim=(1, 2))
        v1, b1 = (g * V * a).sum(dim=(1, 2)), (g * Bl * a).sum(dim=(1, 2))
        vocal_db = 10.0 * torch.log10((v1 + 1e-20) / (v0 + 1e-20))
        bleed_db = 10.0 * torch.log10((b1 + 1e-20) / (b0 + 1e-20))
        valid = (v0 > 0) & (b0 > 1e-6 * v0)
        return vocal_db, bleed_db, valid


def oracle_fir(x, v, taps, segment=128, fit=1024):
    """Per `segment` samples, the Wiener FIR of `taps` taps (tap 0 on the current sample) that best
    predicts the bleed x - v from x over the surrounding Hann-weighted `fit` samples, applied as
    the canceller applies its taps. Non-causal and told the bleed: a bound, not a method."""
    from scipy.linalg import solve_toeplitz

    x, v = np.asarray(x, np.float64), np.asarray(v, np.float64)
    b, n, y = x - v, len(x), np.array(x, np.float64)
    w = np.hanning(fit)
    for s in range(0, n - segment + 1, segment):
        hi = min(n, max(0, s + segment // 2 - fit // 2) + fit)
        lo = max(0, hi - fit)
        X = np.fft.rfft(x[lo:hi] * w[: hi - lo], 2 * fit)
        B = np.fft.rfft(b[lo:hi] * w[: hi - lo], 2 * fit)
        r = np.fft.irfft(np.abs(X) ** 2)[:taps]  # autocorrelation of the mix
        c = np.fft.irfft(B * np.conj(X))[:taps]  # cross-correlation of the bleed with the mix
        if r[0] <= 0.0:
            continue
        r[0] *= 1.0 + 1e-3  # a little diagonal loading keeps the system well conditioned
        h = solve_toeplitz(r, c)
        start = max(0, s - taps + 1)
        y[s : s + segment] -= np.convolve(x[start : s + segment], h)[s - start : s - start + segment]
    return y.astype(np.float32)


def ideal_mask_effect(chain, vocal, bleed):
    """Vocal and bleed gain (dB) over the vocal-active frames under the ideal binary mask."""
    V, B = chain.spectrum(vocal).abs() ** 2, chain.spectrum(bleed).abs() ** 2
    g = (chain.floor + (1.0 - chain.floor) * (V > B).float()) ** 2
    ev = V.sum(dim=1)
    a = ((ev > ev.amax(dim=1, keepdim=True) * VOCAL_ACTIVE_RATIO) & (ev > 0))[:, None, :].float()
    v0, b0 = (V * a).sum(dim=(1, 2)), (B * a).sum(dim=(1, 2))
    vocal_db = 10.0 * torch.log10((g * V * a).sum(dim=(1, 2)) / v0)
    bleed_db = 10.0 * torch.log10((g * B * a).sum(dim=(1, 2)) / b0)
    return vocal_db, bleed_db, (v0 > 0) & (b0 > 1e-6 * v0)


def chain_terms(chain, x, y, vocal, bleed, vocal_tolerance_db=0.5):
    """Training term: minus the vocal-to-bleed change (in units of 10 dB) plus a penalty on vocal
    loss beyond the tolerance, averaged over the examples that hold both a vocal and bleed."""
    vocal_db, bleed_db, valid = chain.effect(x, y, vocal, bleed)
    if not bool(valid.any()):
        return x.new_zeros(())
    change = (vocal_db - bleed_db)[valid]
    loss_of_vocal = torch.relu(-vocal_db[valid] - vocal_tolerance_db)
    return torch.mean(-change / 10.0 + 0.5 * loss_of_vocal)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", default="/work/train-data")
    parser.add_argument("--split", default="valid")
    parser.add_argument("--full")
    parser.add_argument("--eco")
    parser.add_argument("--ceilings", action="store_true", help="add the oracle FIR and ideal mask rows")
    args = parser.parse_args()
    from blob import SHAPES, read_blob
    from model import FilterHead, run_canceller

    torch.set_num_threads(1)
    mix = np.load(os.path.join(args.data, args.split, "mix.npy"), mmap_mode="r")
    chain = ChainModel(leak=0.0)
    systems = {"none": None, "perfect canceller": "perfect"}
    if args.ceilings:
        systems["best 256-tap FIR (oracle)"] = "fir256"
        systems["best 192-tap FIR (oracle)"] = "fir192"
        systems["ideal binary mask"] = "mask"
    for name in ("full", "eco"):
        path = getattr(args, name)
        if path:
            arrays, width, taps, scale = read_blob(path)
            m = FilterHead(width, taps)
            m.load_arrays(arrays, scale)
            systems[name] = m
    print("Spectral stage in phrases (STFT mirror), split %s, medians over examples, dB\n" % args.split)
    print("| clean estimate | vocal-to-bleed change | vocal level | bleed level |\n|---|---|---|---|")
    for name, model in systems.items():
        rows = []
        for i in range(len(mix)):
            x = np.asarray(mix[i, 0], np.float32)
            v = np.asarray(mix[i, 1], np.float32)
            if model is None:
                y = x
            elif model == "perfect":
                y = v
            elif model in ("fir256", "fir192"):
                y = oracle_fir(x, v, int(model[3:]))
            elif model == "mask":
                y = None
            else:
                y = run_canceller(model, x)
            t = [torch.from_numpy(np.array(s, np.float32))[None] for s in (x, x if y is None else y, v, x - v)]
            with torch.no_grad():
                vd, bd, ok = ideal_mask_effect(chain, t[2], t[3]) if y is None else chain.effect(*t)
            if bool(ok[0]):
                rows.append((float(vd[0] - bd[0]), float(vd[0]), float(bd[0])))
        r = np.median(np.array(rows), axis=0)
        print("| %s | %+.2f | %+.2f | %+.2f |" % (name, r[0], r[1], r[2]))


if __name__ == "__main__":
    main()
