#!/usr/bin/python3
"""Trains the separation U-Net on rendered songs (render.py), resuming from the run folder's checkpoint.

    train.py --data DIR [--data DIR ...] --run RUNDIR [--soundfont fluid|timgm|any] [--minutes M]
             [--threads N] [--steps N] [--batch B] [--frames T] [--seed S]

Stops after --steps steps in all or --minutes of this call, whichever comes first, and writes
RUNDIR/checkpoint.pt every --save-minutes and at the end; a second call goes on from there.
RUNDIR/log.tsv gets one line per --log-every steps.
"""

import argparse
import copy
import glob
import json
import math
import os
import signal
import sys
import time

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import BINS, HOP, SOURCES, Separator, stft  # noqa: E402


def song_files(folders, soundfont):
    files = []
    for folder in folders:
        for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
            name = json.load(open(path))["soundfont"]
            if soundfont in ("any", name):
                files.append(path[:-5] + ".npy")
    return files


class Batches:
    """Random crops of random songs; now and then each stem from a different song (remixing), each
    stem with its own gain and channel order, the whole at a random loudness."""

    def __init__(self, files, frames, rng, remix=0.3):
        self.songs = []
        self.files = set()
        self.add(files)
        self.samples = (frames - 1) * HOP
        self.rng = rng
        self.remix = remix

    def crop(self, song, stems):
        """The given stems of a song from one random start, zero-padded to the crop's length."""
        start = int(self.rng.integers(0, max(1, song.shape[2] - self.samples)))
        piece = np.asarray(song[stems, :, start:start + self.samples], dtype=np.float32)
        out = np.zeros(piece.shape[:2] + (self.samples,), dtype=np.float32)
        out[:, :, :piece.shape[2]] = piece
        return out

    def item(self):
        rng = self.rng
        count = len(self.songs)
        if rng.random() < self.remix:
            stems = np.concatenate([self.crop(self.songs[int(rng.integers(count))], slice(s, s + 1))
                                    for s in range(len(SOURCES))])
        else:
            stems = self.crop(self.songs[int(rng.integers(count))], slice(None))
        stems /= 32768.0
        stems *= (10 ** (rng.uniform(-6, 6, size=(len(SOURCES), 1, 1)) / 20)).astype(np.float32)
        swap = rng.random(len(SOURCES)) < 0.5
        stems[swap] = stems[swap][:, ::-1]
        level = np.sqrt((stems.sum(axis=0) ** 2).mean()) + 1e-8
        stems *= 10 ** (rng.uniform(-30, -12) / 20) / level
        return stems

    def add(self, files):
        # By the names given, not the memmaps' absolute ones, or every song would be mapped again each call
        # until no file descriptor is left.
        fresh = [f for f in files if f not in self.files]
        self.songs += [np.load(f, mmap_mode="r") for f in fresh]
        self.files.update(fresh)

    def batch(self, size):
        return torch.from_numpy(np.stack([self.item() for _ in range(size)]))


