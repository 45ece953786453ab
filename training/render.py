#!/usr/bin/python3
"""Renders seeded, random but musical multitrack songs for training the separation model.

Every song is written as General MIDI parts, each part rendered on its own by fluidsynth, then
equalised, compressed, panned and levelled; the stems are stored as 16-bit integers and the mixture is
their exact sum. Stems: vocals, drums, bass, guitar, piano, other (the parts that belong to the
mix-without: strings, pads, organ, brass, synth leads, reed and flute leads).

    render.py --out DIR --seeds FIRST:LAST [--soundfont fluid|timgm|alternate] [--seconds LOW:HIGH]

Seed ranges are kept apart (see SEED_RANGES); a song is a function of its seed, its soundfont and
this file.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy import signal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from midi import Part  # noqa: E402

RATE = 44100
STEMS = ["vocals", "drums", "bass", "guitar", "piano", "other"]
SOUNDFONTS = {
    "fluid": "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "timgm": "/usr/share/sounds/sf2/TimGM6mb.sf2",
}
# Disjoint song seeds: training, validation, and the evaluation set that training never sees.
SEED_RANGES = {
    "train": (1_000_000, 1_999_999),
    "valid": (2_000_000, 2_099_999),
    "eval": (9_000_000, 9_099_999),
}

MAJOR = [0, 2, 4, 5, 7, 9, 11]
MINOR = [0, 2, 3, 5, 7, 8, 10]
# Progressions as scale degrees (0-based), one chord per entry.
PROGRESSIONS = [
    [0, 4, 5, 3], [5, 3, 0, 4], [0, 3, 4, 3], [1, 4, 0, 0], [0, 5, 3, 4], [0, 3, 0, 4],
    [0, 0, 3, 4], [5, 4, 3, 4], [0, 2, 3, 4], [0, 6, 5, 6], [0, 3, 6, 4], [0, 5, 1, 4],
]

PROGRAMS = {
    "bass": [32, 33, 34, 35, 36, 37, 38, 39],
    "voice": [52, 53, 54],
    "guitar": {"nylon": 24, "steel": 25, "clean": 27, "overdriven": 29, "distorted": 30},
    "piano": {"grand": 0, "bright": 1, "electric": 4, "electric2": 5, "electric grand": 2},
    "strings": [48, 49, 50, 51, 44, 45],
    "pad": [88, 89, 90, 91, 92, 93, 94, 95],
    "organ": [16, 17, 18, 19],
    "brass": [56, 57, 60, 61, 62, 63],
    "lead": [80, 81, 87, 65, 66, 71, 73, 68],
}
DRUM_KITS = [0, 8, 16, 24, 25, 32, 40]


class Song:
    """The musical skeleton every part follows."""

    def __init__(self, rng, seconds):
        self.rng = rng
        self.bpm = float(rng.uniform(72, 156))
        self.key = int(rng.integers(12))
        self.minor = bool(rng.random() < 0.35)
        self.scale = MINOR if self.minor else MAJOR
        self.swing = float(rng.choice([0.0, 0.0, 0.0, 0.12]))
        self.chords_per_bar = 2 if rng.random() < 0.2 else 1
        self.bars = int(np.ceil(seconds * self.bpm / 60 / 4))
        self.beats = 4 * self.bars
        progression = PROGRESSIONS[int(rng.integers(len(PROGRESSIONS)))]
        count = self.bars * self.chords_per_bar
        self.degrees = [progression[i % len(progression)] for i in range(count)]
        if rng.random() < 0.3:  # a second progression for the back half
            other = PROGRESSIONS[int(rng.integers(len(PROGRESSIONS)))]
            half = count // 2
            self.degrees[half:] = [other[i % len(other)] for i in range(count - half)]

    def chord_at(self, beat):
        index = min(int(beat / (4 / self.chords_per_bar)), len(self.degrees) - 1)
        return self.chord(self.degrees[index])

    def chord(self, degree, size=3):
        """Pitch classes (relative to C) of the diatonic chord on a degree: root, third, fifth[, seventh]."""
        return [(self.key + self.scale[(degree + 2 * i) % 7]) % 12 for i in range(size)]

    def in_scale(self, key):
        return (key - self.key) % 12 in self.scale

    def scale_keys(self, low, high):
        return [k for k in range(low, high + 1) if self.in_scale(k)]

    def swung(self, beat):
        fraction = beat % 1.0
        return beat + self.swing if abs(fraction - 0.5) < 1e-6 else beat

    def active_bars(self, density):
        """Which bars a part plays, in two-bar blocks, so parts enter and drop out as in arrangements."""
        on = []
        for block in range(0, self.bars, 2):
            state = self.rng.random() < density
            on += [state, state]
        if not any(on):
            on[0] = True
        return on[: self.bars]


def human(rng, velocity, spread=10):
    return int(np.clip(velocity + rng.normal(0, spread / 2), 20, 127))


def jitter(rng, ms=6.0, bpm=120):
    return float(rng.normal(0, ms / 1000 * bpm / 60 / 2))


def chord_keys(pitch_classes, low, high):
    return [k for k in range(low, high + 1) if k % 12 in pitch_classes]


def nearest_key(pitch_class, centre):
    return centre + ((pitch_class - centre + 6) % 12) - 6


# --- drums -------------------------------------------------------------------------------------------

def drums(song, rng):
    part = Part(9, program=int(rng.choice(DRUM_KITS)))
    style = rng.choice(["rock", "pop", "half", "four", "funk", "ride"])
    snare = int(rng.choice([38, 38, 40, 39]))
    hat = 51 if style == "ride" else 42
    on = song.active_bars(0.9)
    for bar in range(song.bars):
        if not on[bar]:
            continue
        fill = bar % 4 == 3 and rng.random() < 0.5
        base = 4 * bar
        if bar % 4 == 0 and rng.random() < 0.6:
            part.note(base, 1.5, int(rng.choice([49, 57])), human(rng, 110))
        for s in range(16):
            t = song.swung(base + s / 4)
            j = jitter(rng, 4, song.bpm)
            if fill and s >= 8:
                if s % 1 == 0 and rng.random() < 0.8:
                    tom = int(rng.choice([snare, 50, 48, 47, 45, 43]))
                    part.note(t + j, 0.25, tom, human(rng, 95 + s))
                continue
            kick = {
                "rock": s in (0, 8) or (s in (10, 14) and rng.random() < 0.3),
                "pop": s in (0, 6, 8) or (s == 11 and rng.random() < 0.3),
                "half": s == 0 or (s in (3, 10) and rng.random() < 0.4),
                "four": s % 4 == 0,
                "funk": s in (0, 3, 10) or (s in (7, 13) and rng.random() < 0.3),
                "ride": s in (0, 8) or (s == 10 and rng.random() < 0.3),
            }[style]
            snare_hit = (s == 8) if style == "half" else s in (4, 12)
            ghost = style == "funk" and s % 2 == 1 and rng.random() < 0.15
            if kick:
                part.note(t + j, 0.25, 36, human(rng, 105))
            if snare_hit:
                part.note(t + j, 0.25, snare, human(rng, 105))
            if ghost:
                part.note(t + j, 0.25, 38, human(rng, 40))
            step = 1 if style in ("funk",) else 2
            if style == "four":
                if s % 4 == 2:
                    part.note(t + j, 0.25, 46, human(rng, 85))
                elif s % 2 == 0 and rng.random() < 0.5:
                    part.note(t + j, 0.25, 42, human(rng, 60))
            elif s % step == 0:
                accent = 90 if s % 4 == 0 else 65
                key = 46 if (s == 14 and rng.random() < 0.25) else hat
                part.note(t + j, 0.25, key, human(rng, accent))
    return part


# --- bass --------------------------------------------------------------------------------------------

def bass(song, rng):
    part = Part(0, program=int(rng.choice(PROGRAMS["bass"])))
    style = rng.choice(["whole", "eighths", "root5", "sync", "walk", "octave"])
    on = song.active_bars(0.9)
    low = 28 + int(rng.integers(0, 5))
    for beat in range(song.beats):
        if not on[beat // 4]:
            continue
        chord = song.chord_at(beat)
        root = low + (chord[0] - low) % 12
        fifth = root + 7
        if style == "whole":
            if beat % 4 == 0:
                part.note(beat, 3.8, root, human(rng, 100))
            elif beat % 4 == 2 and rng.random() < 0.4:
                part.note(beat, 1.8, root, human(rng, 90))
        elif style == "eighths":
            for half in (0, 0.5):
                part.note(song.swung(beat + half), 0.45, root, human(rng, 95 if half == 0 else 80))
        elif style == "root5":
            key = root if beat % 2 == 0 else (fifth if rng.random() < 0.7 else root + 12)
            part.note(beat, 0.9, key, human(rng, 100))
        elif style == "sync":
            for offset, length in ((0, 0.7), (0.75, 0.2), (1.5, 0.45)):
                if beat % 2 == 0 and beat + offset < song.beats:
                    key = root if offset == 0 or rng.random() < 0.6 else fifth
                    part.note(beat + offset, length, key, human(rng, 100))
        elif style == "walk":
            steps = [root, root + (chord[1] - chord[0]) % 12, fifth, root + 12 - (1 if rng.random() < 0.5 else 2)]
            part.note(song.swung(beat), 0.9, steps[beat % 4], human(rng, 95))
        else:  # octave
            for half in (0, 0.5):
                part.note(song.swung(beat + half), 0.4, root + (12 if half else 0), human(rng, 95))
    return part


# --- vocals ------------------------------------------------------------------------------------------

def melody(song, rng, low, high, on, rest=0.3):
    """Phrased lines: one- or two-bar phrases, chord tones on strong beats, mostly steps."""
    notes = []
    keys = song.scale_keys(low, high)
    index = int(rng.integers(len(keys) // 3, 2 * len(keys) // 3))
    bar = 0
    while bar < song.bars:
        length_bars = int(rng.choice([1, 2, 2]))
        if not on[bar] or rng.random() < rest:
            bar += 1
            continue
        beat = 4 * bar + float(rng.choice([0, 0, 0.5, 1]))
        end = 4 * min(song.bars, bar + length_bars) - float(rng.choice([0.5, 1, 1.5]))
        while beat < end:
            duration = float(rng.choice([0.5, 0.5, 1, 1, 1.5, 2]))
            duration = min(duration, end - beat) if end - beat >= 0.5 else 0.5
            move = int(rng.choice([-2, -1, -1, 0, 1, 1, 2, 3, -3]))
            index = int(np.clip(index + move, 0, len(keys) - 1))
            if beat % 1 == 0:  # strong beats lean to chord tones
                chord = song.chord_at(beat)
                near = [i for i in range(max(0, index - 2), min(len(keys), index + 3)) if keys[i] % 12 in chord]
                if near:
                    index = min(near, key=lambda i: abs(i - index))
            notes.append((beat, duration, keys[index]))
            beat += duration
        bar += length_bars
    return notes


def voice(song, rng, on, harmony_of=None):
    part = Part(0, program=int(rng.choice(PROGRAMS["voice"])))
    centre = int(rng.integers(55, 67))
    if harmony_of is None:
        line = melody(song, rng, centre - 5, centre + 9, on)
    else:  # a third (in the scale) above the lead
        line = []
        for beat, duration, key in harmony_of:
            up = [k for k in song.scale_keys(key + 3, key + 4)]
            line.append((beat, duration, up[0] if up else key + 3))
    for beat, duration, key in line:
        part.note(beat + jitter(rng, 8, song.bpm), duration * 0.97, key, human(rng, 95, 16))
    part.controls[1] = int(rng.integers(0, 70))  # vibrato depth
    return part, line


VOWELS = np.array([[800, 1150, 2900], [400, 1600, 2700], [350, 2000, 2800], [450, 800, 2830], [325, 700, 2530]])


def sung_line(song, rng, frames):
    """The sung line of the synthetic test songs: harmonic tones through three vowel formants, vibrato
    setting in after the onset, phrases with breaths. Mono, in seconds of the song's tempo."""
    out = np.zeros(frames)
    beat = 60.0 / song.bpm
    bar = 4 * beat
    vibrato_rate = rng.uniform(4.8, 6.4)
    vibrato_depth = rng.uniform(0.25, 0.6)
    lowest = 55 + int(rng.integers(8))
    step = int(rng.integers(7))
    bandwidth = np.array([80.0, 100.0, 140.0])
    weight = np.array([1.0, 0.7, 0.4])
    seconds = frames / RATE
    b = 0
    while b * bar < seconds:
        if rng.random() < 0.25:
            b += 1
            continue
        t0 = b * bar
        while t0 < (b + 1) * bar - 0.1:
            length = beat * (0.5 if rng.integers(3) == 0 else 1.0 + int(rng.integers(2)))
            step = int(np.clip(step + int(rng.integers(5)) - 2, 0, 13))
            key = lowest + song.key + 12 * (step // 7) + MAJOR[step % 7]
            f = 440.0 * 2 ** ((key - 69) / 12)
            vowel = VOWELS[int(rng.integers(5))]
            partials = max(1, int(8000 / f))
            k = np.arange(1, partials + 1)[:, None]
            distance = (k * f - vowel[None, :]) / (bandwidth[None, :] / 2)
            amplitude = (0.03 + (weight[None, :] / (1 + distance ** 2)).sum(axis=1)) / k[:, 0] ** 0.6
            sung = length - 0.04
            n = int(sung * RATE)
            t = np.arange(n) / RATE
            onset = np.clip((t - 0.15) / 0.2, 0, 1)
            bend = onset * vibrato_depth * np.sin(2 * np.pi * vibrato_rate * t)
            phase = rng.uniform(0, 2 * np.pi) + np.cumsum(2 * np.pi * f * 2 ** (bend / 12) / RATE)
            envelope = (np.minimum(1, t / 0.04) * np.minimum(1, (sung - t) / 0.06)
                        * (1 + 0.1 * onset * np.sin(2 * np.pi * vibrato_rate * t)))
            value = np.zeros(n)
            for i, a in enumerate(amplitude):
                value += a * np.sin((i + 1) * phase)
            start = int(t0 * RATE)
            stop = min(frames, start + n)
            if start < frames:
                out[start:stop] += (envelope * value)[: stop - start]
            t0 += length
        b += 1
    return out


# --- guitar ------------------------------------------------------------------------------------------

def voicing(pitch_classes, low=40, high=76, strings=6):
    """A guitar-like chord: root low, then chord tones stacked at least a minor third apart."""
    root = low + (pitch_classes[0] - low) % 12
    keys = [root]
    candidates = chord_keys(pitch_classes, root + 3, high)
    for k in candidates:
        if len(keys) >= strings:
            break
        if k - keys[-1] >= 3:
            keys.append(k)
    return keys


def guitar(song, rng):
    kind = str(rng.choice(list(PROGRAMS["guitar"])))
    part = Part(0, program=PROGRAMS["guitar"][kind])
    heavy = kind in ("overdriven", "distorted")
    style = str(rng.choice(["riff", "power", "strum"] if heavy else ["strum", "strum", "arpeggio", "riff"]))
    on = song.active_bars(0.85)
    low = int(rng.integers(40, 46))
    pattern = [rng.random() < p for p in (0.95, 0.3, 0.7, 0.5, 0.8, 0.5, 0.7, 0.5)]
    picks = [int(i) for i in rng.integers(0, 6, size=8)]
    riff = [int(rng.choice([0, 0, 3, 5, 7, 10, 12])) for _ in range(8)]
    riff_on = [rng.random() < 0.75 for _ in range(8)]
    for beat2 in range(2 * song.beats):  # eighth notes
        beat = beat2 / 2
        if not on[int(beat) // 4]:
            continue
        slot = beat2 % 8
        chord = song.chord_at(beat)
        t = song.swung(beat) + jitter(rng, 6, song.bpm)
        if style == "strum":
            if not pattern[slot]:
                continue
            keys = voicing(chord, low)
            down = slot % 2 == 0
            order = keys if down else keys[::-1][: int(rng.integers(3, len(keys) + 1))]
            spread = rng.uniform(0.01, 0.03) * song.bpm / 60
            hold = 0.5 * (next((i for i in range(1, 8) if pattern[(slot + i) % 8]), 8)) - 0.05
            for i, key in enumerate(order):
                part.note(t + i * spread, hold, key, human(rng, 90 if down else 70))
        elif style == "arpeggio":
            keys = voicing(chord, low)
            key = keys[picks[slot] % len(keys)]
            part.note(t, float(rng.uniform(0.5, 1.5)), key, human(rng, 85))
        elif style == "power":
            if not pattern[slot]:
                continue
            root = low + (chord[0] - low) % 12
            length = 0.2 if rng.random() < 0.6 else 0.45  # palm-muted or open
            for key in (root, root + 7, root + 12):
                part.note(t, length, key, human(rng, 100))
        else:  # riff: a repeated one-bar figure on the minor pentatonic of the chord's root
            if not riff_on[slot]:
                continue
            root = low + (chord[0] - low) % 12 + (12 if not heavy and rng.random() < 0.5 else 0)
            part.note(t, 0.45 if heavy else 0.5, root + riff[slot], human(rng, 95))
    return part, kind, style


# --- piano -------------------------------------------------------------------------------------------

def piano(song, rng):
    kind = str(rng.choice(list(PROGRAMS["piano"])))
    part = Part(0, program=PROGRAMS["piano"][kind])
    style = str(rng.choice(["chords", "broken", "melody"]))
    on = song.active_bars(0.85)
    # Often in the guitar's register.
    centre = int(rng.choice([52, 55, 60, 60, 64, 67]))
    rhythms = [[0, 2], [0, 1, 2, 3], [0, 1.5, 3], [0], [0, 0.5, 1.5, 2.5, 3]]
    rhythm = [float(x) for x in rhythms[int(rng.integers(len(rhythms)))]]
    left_hand = rng.random() < 0.4
    if style == "melody":
        line = melody(song, rng, centre + 2, centre + 16, on, rest=0.15)
        for beat, duration, key in line:
            part.note(beat + jitter(rng, 5, song.bpm), duration * 0.9, key, human(rng, 85, 20))
    for bar in range(song.bars):
        if not on[bar]:
            continue
        for offset in rhythm if style != "broken" else [i / 2 for i in range(8)]:
            beat = 4 * bar + offset
            chord = song.chord_at(beat)
            keys = [nearest_key(pc, centre) for pc in chord]
            if rng.random() < 0.3:
                keys.append(nearest_key((chord[0]), centre + 12))
            if style == "chords":
                length = min(4 * bar + 4, beat + (rhythm[rhythm.index(offset) + 1] - offset if offset != rhythm[-1] else 4 - offset))
                for key in keys:
                    part.note(beat + jitter(rng, 4, song.bpm), length - beat - 0.05, key, human(rng, 80))
            elif style == "broken":
                key = sorted(keys)[[0, 1, 2, 1][int(offset * 2) % 4] % len(keys)]
                part.note(song.swung(beat), 0.9, key, human(rng, 78))
            elif style == "melody" and offset == rhythm[0]:
                for key in keys:
                    part.note(beat, 3.8, key - 12, human(rng, 60))
        if left_hand:
            chord = song.chord_at(4 * bar)
            part.note(4 * bar, 1.9, 36 + (chord[0] - 36) % 12, human(rng, 75))
            part.note(4 * bar + 2, 1.9, 36 + (chord[0] - 36) % 12 + 12, human(rng, 70))
    return part, kind, style


# --- distractors -------------------------------------------------------------------------------------

def distractor(song, rng):
    family = str(rng.choice(["strings", "pad", "organ", "brass", "lead"]))
    part = Part(0, program=int(rng.choice(PROGRAMS[family])))
    on = song.active_bars(0.7)
    centre = int(rng.integers(52, 72))
    if family == "lead" or (family == "brass" and rng.random() < 0.5):
        for beat, duration, key in melody(song, rng, centre, centre + 14, on, rest=0.4):
            part.note(beat, duration * 0.95, key, human(rng, 85, 16))
        return part, family
    stabs = family == "brass" or (family == "organ" and rng.random() < 0.4)
    for bar in range(song.bars):
        if not on[bar]:
            continue
        for half in range(song.chords_per_bar):
            beat = 4 * bar + half * 4 / song.chords_per_bar
            keys = [nearest_key(pc, centre) for pc in song.chord_at(beat)]
            if stabs:
                for offset in (0, 1.5, 3)[: 3 // song.chords_per_bar]:
                    for key in keys:
                        part.note(beat + offset, 0.35, key, human(rng, 95))
            else:
                for key in keys:
                    part.note(beat, 4 / song.chords_per_bar - 0.05, key, human(rng, 75))
    return part, family


# --- audio -------------------------------------------------------------------------------------------

def render_part(part, song, soundfont, settings, frames, work):
    mid = os.path.join(work, "part.mid")
    raw = os.path.join(work, "part.raw")
    with open(mid, "wb") as f:
        f.write(part.to_bytes(song.bpm, song.beats + 1))
    command = ["fluidsynth", "-niq", "-g", "0.4", "-r", str(RATE), "-T", "raw", "-O", "float", "-E", "little"]
    for name, value in settings.items():
        command += ["-o", f"{name}={value}"]
    command += ["-F", raw, soundfont, mid]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    audio = np.fromfile(raw, dtype="<f4").reshape(-1, 2).T.astype(np.float64)
    out = np.zeros((2, frames))
    n = min(frames, audio.shape[1])
    out[:, :n] = audio[:, :n]
    return out


def biquad(kind, f0, gain_db, q):
    a = 10 ** (gain_db / 40)
    w = 2 * np.pi * f0 / RATE
    alpha = np.sin(w) / (2 * q)
    cos = np.cos(w)
    if kind == "peak":
        b = [1 + alpha * a, -2 * cos, 1 - alpha * a]
        den = [1 + alpha / a, -2 * cos, 1 - alpha / a]
    else:
        sq = 2 * np.sqrt(a) * alpha
        if kind == "low":
            b = [a * ((a + 1) - (a - 1) * cos + sq), 2 * a * ((a - 1) - (a + 1) * cos), a * ((a + 1) - (a - 1) * cos - sq)]
            den = [(a + 1) + (a - 1) * cos + sq, -2 * ((a - 1) + (a + 1) * cos), (a + 1) + (a - 1) * cos - sq]
        else:
            b = [a * ((a + 1) + (a - 1) * cos + sq), -2 * a * ((a - 1) + (a + 1) * cos), a * ((a + 1) + (a - 1) * cos - sq)]
            den = [(a + 1) - (a - 1) * cos + sq, 2 * ((a - 1) - (a + 1) * cos), (a + 1) - (a - 1) * cos - sq]
    return np.array(b) / den[0], np.array(den) / den[0]


def equalise(audio, rng):
    if rng.random() < 0.25:
        return audio
    for kind, low, high in (("low", 60, 300), ("peak", 200, 5000), ("high", 2500, 10000)):
        if rng.random() < 0.6:
            b, a = biquad(kind, rng.uniform(low, high), rng.uniform(-6, 6), rng.uniform(0.6, 1.8))
            audio = signal.lfilter(b, a, audio, axis=1)
    return audio


def gain_curve(audio, rng):
    """A stereo-linked feed-forward compressor's gain: RMS detector, threshold, ratio, attack, release."""
    power = (audio ** 2).mean(axis=0)
    peak_power = power.max() + 1e-12
    attack = np.exp(-1 / (rng.uniform(0.003, 0.03) * RATE))
    release = np.exp(-1 / (rng.uniform(0.05, 0.3) * RATE))
    # One-pole smoothing of the power: the attack coefficient on rises, the release one on falls,
    # approximated at block level (64 samples) to keep it fast in numpy.
    block = 64
    n = power.size // block * block
    blocks = power[:n].reshape(-1, block).mean(axis=1)
    env = np.empty_like(blocks)
    level = 0.0
    a_b, r_b = attack ** block, release ** block
    for i, p in enumerate(blocks):
        c = a_b if p > level else r_b
        level = c * level + (1 - c) * p
        env[i] = level
    db = 10 * np.log10(env + 1e-12) - 10 * np.log10(peak_power)
    threshold = rng.uniform(-28, -10)
    ratio = rng.uniform(2, 6)
    reduction = np.minimum(0, (threshold - db) * (1 - 1 / ratio))
    gain = 10 ** (reduction / 20)
    full = np.interp(np.arange(power.size), np.arange(blocks.size) * block + block / 2, gain)
    return full / full.max()


def rms(audio):
    return float(np.sqrt((audio ** 2).mean())) if audio.size else 0.0


def make_song(seed, soundfont_name, seconds_range, work):
    rng = np.random.default_rng(seed)
    seconds = float(rng.uniform(*seconds_range))
    song = Song(rng, seconds)
    frames = int(round(song.beats * 60 / song.bpm * RATE))
    soundfont = SOUNDFONTS[soundfont_name]
    settings = {
        "synth.reverb.room-size": round(float(rng.uniform(0.1, 0.9)), 3),
        "synth.reverb.damp": round(float(rng.uniform(0.0, 0.8)), 3),
        "synth.reverb.width": round(float(rng.uniform(0.2, 1.0)), 3),
        "synth.reverb.level": round(float(rng.uniform(0.3, 1.0)), 3),
        "synth.chorus.level": round(float(rng.uniform(0.5, 3.0)), 3),
        "synth.chorus.depth": round(float(rng.uniform(2, 12)), 3),
        "synth.chorus.speed": round(float(rng.uniform(0.2, 1.5)), 3),
    }
    all_centre = bool(rng.random() < 0.15)
    info = {"seed": seed, "soundfont": soundfont_name, "bpm": song.bpm, "key": song.key, "minor": song.minor,
            "frames": frames, "all_centre": all_centre, "fluidsynth": settings, "parts": []}

    present = {name: rng.random() < p for name, p in
               (("vocals", 0.9), ("drums", 0.9), ("bass", 0.9), ("guitar", 0.85), ("piano", 0.8))}
    parts = []  # (stem, Part or audio, description)
    if present["drums"]:
        parts.append(("drums", drums(song, rng), {}))
    if present["bass"]:
        parts.append(("bass", bass(song, rng), {}))
    if present["vocals"]:
        on = song.active_bars(0.8)
        kind = rng.random()
        if kind < 0.3:
            parts.append(("vocals", sung_line(song, rng, frames), {"voice": "synthetic"}))
        else:
            part, line = voice(song, rng, on)
            parts.append(("vocals", part, {"program": part.program}))
            if rng.random() < 0.2:
                harmony, _ = voice(song, rng, on, harmony_of=line)
                parts.append(("vocals", harmony, {"program": harmony.program, "harmony": True}))
            if kind > 0.85:
                parts.append(("vocals", sung_line(song, rng, frames), {"voice": "synthetic"}))
    if present["guitar"]:
        for _ in range(1 if rng.random() < 0.8 else 2):
            part, kind, style = guitar(song, rng)
            parts.append(("guitar", part, {"kind": kind, "style": style}))
    if present["piano"]:
        part, kind, style = piano(song, rng)
        parts.append(("piano", part, {"kind": kind, "style": style}))
    for _ in range(int(rng.choice([0, 1, 1, 2, 2, 3]))):
        part, family = distractor(song, rng)
        parts.append(("other", part, {"family": family, "program": part.program}))

    stems = np.zeros((len(STEMS), 2, frames))
    for stem, part, description in parts:
        pan = 0.0 if all_centre else float(np.clip(rng.normal(0, 0.45), -1, 1))
        if stem in ("vocals", "bass") and not all_centre:
            pan *= 0.3
        if isinstance(part, Part):
            part.controls.update({7: 100, 10: int(round(64 + 63 * pan)),
                                  91: int(rng.integers(0, 100)), 93: int(rng.integers(0, 80))})
            audio = render_part(part, song, soundfont, settings, frames, work)
            description.update({"program": part.program, "reverb": part.controls[91], "chorus": part.controls[93]})
        else:
            left, right = np.cos((pan + 1) * np.pi / 4), np.sin((pan + 1) * np.pi / 4)
            audio = np.stack([left * part, right * part])
        if rms(audio) < 1e-7:
            continue
        audio = equalise(audio, rng)
        if rng.random() < 0.5:
            audio = audio * gain_curve(audio, rng)[None, :]
        level_db = float(rng.uniform(-6, 3) if stem != "other" else rng.uniform(-12, 0))
        audio *= 10 ** (level_db / 20) / rms(audio)
        stems[STEMS.index(stem)] += audio
        description.update({"stem": stem, "pan": round(pan, 3), "level_db": round(level_db, 2)})
        info["parts"].append(description)

    mix = stems.sum(axis=0)
    if rng.random() < 0.3:  # bus compression: one gain curve on every stem keeps the exact sum
        stems *= gain_curve(mix, rng)[None, None, :]
        mix = stems.sum(axis=0)
    peak = np.abs(mix).max()
    scale = float(rng.uniform(0.3, 0.9)) * 32767 / peak
    # A stem can peak above the mixture where parts cancel; it must fit in 16 bits too.
    scale = min(scale, 32000 / np.abs(stems).max())
    out = np.round(stems * scale).astype(np.int16)
    # The stored mixture is the integer sum of the stored stems; keep it inside 16 bits.
    assert np.abs(out.astype(np.int32).sum(axis=0)).max() < 32767
    return out, info


def check_effects():
    """Renders one piano note with the reverb and chorus sends off and full, and prints how the tail's
    level and the difference between the channels move: both sends must change the sound."""

    def level(x):
        return 10 * np.log10((x ** 2).mean() + 1e-20)

    settings = {"synth.reverb.room-size": 0.8, "synth.reverb.level": 1.0}
    song = Song(np.random.default_rng(0), 3)
    with tempfile.TemporaryDirectory() as work:
        for name, soundfont in SOUNDFONTS.items():
            for reverb, chorus in ((0, 0), (127, 0), (0, 127)):
                part = Part(0, program=0)
                part.controls = {10: 64, 91: reverb, 93: chorus}
                part.note(0, 1, 60, 100)
                audio = render_part(part, song, soundfont, settings, 2 * RATE, work)
                tail = audio[:, int((60 / song.bpm + 0.05) * RATE):]  # after the note is released
                print(f"{name} CC91={reverb:3d} CC93={chorus:3d}: tail {level(tail):6.1f} dB, "
                      f"left minus right {level(audio[0] - audio[1]):6.1f} dB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--check-effects", action="store_true", help="show that CC91 and CC93 take effect")
    parser.add_argument("--out")
    parser.add_argument("--seeds", help="FIRST:LAST, inclusive")
    parser.add_argument("--soundfont", default="alternate", choices=["fluid", "timgm", "alternate"])
    parser.add_argument("--seconds", default="12:20")
    args = parser.parse_args()
    if args.check_effects:
        check_effects()
        return
    if not args.out or not args.seeds:
        parser.error("--out and --seeds are needed")
    first, last = (int(x) for x in args.seeds.split(":"))
    seconds = tuple(float(x) for x in args.seconds.split(":"))
    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        for seed in range(first, last + 1):
            name = args.soundfont if args.soundfont != "alternate" else ("fluid", "timgm")[seed % 2]
            base = os.path.join(args.out, f"{seed}-{name}")
            if os.path.exists(base + ".json"):
                continue
            started = time.time()
            stems, info = make_song(seed, name, seconds, work)
            info["render_seconds"] = round(time.time() - started, 2)
            np.save(base + ".npy", stems)
            with open(base + ".json", "w") as f:  # written last: marks the song complete
                json.dump(info, f, indent=1)
            print(f"{seed} {name} {stems.shape[2] / RATE:.1f} s audio in {info['render_seconds']:.1f} s, "
                  f"{len(info['parts'])} parts", flush=True)


if __name__ == "__main__":
    main()
