"""The filter-head network and its canceller in PyTorch, step for step as the C++ runtime runs them.

Every 32 samples the network sees the last 512 input samples (oldest first), projects them to W
values without bias, layer-normalises them (population variance, epsilon 1e-5) with a gain and a
bias, applies tanh, runs two GRU layers (reset / update / candidate, the reset gate scaling the
recurrent part including its bias, which is exactly torch.nn.GRU) and emits K taps
tanh(Wout h2) * scale. The canceller subtracts the FIR estimate sum_k tap[k] x[n - k] (tap 0 on
the current sample): the taps computed at the end of hop m are faded in linearly over hop m + 1,
from the previous filter (weight (i + 1) / 32 on sample i of the hop, reaching 1 on the last),
times `gain`, which stays at 1 after a reset.

A whole sequence is processed hop-parallel: the projections of all hops at once, the GRU over the
hops, the FIR as one grouped correlation per hop. `CancellerState` carries everything a chunk needs
from the previous one, so truncated backpropagation through time is just "detach the state".
"""
import numpy as np
import torch

from blob import ARRAY_NAMES, HOP, INPUT, SHAPES, write_blob

EPSILON = 1e-5


class CancellerState:
    """What the canceller remembers between chunks (all per batch item)."""

    def __init__(self, window_tail, history, previous_taps, current_taps, hidden):
        self.window_tail = window_tail  # [B, INPUT - HOP], the window's older samples
        self.history = history  # [B, K - 1], the samples before the chunk
        self.previous_taps = previous_taps  # [B, K]
        self.current_taps = current_taps  # [B, K]
        self.hidden = hidden  # [2, B, W]

    def detach(self):
        return CancellerState(
            self.window_tail.detach(),
            self.history.detach(),
            self.previous_taps.detach(),
            self.current_taps.detach(),
            self.hidden.detach(),
        )


class FilterHead(torch.nn.Module):
    def __init__(self, width, taps, scale=1.0):
        super().__init__()
        self.width = width
        self.taps = taps
        self.scale = scale
        self.input_weights = torch.nn.Parameter(torch.empty(width, INPUT))
        self.norm_gain = torch.nn.Parameter(torch.ones(width))
        self.norm_bias = torch.nn.Parameter(torch.zeros(width))
        self.gru = torch.nn.GRU(width, width, num_layers=2, batch_first=True)
        self.output_weights = torch.nn.Parameter(torch.empty(taps, width))
        self.reset_parameters()

    @classmethod
    def for_shape(cls, shape):
        width, taps, _ = SHAPES[shape]
        return cls(width, taps)

    def reset_parameters(self):
        torch.nn.init.normal_(self.input_weights, 0.0, 1.0 / np.sqrt(INPUT))
        torch.nn.init.ones_(self.norm_gain)
        torch.nn.init.zeros_(self.norm_bias)
        for name, p in self.gru.named_parameters():
            if "weight" in name:
                torch.nn.init.uniform_(p, -1.0 / np.sqrt(self.width), 1.0 / np.sqrt(self.width))
            else:
                torch.nn.init.zeros_(p)
        # A small head: the untrained canceller starts close to the identity.
        torch.nn.init.normal_(self.output_weights, 0.0, 0.01 / np.sqrt(self.width))

    def initial_state(self, batch):
        z = torch.zeros
        return CancellerState(
            z(batch, INPUT - HOP),
            z(batch, self.taps - 1),
            z(batch, self.taps),
            z(batch, self.taps),
            z(2, batch, self.width),
        )

    def network(self, x, state):
        """Taps of every hop of x [B, T * 32]: [B, T, K], and the GRU state after the last hop."""
        windows = torch.cat([state.window_tail, x], dim=1).unfold(1, INPUT, HOP)  # [B, T, I]
        p = windows @ self.input_weights.t()
        mean = p.mean(dim=-1, keepdim=True)
        variance = ((p - mean) ** 2).mean(dim=-1, keepdim=True)
        u = torch.tanh((p - mean) * (1.0 / torch.sqrt(variance + EPSILON)) * self.norm_gain + self.norm_bias)
        h2, hidden = self.gru(u, state.hidden)
        taps = torch.tanh(h2 @ self.output_weights.t()) * self.scale
        return taps, hidden

    @staticmethod
    def fir(x, history, current, previous):
        """The crossfaded FIR estimate of every sample of x [B, T * 32]: hop m runs current[:, m]
        faded in from previous[:, m]; history [B, K - 1] holds the samples before x."""
        batch, n = x.shape
        hops, k = n // HOP, current.shape[-1]
        extended = torch.cat([history, x], dim=1)  # extended[j + K - 1] = x[j]
        # Hop m reads extended[32 m .. 32 m + 32 + K - 2]; one grouped correlation per hop with
        # the taps flipped (oldest first) gives both sums of the hop without forming the
        # [B, T, 32, K] matrix of past samples.
        segments = extended.unfold(1, HOP + k - 1, HOP).reshape(1, batch * hops, HOP + k - 1)
        weights = torch.stack([current, previous], dim=2).flip(-1).reshape(batch * hops * 2, 1, k)
        sums = torch.nn.functional.conv1d(segments, weights, groups=batch * hops).reshape(batch, hops, 2, HOP)
        c, q = sums[:, :, 0], sums[:, :, 1]
        fade = (torch.arange(HOP, dtype=x.dtype) + 1.0) * (1.0 / HOP)
        return (fade * (c - q) + q).reshape(batch, n), extended[:, -(k - 1) :]  # gain stays at 1

    def forward(self, x, state, others=()):
        """Canceller output for x [B, N] (N a multiple of 32) and the state after it. With
        `others` (pairs of signal [B, N] and its history [B, K - 1]) the same time-varying
        filter, driven by x, is also applied to each of them; then the result is
        (y, state, [(output, new history), ...])."""
        hops = x.shape[1] // HOP
        taps, hidden = self.network(x, state)
        # Hop m uses the taps computed after hop m - 1, faded in from those after hop m - 2.
        current = torch.cat([state.current_taps[:, None], taps[:, :-1]], dim=1)
        previous = torch.cat([state.previous_taps[:, None], current[:, :-1]], dim=1)
        estimate, history = self.fir(x, state.history, current, previous)
        y = x - estimate
        new_state = CancellerState(
            torch.cat([state.window_tail, x], dim=1)[:, -(INPUT - HOP) :],
            history,
            current[:, -1] if hops > 0 else state.previous_taps,
            taps[:, -1],
            hidden,
        )
        if not others:
            return y, new_state
        split = []
        for signal, past in others:
            e, h = self.fir(signal, past, current, previous)
            split.append((signal - e, h))
        return y, new_state, split

    def arrays(self):
        """The twelve blob arrays as float32 numpy arrays."""
        g = self.gru
        t = {
            "inputWeights": self.input_weights,
            "normGain": self.norm_gain,
            "normBias": self.norm_bias,
            "gru1InputWeights": g.weight_ih_l0,
            "gru1RecurrentWeights": g.weight_hh_l0,
            "gru1InputBias": g.bias_ih_l0,
            "gru1RecurrentBias": g.bias_hh_l0,
            "gru2InputWeights": g.weight_ih_l1,
            "gru2RecurrentWeights": g.weight_hh_l1,
            "gru2InputBias": g.bias_ih_l1,
            "gru2RecurrentBias": g.bias_hh_l1,
            "outputWeights": self.output_weights,
        }
        return {name: t[name].detach().cpu().numpy().astype(np.float32) for name in ARRAY_NAMES}

    def load_arrays(self, arrays, scale=1.0):
        g = self.gru
        targets = [
            self.input_weights,
            self.norm_gain,
            self.norm_bias,
            g.weight_ih_l0,
            g.weight_hh_l0,
            g.bias_ih_l0,
            g.bias_hh_l0,
            g.weight_ih_l1,
            g.weight_hh_l1,
            g.bias_ih_l1,
            g.bias_hh_l1,
            self.output_weights,
        ]
        with torch.no_grad():
            for name, p in zip(ARRAY_NAMES, targets):
                p.copy_(torch.from_numpy(np.asarray(arrays[name], dtype=np.float32)))
        self.scale = scale

    def export(self, path):
        return write_blob(path, self.arrays(), self.width, self.taps, self.scale)