def grown_full_res(model, shape, channels, magnitude):
    """The model with a first layer at full resolution of the given channels added, computing the same
    masks as before (exactly in eval mode), so that a trained network can learn finer features without
    starting again.
    The new layer's first four channels carry the input: each side as +x and -x, because with a leaky
    ReLU of slope a, x = (lrelu(x) - lrelu(-x)) / (1 + a). Their batch norm takes the input's mean and
    deviation over `magnitude` (batch, 2, BINS, frames) and adds the mean back, so that a zero out of
    the layer is still a zero in: the padding at the spectrum's edges, where the lowest bass notes lie,
    stays as it was. The other channels start with no weight in the layers after them and learn."""
    assert not shape.get("full_res") and channels >= 4
    shape = dict(shape, full_res=channels)
    grown = Separator(**shape)
    own = grown.state_dict()
    own.update({k: v for k, v in model.state_dict().items() if own[k].shape == v.shape})
    grown.load_state_dict(own)
    conv, norm, relu = grown.stem
    with torch.no_grad():
        x = model.normalised(magnitude)
        mean, var = x.mean(dim=(0, 2, 3)), x.var(dim=(0, 2, 3), unbiased=False)
        deviation = (var + norm.eps).sqrt()
        conv.weight.zero_()
        conv.bias.zero_()
        centre = conv.weight.shape[-1] // 2
        for side in range(2):
            conv.weight[2 * side, side, centre, centre] = 1.0
            conv.weight[2 * side + 1, side, centre, centre] = -1.0
            norm.running_mean[2 * side], norm.running_mean[2 * side + 1] = mean[side], -mean[side]
            norm.running_var[2 * side] = norm.running_var[2 * side + 1] = var[side]
            norm.bias[2 * side], norm.bias[2 * side + 1] = mean[side] / deviation[side], -mean[side] / deviation[side]

        def carry(layer, old, offset):
            """layer's weights on the new channels from old's on the input's two, at offset in both."""
            weight = torch.zeros_like(layer.weight)
            weight[:, :offset] = old.weight[:, :offset]
            for side in range(2):
                w = old.weight[:, offset + side] * deviation[side] / (1 + relu.negative_slope)
                weight[:, offset + 2 * side] = w
                weight[:, offset + 2 * side + 1] = -w
            layer.weight.copy_(weight)
            layer.bias.copy_(old.bias)

        carry(grown.down[0][0], model.down[0][0], 0)
        carry(grown.head, model.head, grown.head.in_channels - channels)
    return grown, shape


def grown_blocks(model, shape, **levels):
    """The model with more Residual or AcrossFrequency blocks (levels: residual=N, across=N); new
    blocks start out passing their input through, so the masks are the same as before."""
    shape = dict(shape, **levels)
    grown = Separator(**shape)
    missing, unexpected = grown.load_state_dict(model.state_dict(), strict=False)
    new_block = (".body.", ".narrow", ".widen")
    assert not unexpected and all(any(part in k for part in new_block) for k in missing), (missing, unexpected)
    return grown, shape


def carried_optimiser(optimiser, model, grown, lr):
    """An Adam for grown that keeps optimiser's moments for the parameters model and grown share: only
    the new ones start afresh, so the trained weights do not take the large first steps of a new Adam."""
    fresh = torch.optim.Adam(grown.parameters(), lr=lr)
    old = optimiser.state_dict()
    index = {name: i for i, (name, _) in enumerate(model.named_parameters())}
    state = fresh.state_dict()
    for i, (name, _) in enumerate(grown.named_parameters()):
        if name in index and index[name] in old["state"]:
            state["state"][i] = old["state"][index[name]]
    fresh.load_state_dict(state)
    return fresh


def spectral_loss(model, stems, phase=False, weights=None):
    """The mean of source_losses; weights, one per source with a mean of one, shift the network's
    capacity between sources."""
    per_source = source_losses(model, stems, phase)
    return (per_source if weights is None else per_source * weights).mean()


