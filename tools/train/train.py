#!/usr/bin/python3
"""Trains one bleed model (full or ECO) end to end through the canceller.

Each batch holds whole training examples that start from a reset canceller, as the runtime
starts; they are cut into chunks of `chunk_hops` hops and the model takes one optimiser step per
chunk, carrying the recurrent state, window, FIR history and taps into the next chunk with the
gradient cut (truncated backpropagation through time). The loss compares the canceller output
with the vocal target (a compressed-magnitude spectral term plus a time-domain term) and adds the
distortion of the vocal alone under the same filter; all terms are normalised by the example's
microphone power so that loud and quiet examples count alike.

Step-bounded, so the same seed gives the same model on any machine: the recipe gives each shape
its total number of optimiser steps (`steps`), the learning rate follows a cosine over those
steps, and every `validate_every` steps (and at the last step) the averaged weights are validated
and a checkpoint is written. A wall-clock --deadline (UTC, HH:MM) or --minutes only stops the run
early: it writes a checkpoint at the step it reached, including a batch that is only partly
done (its examples, chunk position and carried canceller state), the optimiser, the averaged
weights and both random generators, and the same command resumes from it. An interrupted and
resumed run gives the same blobs, byte for byte, as one that ran straight through (checked by
test_resume.py). The best model on the validation examples is exported as a blob into the run
directory. What is validated and exported is an exponential moving average of the weights
(`average_steps` steps long), which smooths out the step-to-step wander of small-batch training.

    nice -n 15 /usr/bin/python3 tools/train/train.py --shape full --run-dir /work/train-runs/full \\
        [--deadline 18:10]
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
from blob import SHAPES, read_blob  # noqa: E402
from chain_loss import ChainModel, chain_terms  # noqa: E402
from model import CancellerState, FilterHead, run_canceller  # noqa: E402
from runtime_constants import NETWORK_HOP, SAMPLE_RATE_HZ, VOCAL_ACTIVE_FRAME_SECONDS, VOCAL_ACTIVE_RATIO  # noqa: E402

VOCAL_ACTIVE_FRAME = int(round(VOCAL_ACTIVE_FRAME_SECONDS * SAMPLE_RATE_HZ))


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


def vocal_pauses(vocal):
    """[B, N] 1.0 on the samples of the 20 ms frames where the vocal target is silent (below
    VOCAL_ACTIVE_RATIO of its loudest frame in the whole example, the evaluation's rule), else 0."""
    b, n = vocal.shape
    frames = n // VOCAL_ACTIVE_FRAME
    e = (vocal[:, : frames * VOCAL_ACTIVE_FRAME] ** 2).reshape(b, frames, VOCAL_ACTIVE_FRAME).mean(dim=2)
    silent = (e <= e.amax(dim=1, keepdim=True) * VOCAL_ACTIVE_RATIO).float()
    mask = silent.repeat_interleave(VOCAL_ACTIVE_FRAME, dim=1)
    return torch.nn.functional.pad(mask, (0, n - mask.shape[1]))


def pause_term(x, y, pauses, floor_db=-20.0):
    """How far the canceller output stays above `floor_db` against the microphone in the vocal's
    pauses, in units of 10 dB, averaged over the examples with a pause in this chunk: bleed that
    the canceller removes in the pauses is what lets the phrase gate and the deep floor act."""
    ex = (x**2 * pauses).sum(dim=1)
    ey = (y**2 * pauses).sum(dim=1)
    has = ex > 1e-12
    if not bool(has.any()):
        return x.new_zeros(())
    attenuation_db = 10.0 * torch.log10((ey[has] + 1e-20) / ex[has])
    return torch.mean(torch.relu(attenuation_db - floor_db)) / 10.0


class Loss:
    def __init__(self, vocal_weight, chain_weight, pause_weight=0.0):
        self.window = torch.hann_window(512)
        self.vocal_weight = vocal_weight
        self.chain_weight = chain_weight
        self.pause_weight = pause_weight
        self.chain = ChainModel()

    def compressed(self, x, scale):
        X = torch.stft(x / scale, 512, 128, window=self.window, center=False, return_complex=True).abs()
        return (X**2 + 1e-10) ** 0.15

    def __call__(self, x, y, y_vocal, s, power, pauses=None):
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
        if self.pause_weight > 0 and pauses is not None:
            loss = loss + self.pause_weight * pause_term(x, y, pauses)
        return loss


SCORE = "averaged-chain-vbr-change-with-level-penalty"


def save_atomic(obj, path):
    torch.save(obj, path + ".partial")
    os.replace(path + ".partial", path)


def learning_rate(cfg, step, total):
    """Cosine from `learning_rate` at step 0 to `final_learning_rate` at step `total`."""
    final = cfg.get("final_learning_rate", cfg["learning_rate"])
    progress = min(1.0, step / max(1, total))
    return final + 0.5 * (cfg["learning_rate"] - final) * (1.0 + np.cos(np.pi * progress))


def stop_time(args, start):
    """Wall-clock time (seconds since the epoch) of the early stop, or infinity."""
    stop_at = float("inf")
    if args.minutes is not None:
        stop_at = start + 60.0 * args.minutes
    if args.deadline:
        now = datetime.datetime.utcnow()
        h, m = (int(v) for v in args.deadline.split(":"))
        end = now.replace(hour=h, minute=m, second=0, microsecond=0)
        stop_at = min(stop_at, start + (end - now).total_seconds())
    return stop_at


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--shape", choices=sorted(SHAPES), required=True)
    parser.add_argument("--data", default="/work/train-data")
    parser.add_argument("--train-split", default="train")
    parser.add_argument("--valid-split", default="valid")
    parser.add_argument("--run-dir", required=True)
    parser.add_argument("--recipe", default=os.path.join(HERE, "recipe.json"))
    parser.add_argument("--deadline", help="UTC wall-clock time HH:MM to stop early at (checkpointed, resumable)")
    parser.add_argument("--minutes", type=float, default=None, help="stop early after this many minutes")
    parser.add_argument("--stop-at-step", type=int, default=None,
                        help="stop early at this step (checkpointed, resumable; the schedule is unchanged)")
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--valid-count", type=int, default=24)
    parser.add_argument("--init", help="start from the model of this checkpoint (fresh optimiser and schedule)")
    parser.add_argument("--init-blob", help="start from the weights of this model blob, e.g. a shipped model "
                        "(fresh optimiser and schedule)")
    args = parser.parse_args()
    torch.set_num_threads(args.threads)

    with open(args.recipe) as f:
        cfg = json.load(f)["train"][args.shape]
    total_steps, validate_every = int(cfg["steps"]), int(cfg["validate_every"])
    if total_steps < 1 or validate_every < 1:
        parser.error("the recipe needs steps >= 1 and validate_every >= 1 for %s" % args.shape)
    os.makedirs(args.run_dir, exist_ok=True)
    log = open(os.path.join(args.run_dir, "log.txt"), "a")

    def say(text):
        line = "%s %s" % (datetime.datetime.utcnow().strftime("%H:%M:%S"), text)
        print(line, flush=True)
        log.write(line + "\n")
        log.flush()

    start = time.time()
    stop_at = stop_time(args, start)

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
    pending = None  # a batch that an early stop interrupted
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
        if "torch_rng" in state:
            torch.set_rng_state(state["torch_rng"])
        pending = state.get("batch")
        if state.get("steps", total_steps) != total_steps:
            say("warning: the checkpoint was written for %d steps, the recipe now asks for %d; the learning "
                "rate follows the new total" % (state["steps"], total_steps))
        say("resumed at step %d of %d (best validation score %.2f)" % (step, total_steps, best))
    elif args.init:
        model.load_state_dict(torch.load(args.init)["model"])
        average.load_state_dict(model.state_dict())
        say("started from the model in %s" % args.init)
    elif args.init_blob:
        arrays, width, taps, scale = read_blob(args.init_blob)
        if (width, taps) != (model.width, model.taps):
            parser.error("%s holds a %d-wide, %d-tap model; the %s shape is %d wide with %d taps"
                         % (args.init_blob, width, taps, args.shape, model.width, model.taps))
        model.load_arrays(arrays, scale)
        average.load_state_dict(model.state_dict())
        average.scale = scale
        say("started from the weights in %s" % args.init_blob)
    say("%s model, %d training examples of %d samples, batch %d, chunks of %d hops, %d steps, validation every %d"
        % (args.shape, len(train), train.shape[2], cfg["batch"], cfg["chunk_hops"], total_steps, validate_every))

    loss_fn = Loss(cfg["vocal_weight"], cfg.get("chain_weight", 0.0), cfg.get("pause_weight", 0.0))
    chain = ChainModel(leak=0.0)
    chunk = cfg["chunk_hops"] * NETWORK_HOP
    batch = cfg["batch"]
    sequences = 0

    def finish_checkpoint(reason, batch_state=None):
        save_atomic({"model": model.state_dict(), "average": average.state_dict(), "optimiser": optimiser.state_dict(),
                     "step": step, "best": best, "history": history, "rng": rng.bit_generator.state,
                     "torch_rng": torch.get_rng_state(), "score": SCORE, "batch": batch_state,
                     "steps": total_steps}, checkpoint)
        say("checkpoint at step %d (%s)" % (step, reason))

    def validate_and_keep(label):
        """Scores the averaged weights and exports them when they beat the best so far."""
        nonlocal best
        score, change, level = validate(average, valid, args.valid_count, chain)
        say("%s at step %d: score %.2f (vocal-to-bleed change %+.2f dB, vocal level %+.2f dB)"
            % (label, step, score, change, level))
        if score > best:
            best = score
            average.export(os.path.join(args.run_dir, SHAPES[args.shape][2]))
            say("exported the best model so far")

    def stop_requested():
        return time.time() >= stop_at or (args.stop_at_step is not None and step >= args.stop_at_step)

    stopped = step < total_steps and stop_requested()
    while step < total_steps and not stopped:
        if pending is not None:  # continue the interrupted batch exactly where it stopped
            picks, first = np.asarray(pending["picks"]), pending["offset"]
            cstate = CancellerState(*pending["canceller"])
            vocal_history = pending["vocal_history"]
            total, chunks = pending["total"], pending["chunks"]
            pending = None
        else:
            picks, first = np.sort(rng.choice(len(train), size=batch, replace=len(train) < batch)), 0
            cstate = model.initial_state(batch)
            vocal_history = torch.zeros(batch, model.taps - 1)
            total, chunks = 0.0, 0
        data = torch.from_numpy(np.asarray(train[picks], dtype=np.float32))
        mic, vocal = data[:, 0], data[:, 1]
        power = torch.mean(mic**2, dim=1, keepdim=True) + 1e-10
        pauses = vocal_pauses(vocal)
        offsets = list(range(first, mic.shape[1] - chunk + 1, chunk))
        for i, offset in enumerate(offsets):
            for g in optimiser.param_groups:
                g["lr"] = learning_rate(cfg, step, total_steps)
            target = vocal[:, offset : offset + chunk]
            y, cstate, [(y_vocal, vocal_history)] = model(mic[:, offset : offset + chunk], cstate, [(target, vocal_history)])
            vocal_history = vocal_history.detach()
            loss = loss_fn(mic[:, offset : offset + chunk], y, y_vocal, target, power, pauses[:, offset : offset + chunk])
            optimiser.zero_grad()
            loss.backward()
            torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0)
            optimiser.step()
            with torch.no_grad():
                for a, p in zip(average.parameters(), model.parameters()):
                    a.mul_(decay).add_(p, alpha=1.0 - decay)
            cstate = cstate.detach()
            total += loss.item()
            chunks += 1
            step += 1
            last_chunk = i == len(offsets) - 1
            if last_chunk:
                sequences += 1
                history.append((step, total / max(1, chunks)))
                say("step %d loss %.4f (%.1f s of audio per minute)"
                    % (step, total / max(1, chunks), sequences * batch * mic.shape[1] / float(SAMPLE_RATE_HZ) / ((time.time() - start) / 60.0)))
            at_end = step >= total_steps
            stopped = not at_end and stop_requested()
            batch_state = None
            if not last_chunk and not at_end:
                c = cstate
                batch_state = {"picks": picks.tolist(), "offset": offset + chunk, "total": total, "chunks": chunks,
                               "vocal_history": vocal_history,
                               "canceller": (c.window_tail, c.history, c.previous_taps, c.current_taps, c.hidden)}
            if step % validate_every == 0 or at_end:
                validate_and_keep("final validation" if at_end else "validation")
                finish_checkpoint("end" if at_end else "scheduled", batch_state)
            elif stopped:
                finish_checkpoint("early stop", batch_state)
            if at_end or stopped:
                break
    if step >= total_steps:
        average.export(os.path.join(args.run_dir, "last_" + SHAPES[args.shape][2]))
        say("finished: %d steps" % step)
    else:
        say("stopped early at step %d of %d; run again to continue" % (step, total_steps))
    return 0


if __name__ == "__main__":
    sys.exit(main())
