#!/usr/bin/python3
"""Trains one bleed model (full or ECO) end to end through the canceller.

Each batch holds whole training examples that start from a reset canceller, as the runtime
starts; they are cut into chunks of `chunk_hops` hops and the model takes one optimiser step per
chunk, carrying the recurrent state, window, FIR history and taps into the next chunk with the
gradient cut (truncated backpropagation through time). The loss compares the canceller output
with the vocal target (a compressed-magnitude spectral term plus a time-domain term) and adds the
distortion of the vocal alone under the same filter; all terms are normalised by the example's
microphone power so that loud and quiet examples count alike.

Time-bounded: stops at --deadline (UTC, HH:MM) or after --minutes, writes a checkpoint every few
minutes and resumes from it when started again with the same --run-dir. The best model on the
validation examples is exported as a blob into the run directory. What is validated and exported
is an exponential moving average of the weights (`average_steps` steps long), which smooths out
the step-to-step wander of small-batch training.

    nice -n 15 /usr/bin/python3 tools/train/train.py --shape full --run-dir /work/train-runs/full \\
        --deadline 18:10
"""
import argparse
import datetime
import json
import os
import sys
import time

import numpy as np
import torch

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from blob import SHAPES  # noqa: E402
from chain_loss import ChainModel, chain_terms  # noqa: E402
from model import FilterHead, run_canceller, run_canceller_split  # noqa: E402


def load_split(data, name):
    path = os.path.join(data, name, "mix.npy")
    return np.load(path, mmap_mode="r")


def validate(model, valid, count, chain):
    """Validation score over the first `count` examples that hold both a vocal and bleed, scored
    by what the spectral stage makes of the canceller's output (the STFT mirror of
    chain_loss.py): the median vocal-to-bleed change over the vocal-active frames, minus twice the
    amount by which the median vocal level change exceeds 1 dB either way."""
    changes, levels = [], []
    for i in range(len(valid)):
        mic, vocal = np.asarray(valid[i, 0], np.float32), np.asarray(valid[i, 1], np.float32)
        y = run_canceller(model, mic)
        t = [torch.from_numpy(np.array(s, dtype=np.float32))[None] for s in (mic, y, vocal, mic - vocal)]
        with torch.no_grad():
            vocal_db, bleed_db, ok = chain.effect(*t)
        if not bool(ok[0]):
            continue
        changes.append(float(vocal_db[0] - bleed_db[0]))
        levels.append(float(vocal_db[0]))
        if len(changes) == count:
            break
    if not changes:
        return 0.0, 0.0, 0.0
    change, level = float(np.median(changes)), float(np.median(levels))
    return change - 2.0 * max(0.0, abs(level) - 1.0), change, level


def frame_energies(x, frame=960):
    n = len(x) // frame
    return np.sum(x[: n * frame].astype(np.float64).reshape(n, frame) ** 2, axis=1) + 1e-30


class Loss:
    def __init__(self, vocal_weight, chain_weight):
        self.window = torch.hann_window(512)
        self.vocal_weight = vocal_weight
        self.chain_weight = chain_weight
        self.chain = ChainModel()

    def compressed(self, x, scale):
        X = torch.stft(x / scale, 512, 128, window=self.window, center=False, return_complex=True).abs()
        return (X**2 + 1e-10) ** 0.15

    def __call__(self, x, y, y_vocal, s, power):
        """x: microphone, y: canceller output, y_vocal: what the same filter does to the vocal
        alone, s: the vocal target, all [B, N]; power: [B, 1] mean microphone power of each
        example. The output should equal the vocal, the filter should leave the vocal alone (which
        keeps the vocal's level in low-ratio mixes instead of trading it for less bleed), and the
        spectral stage, which only sees how much each bin lost, should find the bleed bins."""
        time_term = torch.mean((y - s) ** 2 / power)
        scale = torch.sqrt(power)
        S = self.compressed(s, scale)
        spectral = torch.mean((self.compressed(y, scale) - S) ** 2)
        distortion = torch.mean((self.compressed(y_vocal, scale) - S) ** 2)
        loss = spectral + time_term + self.vocal_weight * distortion
        if self.chain_weight > 0:
            loss = loss + self.chain_weight * chain_terms(self.chain, x, y, s, x - s)
        return loss


