"""A minimal Standard MIDI File writer: one track, one tempo, enough for rendering single parts."""

import struct

TICKS_PER_BEAT = 480


def _variable_length(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    return bytes(reversed(out))


class Part:
    """One instrument on one channel. Times are in beats, converted to ticks on writing."""

    def __init__(self, channel, program=None, bank=0):
        self.channel = channel
        self.program = program
        self.bank = bank
        self.controls = {}  # controller number -> value, sent at the start
        self.notes = []  # (start beat, length in beats, key, velocity)
        self.bends = []  # (beat, value -8192..8191)

    def note(self, start, length, key, velocity):
        if 0 <= key <= 127 and length > 0:
            self.notes.append((start, length, int(key), int(max(1, min(127, velocity)))))

    def to_bytes(self, bpm, end_beat):
        def tick(beat):
            return max(0, int(round(beat * TICKS_PER_BEAT)))

        c = self.channel
        head = [(0, 0, bytes([0xFF, 0x51, 0x03]) + struct.pack(">I", int(round(60e6 / bpm)))[1:])]
        if self.bank:
            head.append((0, 1, bytes([0xB0 | c, 0, self.bank])))
        if self.program is not None:
            head.append((0, 2, bytes([0xC0 | c, self.program])))
        for number, value in sorted(self.controls.items()):
            head.append((0, 3, bytes([0xB0 | c, number, int(value)])))
        events = []
        for start, length, key, velocity in self.notes:
            # Offs before ons at the same tick, so a repeated key is not cut by its own release.
            events.append((tick(start) + 1, 6, bytes([0x90 | c, key, velocity])))
            events.append((tick(start + length) + 1, 5, bytes([0x80 | c, key, 0])))
        for beat, value in self.bends:
            v = int(value) + 8192
            events.append((tick(beat) + 1, 4, bytes([0xE0 | c, v & 0x7F, (v >> 7) & 0x7F])))
        events.sort(key=lambda e: (e[0], e[1]))
        events.append((max(tick(end_beat), events[-1][0] if events else 0), 9, bytes([0xFF, 0x2F, 0x00])))
        track = bytearray()
        now = 0
        for when, _, data in head + events:
            track += _variable_length(when - now) + data
            now = when
        return (b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS_PER_BEAT)
                + b"MTrk" + struct.pack(">I", len(track)) + bytes(track))