def run_canceller(model, x, chunk_hops=256):
    """Canceller output for one float signal (numpy), from a reset canceller, without gradients.
    A last partial hop is padded with zeros; the padding cannot reach earlier outputs."""
    x = np.asarray(x, dtype=np.float32)
    n = len(x)
    padded = np.zeros(((n + HOP - 1) // HOP) * HOP, dtype=np.float32)
    padded[:n] = x
    out = []
    with torch.no_grad():
        state = model.initial_state(1)
        signal = torch.from_numpy(padded)[None]
        for start in range(0, signal.shape[1], chunk_hops * HOP):
            y, state = model(signal[:, start : start + chunk_hops * HOP], state)
            out.append(y[0].numpy())
    return np.concatenate(out)[:n] if out else padded[:0]


def run_canceller_split(model, mic, parts, chunk_hops=256):
    """The canceller driven by `mic` (numpy), and the same time-varying filter applied to each of
    `parts` (numpy signals of the same length, e.g. the vocal and the bleed in the mic). Returns
    (output for mic, [output for each part])."""
    n = len(mic)
    size = ((n + HOP - 1) // HOP) * HOP

    def padded(v):
        p = np.zeros(size, dtype=np.float32)
        p[:n] = v
        return torch.from_numpy(p)[None]

    x = padded(mic)
    signals = [padded(p) for p in parts]
    histories = [torch.zeros(1, model.taps - 1) for _ in parts]
    outs, part_outs = [], [[] for _ in parts]
    with torch.no_grad():
        state = model.initial_state(1)
        for start in range(0, size, chunk_hops * HOP):
            end = start + chunk_hops * HOP
            others = [(s[:, start:end], h) for s, h in zip(signals, histories)]
            y, state, split = model(x[:, start:end], state, others)
            outs.append(y[0].numpy())
            for i, (o, h) in enumerate(split):
                part_outs[i].append(o[0].numpy())
                histories[i] = h
    return np.concatenate(outs)[:n], [np.concatenate(p)[:n] for p in part_outs]
