"""The separation network: a U-Net estimating soft masks on the stereo magnitude spectrogram.

Contract (see README.md): 44.1 kHz stereo, STFT with a 4096-point periodic Hann window and hop 1024,
the network sees the lowest BINS bins of |X| for both channels and returns, per source, a mask in
[0, 1] for each of those bins; the masks of the six sources (five instruments and "other") add up to
one. Bins above BINS take the mask of the top modelled bin.
"""

from typing import List

import torch
from torch import nn

RATE = 44100
N_FFT = 4096
HOP = 1024
BINS = 1024
SOURCES = ["vocals", "drums", "bass", "guitar", "piano", "other"]


class Residual(nn.Module):
    """x plus a two-convolution block through half the channels. The block's last batch norm starts at
    zero scale, so a new block passes its input through unchanged: a trained network can gain blocks and
    go on from where it was."""

    def __init__(self, channels: int, kernel: int):
        super().__init__()
        inner = channels // 2
        self.body = nn.Sequential(
            nn.Conv2d(channels, inner, kernel, padding=kernel // 2), nn.BatchNorm2d(inner), nn.LeakyReLU(0.2),
            nn.Conv2d(inner, channels, kernel, padding=kernel // 2), nn.BatchNorm2d(channels))
        nn.init.zeros_(self.body[-1].weight)

    def forward(self, x: torch.Tensor) -> torch.Tensor:
        return x + self.body(x)


class AcrossFrequency(nn.Module):
    """x plus a fully connected layer over all of a level's bins, frame by frame and shared by the
    channels, through an eighth as many. A 3×3 convolution links neighbouring bins only, and the levels
    where its reach spans octaves have lost the resolution that tells one bass note from the next; this
    links a note's fundamental with its harmonics at the fine levels. Starts out passing x through, as
    Residual does."""

    def __init__(self, channels: int, bins: int):
        super().__init__()
        inner = max(16, bins // 8)
        self.narrow = nn.Linear(bins, inner, bias=False)
        self.narrow_norm = nn.BatchNorm2d(channels)
        self.widen = nn.Linear(inner, bins, bias=False)
        self.widen_norm = nn.BatchNorm2d(channels)
        nn.init.zeros_(self.widen_norm.weight)

    def forward(self, x: torch.Tensor) -> torch.Tensor:
        # Each Linear as a convolution, the same product, but oneDNN runs it 20 to 30 times faster than
        # Debian's reference BLAS runs a matrix product: in training with the bins as channels of a 1×1
        # kernel, whose gradients are fastest, in use with a kernel as tall as the bins, whose forward
        # pass is.
        batch, channels, bins, frames = x.shape
        y = self.mix(x.reshape(batch * channels, bins, frames), self.narrow.weight)
        y = nn.functional.leaky_relu(self.narrow_norm(y.reshape(batch, channels, -1, frames)), 0.2)
        y = self.mix(y.reshape(batch * channels, -1, frames), self.widen.weight)
        return x + self.widen_norm(y.reshape(batch, channels, bins, frames))

    def mix(self, x: torch.Tensor, weight: torch.Tensor) -> torch.Tensor:
        """weight (outputs, inputs) times each of x's (inputs, frames) planes."""
        outputs, inputs = weight.shape
        if self.training:
            return nn.functional.conv2d(x.unsqueeze(-1), weight.view(outputs, inputs, 1, 1))
        return nn.functional.conv2d(x.unsqueeze(1), weight.view(outputs, 1, inputs, 1))


class Separator(nn.Module):
    def __init__(self, width: int = 16, depth: int = 6, kernel: int = 5, max_channels: int = 192,
                 full_res: int = 0, residual: int = 0, across: int = 0):
        super().__init__()
        self.depth = depth
        self.sources = len(SOURCES)
        # Per-bin scale and offset of the compressed magnitudes, learnt.
        self.input_scale = nn.Parameter(torch.ones(1, 1, BINS, 1))
        self.input_shift = nn.Parameter(torch.zeros(1, 1, BINS, 1))
        pad = kernel // 2
        # With full_res, a first layer at the spectrum's own resolution, so that features as fine as
        # a low bass note's harmonics (a few bins apart) reach the output layer; without it the finest
        # features are at half resolution.
        self.stem: nn.Module = nn.Identity()
        if full_res:
            self.stem = nn.Sequential(nn.Conv2d(2, full_res, kernel, padding=pad), nn.BatchNorm2d(full_res),
                                      nn.LeakyReLU(0.2))
        channels = [full_res or 2] + [min(max_channels, width * 2 ** i) for i in range(depth)]
        self.down = nn.ModuleList()
        # With residual, the deepest levels, where the features tell one instrument from another, get a
        # Residual block after their layer on the way down and on the way up.
        deep = range(depth - residual, depth)
        # With across, the shallowest levels get an AcrossFrequency block after those, both ways.
        shallow = range(across)
        for i in range(depth):
            self.down.append(nn.Sequential(
                nn.Conv2d(channels[i], channels[i + 1], kernel, stride=2, padding=pad),
                nn.BatchNorm2d(channels[i + 1]),
                nn.LeakyReLU(0.2),
                *([Residual(channels[i + 1], kernel)] if i in deep else []),
                *([AcrossFrequency(channels[i + 1], BINS >> (i + 1))] if i in shallow else [])))
        self.up = nn.ModuleList()
        for i in reversed(range(depth)):
            into = channels[i + 1] if i == depth - 1 else 2 * channels[i + 1]
            # The last layers run at full resolution: kept narrow, they cost most.
            out = channels[i] if i > 0 else max(8, width // 2)
            # Upsampling then a convolution rather than a transposed convolution: PyTorch's CPU
            # transposed convolution has no fast path and took 85% of a training step.
            self.up.append(nn.Sequential(
                nn.Upsample(scale_factor=2.0, mode="nearest"),
                nn.Conv2d(into, out, kernel, padding=pad),
                nn.BatchNorm2d(out),
                nn.ReLU(),
                *([Residual(out, kernel)] if i in deep and i > 0 else []),
                *([AcrossFrequency(out, BINS >> i)] if i in shallow else [])))
        self.head = nn.Conv2d(max(8, width // 2) + channels[0], 2 * self.sources, 1)

    @staticmethod
    def frames_multiple(depth: int = 6) -> int:
        return 2 ** depth

    def normalised(self, magnitude: torch.Tensor) -> torch.Tensor:
        """The compressed, per-bin scaled magnitudes the first layer sees."""
        return torch.log1p(magnitude * 10.0) * self.input_scale + self.input_shift

    def forward(self, magnitude: torch.Tensor) -> torch.Tensor:
        """magnitude: (batch, 2, BINS, frames), frames a multiple of 2**depth.
        Returns masks (batch, sources, 2, BINS, frames) that add up to one over the sources."""
        x = self.stem(self.normalised(magnitude))
        skips: List[torch.Tensor] = []
        for layer in self.down:
            skips.append(x)
            x = layer(x)
        for i, layer in enumerate(self.up):
            if i > 0:
                x = torch.cat([x, skips[self.depth - i]], dim=1)
            x = layer(x)
        x = self.head(torch.cat([x, skips[0]], dim=1))
        batch, _, bins, frames = x.shape
        x = x.view(batch, self.sources, 2, bins, frames)
        return torch.softmax(x, dim=1)


def stft(audio: torch.Tensor) -> torch.Tensor:
    """audio: (..., samples) -> complex (..., N_FFT // 2 + 1, frames). Frame t is centred on sample
    t * HOP, zeros outside the signal: samples // HOP + 1 frames."""
    shape = audio.shape
    spectrum = torch.stft(audio.reshape(-1, shape[-1]), N_FFT, HOP, window=torch.hann_window(N_FFT),
                          center=True, pad_mode="constant", return_complex=True)
    return spectrum.reshape(shape[:-1] + spectrum.shape[-2:])


def istft(spectrum: torch.Tensor, length: int) -> torch.Tensor:
    shape = spectrum.shape
    audio = torch.istft(spectrum.reshape((-1,) + shape[-2:]), N_FFT, HOP, window=torch.hann_window(N_FFT),
                        center=True, length=length)
    return audio.reshape(shape[:-2] + (length,))


def full_masks(masks: torch.Tensor) -> torch.Tensor:
    """Extends masks from BINS to all N_FFT // 2 + 1 bins with the top modelled bin's value."""
    top = masks[..., BINS - 1:BINS, :]
    rest = top.expand(masks.shape[:-2] + (N_FFT // 2 + 1 - BINS, masks.shape[-1]))
    return torch.cat([masks, rest], dim=-2)


# Chunking: the network sees CHUNK frames at a time; the CONTEXT frames at either end of a chunk only
# inform its middle, whose masks are kept, so chunks follow each other every CHUNK - 2 * CONTEXT frames.
CHUNK = 256
CONTEXT = 32


def masks_in_chunks(network, magnitude: torch.Tensor) -> torch.Tensor:
    """magnitude: (2, BINS, frames) -> masks (sources, 2, BINS, frames), one chunk at a time."""
    frames = magnitude.shape[-1]
    step = CHUNK - 2 * CONTEXT
    out = torch.zeros((len(SOURCES),) + tuple(magnitude.shape))
    for keep in range(0, frames, step):
        start = keep - CONTEXT
        window = torch.zeros(2, BINS, CHUNK)
        lo, hi = max(0, start), min(frames, start + CHUNK)
        window[:, :, lo - start:hi - start] = magnitude[:, :, lo:hi]
        masks = network(window.unsqueeze(0))[0]
        count = min(step, frames - keep)
        out[..., keep:keep + count] = masks[..., CONTEXT:CONTEXT + count]
    return out


def separate(network, audio: torch.Tensor) -> torch.Tensor:
    """audio: (2, samples) in [-1, 1) -> estimates (sources, 2, samples) that add up to the audio."""
    spectrum = stft(audio)
    masks = full_masks(masks_in_chunks(network, spectrum.abs()[:, :BINS]))
    return istft(masks * spectrum.unsqueeze(0), audio.shape[-1])