def source_losses(model, stems, phase=False):
    """Per crop and source (batch, sources): the squared error between the masked mixture and each
    source, over the modelled bins, each source's error relative to its own power plus a sixth of the
    mixture's.
    Squared, not absolute: where the network cannot yet tell two sources apart, an absolute error is
    least when one of them takes the whole bin, and vocals and "other" lost every bin to the guitar
    until their masks were stuck at zero; a squared error shares the bin and keeps both learning.
    Relative to the source's power, so a quiet voice counts as much as loud drums; the mixture's share
    in the divisor keeps a silent source from ruling the loss.
    With phase, the error is between complex spectra, the masked mixture keeping the mixture's phase:
    by Parseval that is the error of the separated audio itself, which is what SI-SDR scores, and a bin
    where the source's phase is far from the mixture's then gets a smaller mask."""
    spectra = stft(stems)[..., :BINS, :]  # (batch, sources, 2, bins, frames)
    mixture = spectra.sum(dim=1)
    magnitude = mixture.abs()
    masks = model(magnitude)
    if phase:
        difference = masks * mixture.unsqueeze(1) - spectra
        # Not abs().square(): the gradient of abs is 0/0 where a bin is exactly zero (digital silence).
        error = difference.real.square() + difference.imag.square()
    else:
        error = (masks * magnitude.unsqueeze(1) - spectra.abs()).square()
    level = spectra.abs().square().mean(dim=(2, 3, 4)) + magnitude.square().mean(dim=(1, 2, 3)).unsqueeze(1) / len(SOURCES)
    return error.mean(dim=(2, 3, 4)) / (level + 1e-12)  # a silent crop: no error, not 0 / 0


