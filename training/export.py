#!/usr/bin/python3
"""Exports a training checkpoint to TorchScript and checks the exported file.

    export.py --checkpoint RUNDIR/checkpoint.pt --out separator.pt [--ema]   # export, then check
    export.py --check separator.pt [--song SONG.npy]                          # check an exported model only

The check loads the exported file as the service would, separates a 10 s clip in chunks, and verifies
the masks' shape and range, that the sources add up to the clip, and the speed on one thread for a
3-minute stereo song.
"""

import argparse
import os
import sys
import time

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import BINS, CHUNK, CONTEXT, HOP, RATE, SOURCES, Separator, separate  # noqa: E402


def export(checkpoint, out, average):
    state = torch.load(checkpoint)
    model = Separator(**state["shape"])
    if average and "ema" not in state:
        sys.exit(f"{checkpoint} holds no average of the weights (train.py --ema)")
    model.load_state_dict(state["ema" if average else "model"])
    model.eval()
    # Freezing folds the batch norms into the convolutions and makes the weights constants.
    scripted = torch.jit.freeze(torch.jit.script(model))
    scripted.save(out)
    print(f"{out}: {os.path.getsize(out) / 1e6:.1f} MB, step {state['step']}{', averaged weights' if average else ''}")


def check(path, song):
    torch.set_num_threads(1)
    network = torch.jit.load(path)
    network.eval()
    if song:
        stems = np.load(song, mmap_mode="r")
        clip = torch.from_numpy(np.asarray(stems[:, :, : 10 * RATE], dtype=np.float32).sum(axis=0) / 32768.0)
    else:
        t = torch.arange(10 * RATE) / RATE
        clip = torch.stack([0.3 * torch.sin(2 * np.pi * 220 * t), 0.2 * torch.sin(2 * np.pi * 330 * t)])
    with torch.no_grad():
        masks = network(torch.rand(1, 2, BINS, CHUNK))
        assert masks.shape == (1, len(SOURCES), 2, BINS, CHUNK), masks.shape
        assert float(masks.min()) >= 0 and float(masks.max()) <= 1
        assert torch.allclose(masks.sum(dim=1), torch.ones(1, 2, BINS, CHUNK), atol=1e-4)
        estimates = separate(network, clip)
    assert estimates.shape == (len(SOURCES),) + tuple(clip.shape)
    error = float((estimates.sum(dim=0) - clip).abs().max())
    assert error < 1e-4, error
    for name, estimate in zip(SOURCES, estimates):
        share = float((estimate ** 2).sum() / (clip ** 2).sum())
        print(f"  {name:7s} {10 * np.log10(share + 1e-12):6.1f} dB of the clip's energy")
    # Speed: a 3-minute song is this many chunks; time a few.
    with torch.no_grad():
        window = torch.rand(1, 2, BINS, CHUNK)
        network(window)
        # Processor time of this one thread: the machine may be shared, wall time would say more
        # about the neighbours than about the model.
        started = time.process_time()
        for _ in range(3):
            network(window)
        per_chunk = (time.process_time() - started) / 3
    chunks = int(np.ceil((180 * RATE // HOP + 1) / (CHUNK - 2 * CONTEXT)))
    print(f"{path}: loads, separates a 10 s clip (sources add up to it within {error:.1e}); "
          f"network alone, processor time on one thread: {180 / (chunks * per_chunk):.1f}x real time for a 3-minute song "
          f"({per_chunk:.2f} s per chunk of {CHUNK} frames, {chunks} chunks)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--checkpoint")
    parser.add_argument("--out")
    parser.add_argument("--ema", action="store_true", help="export the moving average of the weights")
    parser.add_argument("--check")
    parser.add_argument("--song", help="a rendered song (.npy) to take the clip from")
    args = parser.parse_args()
    if args.checkpoint:
        export(args.checkpoint, args.out, args.ema)
    check(args.check or args.out, args.song)


if __name__ == "__main__":
    main()