SCORE = "averaged-chain-vbr-change-with-level-penalty"


def save_atomic(obj, path):
    torch.save(obj, path + ".partial")
    os.replace(path + ".partial", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--shape", choices=sorted(SHAPES), required=True)
    parser.add_argument("--data", default="/work/train-data")
    parser.add_argument("--train-split", default="train")
    parser.add_argument("--valid-split", default="valid")
    parser.add_argument("--run-dir", required=True)
    parser.add_argument("--recipe", default=os.path.join(HERE, "recipe.json"))
    parser.add_argument("--deadline", help="UTC wall-clock time HH:MM to stop at")
    parser.add_argument("--minutes", type=float, default=None)
    parser.add_argument("--max-steps", type=int, default=None)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--valid-count", type=int, default=24)
    parser.add_argument("--checkpoint-minutes", type=float, default=4.0)
    parser.add_argument("--schedule-start", help="UTC HH:MM the learning-rate schedule began at "
                        "(default: when this run first started; kept in the checkpoint)")
    parser.add_argument("--init", help="start from the model of this checkpoint (fresh optimiser)")
    args = parser.parse_args()
    torch.set_num_threads(args.threads)

    with open(args.recipe) as f:
        cfg = json.load(f)["train"][args.shape]
    os.makedirs(args.run_dir, exist_ok=True)
    log = open(os.path.join(args.run_dir, "log.txt"), "a")

    def say(text):
        line = "%s %s" % (datetime.datetime.utcnow().strftime("%H:%M:%S"), text)
        print(line, flush=True)
        log.write(line + "\n")
        log.flush()

    start = time.time()
    schedule_start = start
    stop_at = float("inf")
    if args.minutes is not None:
        stop_at = start + 60.0 * args.minutes
    if args.deadline:
        now = datetime.datetime.utcnow()
        h, m = (int(v) for v in args.deadline.split(":"))
        end = now.replace(hour=h, minute=m, second=0, microsecond=0)
        stop_at = min(stop_at, start + (end - now).total_seconds())

    torch.manual_seed(cfg["seed"])
    model = FilterHead.for_shape(args.shape)
    optimiser = torch.optim.Adam(model.parameters(), lr=cfg["learning_rate"])
    train = load_split(args.data, args.train_split)
    valid = load_split(args.data, args.valid_split)
    rng = np.random.default_rng(cfg["seed"])
    import copy

    average = copy.deepcopy(model)  # the exponential moving average of the weights
    decay = 1.0 - 1.0 / max(1.0, float(cfg.get("average_steps", 2000)))
    step, best, history = 0, -float("inf"), []
    checkpoint = os.path.join(args.run_dir, "checkpoint.pt")
    if os.path.exists(checkpoint):
        state = torch.load(checkpoint)
        model.load_state_dict(state["model"])
        average.load_state_dict(state.get("average", state["model"]))
        optimiser.load_state_dict(state["optimiser"])
        step, best, history = state["step"], state["best"], state["history"]
        if state.get("score") != SCORE:
            best = -float("inf")  # scored differently before: the next validation sets the best
        rng.bit_generator.state = state["rng"]
        schedule_start = state.get("schedule_start", schedule_start)
        say("resumed at step %d (best validation score %.2f)" % (step, best))
    elif args.init:
        model.load_state_dict(torch.load(args.init)["model"])
        average.load_state_dict(model.state_dict())
        say("started from the model in %s" % args.init)
    if args.schedule_start:
        now = datetime.datetime.utcnow()
        h, m = (int(v) for v in args.schedule_start.split(":"))
        schedule_start = time.time() - (now - now.replace(hour=h, minute=m, second=0, microsecond=0)).total_seconds()
    say("%s model, %d training examples of %d samples, batch %d, chunks of %d hops"
        % (args.shape, len(train), train.shape[2], cfg["batch"], cfg["chunk_hops"]))

    loss_fn = Loss(cfg["vocal_weight"], cfg.get("chain_weight", 0.0))
    chain = ChainModel(leak=0.0)
    final_rate = cfg.get("final_learning_rate", cfg["learning_rate"])
    chunk = cfg["chunk_hops"] * 32
    batch = cfg["batch"]
    last_checkpoint = time.time()
    sequences = 0
    budget = max(1.0, stop_at - schedule_start)

    def finish_checkpoint(reason):
        save_atomic({"model": model.state_dict(), "average": average.state_dict(), "optimiser": optimiser.state_dict(), "step": step,
                     "best": best, "history": history, "rng": rng.bit_generator.state, "score": SCORE, "schedule_start": schedule_start}, checkpoint)
        say("checkpoint at step %d (%s)" % (step, reason))

    validated_at = None

    def validate_and_keep(label):
        """Scores the averaged weights and exports them when they beat the best so far."""
        nonlocal best, validated_at
        score, change, level = validate(average, valid, args.valid_count, chain)
        say("%s: score %.2f (vocal-to-bleed change %+.2f dB, vocal level %+.2f dB)" % (label, score, change, level))
        if score > best:
            best = score
            average.export(os.path.join(args.run_dir, SHAPES[args.shape][2]))
            say("exported the best model so far")
        validated_at = step

    while True:
        if time.time() >= stop_at or (args.max_steps is not None and step >= args.max_steps):
            break
        progress = (time.time() - schedule_start) / budget
        for g in optimiser.param_groups:  # cosine decay over the time budget
            g["lr"] = final_rate + 0.5 * (cfg["learning_rate"] - final_rate) * (1.0 + np.cos(np.pi * min(1.0, progress)))
        picks = np.sort(rng.choice(len(train), size=batch, replace=len(train) < batch))
        data = torch.from_numpy(np.asarray(train[picks], dtype=np.float32))
        mic, vocal = data[:, 0], data[:, 1]
        power = torch.mean(mic**2, dim=1, keepdim=True) + 1e-10
        state = model.initial_state(batch)
        vocal_history = torch.zeros(batch, model.taps - 1)
        total, chunks = 0.0, 0
        for offset in range(0, mic.shape[1] - chunk + 1, chunk):
            target = vocal[:, offset : offset + chunk]
            y, state, [(y_vocal, vocal_history)] = model(mic[:, offset : offset + chunk], state, [(target, vocal_history)])
            vocal_history = vocal_history.detach()
            loss = loss_fn(mic[:, offset : offset + chunk], y, y_vocal, target, power)
            optimiser.zero_grad()
            loss.backward()
            torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0)
            optimiser.step()
            with torch.no_grad():
                for a, p in zip(average.parameters(), model.parameters()):
                    a.mul_(decay).add_(p, alpha=1.0 - decay)
            state = state.detach()
            total += loss.item()
            chunks += 1
            step += 1
            if args.max_steps is not None and step >= args.max_steps:
                break
            if time.time() >= stop_at:
                break
        sequences += 1
        history.append((step, total / max(1, chunks)))
        say("step %d loss %.4f (%.1f s of audio per minute)"
            % (step, total / max(1, chunks), sequences * batch * mic.shape[1] / 48000.0 / ((time.time() - start) / 60.0)))
        if time.time() - last_checkpoint > 60.0 * args.checkpoint_minutes or time.time() >= stop_at:
            validate_and_keep("validation")
            finish_checkpoint("periodic")
            last_checkpoint = time.time()
    if validated_at != step:
        validate_and_keep("final validation")
    average.export(os.path.join(args.run_dir, "last_" + SHAPES[args.shape][2]))
    finish_checkpoint("end")


if __name__ == "__main__":
    main()