def source_weights(text):
    """"bass=2,drums=0.5" -> a weight per source, scaled to a mean of one so the learning rate keeps its
    meaning."""
    weights = torch.ones(len(SOURCES))
    for item in text.split(","):
        name, _, value = item.partition("=")
        if name not in SOURCES:
            raise argparse.ArgumentTypeError(f"unknown source {name!r}; the sources are {', '.join(SOURCES)}")
        weights[SOURCES.index(name)] = float(value)
    if (weights < 0).any() or weights.sum() == 0:
        raise argparse.ArgumentTypeError("weights must be zero or more, and not all zero")
    return weights / weights.mean()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--data", action="append", required=True)
    parser.add_argument("--valid", action="append", default=[])
    parser.add_argument("--run", required=True)
    parser.add_argument("--soundfont", default="any", choices=["fluid", "timgm", "any"])
    parser.add_argument("--valid-soundfont", default="any", choices=["fluid", "timgm", "any"])
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--steps", type=int, default=1_000_000)
    parser.add_argument("--minutes", type=float, default=170)
    parser.add_argument("--save-minutes", type=float, default=10)
    parser.add_argument("--batch", type=int, default=4)
    parser.add_argument("--frames", type=int, default=128)
    parser.add_argument("--lr", type=float, default=1e-3)
    parser.add_argument("--lr-end", type=float,
                        help="lower the rate along a half cosine from --lr at the resumed step to this at --steps")
    parser.add_argument("--warmup", type=int, default=0,
                        help="raise the rate from zero over the first N steps of this call")
    parser.add_argument("--loss", default="magnitude", choices=["magnitude", "phase"],
                        help="error of the masked magnitudes, or of the masked complex spectra (spectral_loss)")
    parser.add_argument("--weights", type=source_weights, default=None,
                        help="loss weight per source, e.g. drums=0.5,bass=2 (others 1); validation stays "
                             "unweighted, so runs with and without compare")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--width", type=int, default=16)
    parser.add_argument("--depth", type=int, default=6)
    parser.add_argument("--kernel", type=int, default=3)
    parser.add_argument("--max-channels", type=int, default=256)
    parser.add_argument("--full-res", type=int, default=0,
                        help="channels of a first layer at full resolution (0: none, as the shipped model)")
    parser.add_argument("--grow-full-res", type=int, default=0,
                        help="on resuming a model without a full-resolution first layer, add one of this many "
                             "channels that starts out changing nothing (grown_full_res)")
    parser.add_argument("--residual", type=int, default=0,
                        help="deepest levels with a Residual block on the way down and up (0: none)")
    parser.add_argument("--grow-residual", type=int, default=0,
                        help="on resuming a model with fewer, add Residual blocks to this many deepest levels; "
                             "they start out changing nothing and the trained weights keep their moments")
    parser.add_argument("--across", type=int, default=0,
                        help="shallowest levels with an AcrossFrequency block on the way down and up (0: none)")
    parser.add_argument("--grow-across", type=int, default=0,
                        help="on resuming a model with fewer, add AcrossFrequency blocks to this many shallowest "
                             "levels, as --grow-residual does")
    parser.add_argument("--ema", type=float, default=0.0,
                        help="also keep an exponential moving average of the weights with this decay per step "
                             "(e.g. 0.999), validated beside the model and exported with export.py --ema")
    parser.add_argument("--log-every", type=int, default=10)
    parser.add_argument("--valid-every", type=int, default=200)
    parser.add_argument("--reset-head", action="store_true",
                        help="start the output layer afresh (every mask 1/6), keeping the rest: revives "
                             "masks that a run has driven to zero")
    args = parser.parse_args()

    torch.set_num_threads(args.threads)
    torch.set_flush_denormal(True)
    os.makedirs(args.run, exist_ok=True)
    checkpoint_path = os.path.join(args.run, "checkpoint.pt")
    shape = {k: getattr(args, k) for k in ("width", "depth", "kernel", "max_channels", "full_res", "residual",
                                          "across")}
    torch.manual_seed(args.seed)
    model = Separator(**shape)
    optimiser = torch.optim.Adam(model.parameters(), lr=args.lr)
    step = 0
    rng = np.random.default_rng(args.seed)
    saved_ema = None
    if os.path.exists(checkpoint_path):
        state = torch.load(checkpoint_path)
        shape = state["shape"]
        model = Separator(**shape)
        model.load_state_dict(state["model"])
        optimiser = torch.optim.Adam(model.parameters(), lr=args.lr)
        optimiser.load_state_dict(state["optimiser"])
        for group in optimiser.param_groups:  # --lr holds on resuming too, to lower it late in a run
            group["lr"] = args.lr
        step = state["step"]
        saved_ema = state.get("ema")
        rng.bit_generator.state = state["numpy"]
        torch.set_rng_state(state["torch"])
        print(f"resuming at step {step}", flush=True)
        if args.reset_head:
            with torch.no_grad():
                model.head.weight.zero_()
                model.head.bias.zero_()
            optimiser = torch.optim.Adam(model.parameters(), lr=args.lr)
            saved_ema = None
            print("output layer reset", flush=True)
        grow_full_res = args.grow_full_res and not shape.get("full_res")
        grow_residual = args.grow_residual > shape.get("residual", 0)
        grow_across = args.grow_across > shape.get("across", 0)
        if grow_full_res or grow_residual or grow_across:
            sample = Batches(song_files(args.data, args.soundfont), args.frames, np.random.default_rng(args.seed))
            magnitude = stft(sample.batch(16)).sum(dim=1).abs()[..., :BINS, :]
            if grow_full_res:
                grown, shape = grown_full_res(model, shape, args.grow_full_res, magnitude)
                grown_optimiser = torch.optim.Adam(grown.parameters(), lr=args.lr)
                what = f"first layer at full resolution added, {args.grow_full_res} channels"
            else:
                levels = {}
                if grow_residual:
                    levels["residual"] = args.grow_residual
                if grow_across:
                    levels["across"] = args.grow_across
                grown, shape = grown_blocks(model, shape, **levels)
                grown_optimiser = carried_optimiser(optimiser, model, grown, args.lr)
                what = ", ".join(f"{name} blocks on {count} levels" for name, count in levels.items())
            model.eval()
            grown.eval()
            with torch.no_grad():
                change = (grown(magnitude) - model(magnitude)).abs().max().item()
            if change > 1e-4:
                sys.exit(f"growing changed the masks by up to {change:.2g}")
            model, optimiser = grown, grown_optimiser
            saved_ema = None  # an average of the old network's weights does not fit the new one
            print(f"{what}; masks unchanged within {change:.1g}", flush=True)

    files = song_files(args.data, args.soundfont)
    batches = Batches(files, args.frames, rng)
    valid = None
    if args.valid:
        # A fixed validation set: the same crops every time.
        vfiles = song_files(args.valid, args.valid_soundfont)
        vbatches = Batches(vfiles, 256, np.random.default_rng(12345), remix=0.0)
        valid = [vbatches.batch(2) for _ in range(8)]
    # The average starts from the weights as they are, and goes on from the saved one.
    ema = copy.deepcopy(model) if args.ema else None
    if ema is not None and saved_ema is not None:
        ema.load_state_dict(saved_ema)
    print(f"{len(files)} training songs, {sum(p.numel() for p in model.parameters())} parameters", flush=True)

    def save():
        state = {"model": model.state_dict(), "optimiser": optimiser.state_dict(), "step": step,
                 "numpy": rng.bit_generator.state, "torch": torch.get_rng_state(), "shape": shape,
                 "args": vars(args)}
        if ema is not None:
            state["ema"] = ema.state_dict()
        torch.save(state, checkpoint_path + ".new")
        os.replace(checkpoint_path + ".new", checkpoint_path)

    # A stop (kill, Ctrl+C) ends the step under way and saves, rather than losing the minutes since the
    # last checkpoint.
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(True))
    log = open(os.path.join(args.run, "log.tsv"), "a")
    started = last_save = time.time()
    running = []
    end_step = args.steps
    first_step = step
    phase = args.loss == "phase"
    while step < end_step and time.time() - started < args.minutes * 60 and not stopping:
        model.train()
        rate = args.lr
        if args.lr_end is not None:
            done = (step - first_step) / max(1, end_step - first_step)
            rate = args.lr_end + (args.lr - args.lr_end) * 0.5 * (1 + math.cos(math.pi * done))
        # Fresh Adam moments (a rebuilt checkpoint) are noisy for their first steps: a trained network
        # would take full-rate steps on them.
        if step - first_step < args.warmup:
            rate *= (step - first_step + 1) / args.warmup
        for group in optimiser.param_groups:
            group["lr"] = rate
        loss = spectral_loss(model, batches.batch(args.batch), phase, args.weights)
        optimiser.zero_grad()
        loss.backward()
        # One bad batch must not spoil the weights and the optimiser's moments for good.
        if all(torch.isfinite(p.grad).all() for p in model.parameters() if p.grad is not None):
            optimiser.step()
            if ema is not None:
                with torch.no_grad():
                    for mean, value in zip(ema.state_dict().values(), model.state_dict().values()):
                        if mean.is_floating_point():
                            mean.mul_(args.ema).add_(value, alpha=1 - args.ema)
                        else:
                            mean.copy_(value)
        else:
            print(f"step {step + 1}: a gradient is not finite; batch skipped", flush=True)
        step += 1
        running.append(loss.item())
        if step % args.log_every == 0:
            line = f"{step}\ttrain\t{np.mean(running):.6f}\t{time.time() - started:.0f}"
            print(line, flush=True)
            log.write(line + "\n")
            log.flush()
            running = []
        if valid is not None and step % args.valid_every == 0:
            for name, network in [("valid", model), ("valid-ema", ema)]:
                if network is None:
                    continue
                network.eval()
                with torch.no_grad():
                    sources = torch.stack([source_losses(network, b, phase).mean(dim=0) for b in valid]).mean(dim=0)
                # The mean first, as before; each source's share after it shows what a reweighting did.
                shares = " ".join(f"{source}={value:.4f}" for source, value in zip(SOURCES, sources.tolist()))
                line = f"{step}\t{name}\t{sources.mean().item():.6f}\t{time.time() - started:.0f}\t{shares}"
                print(line, flush=True)
                log.write(line + "\n")
            log.flush()
        if step % 100 == 0:  # songs still being rendered join as they are completed
            batches.add(song_files(args.data, args.soundfont))
        if time.time() - last_save > args.save_minutes * 60:
            save()
            last_save = time.time()
    save()
    print(f"stopped at step {step}", flush=True)


if __name__ == "__main__":
    main()
