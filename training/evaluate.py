#!/usr/bin/python3
"""Scores a model on rendered songs: SI-SDR improvement over the mixture per instrument, beside the
oracle ratio mask, per soundfont.

    evaluate.py --model separator.pt|RUNDIR/checkpoint.pt --data DIR [--soundfont fluid|timgm|any]
                [--json OUT.json] [--limit N]

SI-SDR is taken over the interleaved stereo samples, as the separation benchmark does. An instrument
that a song does not have is not scored for that song. The oracle mask is the instrument's share of
the power in each bin, both channels together, on the model's STFT.
"""

import argparse
import json
import os
import sys
import time

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import SOURCES, Separator, istft, separate, stft  # noqa: E402
from train import song_files  # noqa: E402

INSTRUMENTS = SOURCES[:5]


def si_sdr(reference, estimate):
    reference = reference.reshape(-1).astype(np.float64)
    estimate = estimate.reshape(-1).astype(np.float64)
    energy = reference @ reference
    scale = (reference @ estimate) / energy if energy > 0 else 0.0
    target = scale * reference
    error = estimate - target
    return 10 * np.log10((target @ target + 1e-12) / (error @ error + 1e-12))


def oracle(stems, mixture, index):
    spectra = stft(torch.from_numpy(stems))
    mix = stft(torch.from_numpy(mixture))
    wanted = (spectra[index].abs() ** 2).sum(dim=0)
    rest = ((mix - spectra[index]).abs() ** 2).sum(dim=0)
    mask = torch.where(wanted + rest > 0, wanted / (wanted + rest + 1e-20), torch.zeros_like(wanted))
    return istft(mask.unsqueeze(0) * mix, mixture.shape[-1]).numpy()


def load_network(path):
    if path.endswith("checkpoint.pt"):
        state = torch.load(path)
        network = Separator(**state["shape"])
        network.load_state_dict(state["model"])
    else:
        network = torch.jit.load(path)
    network.eval()
    return network


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--model", required=True)
    parser.add_argument("--data", action="append", required=True)
    parser.add_argument("--soundfont", default="any", choices=["fluid", "timgm", "any"])
    parser.add_argument("--json")
    parser.add_argument("--limit", type=int, default=0)
    parser.add_argument("--threads", type=int, default=1)
    args = parser.parse_args()
    torch.set_num_threads(args.threads)
    network = load_network(args.model)
    files = song_files(args.data, args.soundfont)
    if args.limit:
        files = files[: args.limit]
    rows = []
    spent = audio_seconds = 0.0
    for path in files:
        stems = np.load(path).astype(np.float32) / 32768.0
        mixture = stems.sum(axis=0)
        started = time.process_time()
        with torch.no_grad():
            estimates = separate(network, torch.from_numpy(mixture)).numpy()
        spent += time.process_time() - started
        audio_seconds += mixture.shape[-1] / 44100
        soundfont = json.load(open(path[:-4] + ".json"))["soundfont"]
        for i, name in enumerate(INSTRUMENTS):
            if not np.any(stems[i]):
                continue
            base = si_sdr(stems[i], mixture)
            rows.append({"song": os.path.basename(path)[:-4], "soundfont": soundfont, "instrument": name,
                         "model": si_sdr(stems[i], estimates[i]) - base,
                         "oracle": si_sdr(stems[i], oracle(stems, mixture, i)) - base})
    print(f"{len(files)} songs, {args.model}; separation at {audio_seconds / max(spent, 1e-9):.1f}x real time "
          f"(processor time, {args.threads} thread)")
    print(f"{'instrument':10s} {'soundfont':9s} {'songs':>5s} {'model':>7s} {'worst':>7s} {'<0 dB':>5s} {'oracle':>7s}")
    for soundfont in sorted({r["soundfont"] for r in rows}) + ["all"]:
        for name in INSTRUMENTS:
            chosen = [r for r in rows if r["instrument"] == name and soundfont in ("all", r["soundfont"])]
            if not chosen:
                continue
            model = np.array([r["model"] for r in chosen])
            print(f"{name:10s} {soundfont:9s} {len(chosen):5d} {np.median(model):+7.2f} {model.min():+7.2f} "
                  f"{int((model < 0).sum()):5d} {np.median([r['oracle'] for r in chosen]):7.2f}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()
