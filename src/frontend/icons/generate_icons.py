#!/usr/bin/env python3
"""Writes every icon of the program into this folder, and the application icon app/zelk.svg.

One description per icon (shape, glyph, caption); the state pictures come from one palette per
state, so all buttons share the look of the text buttons. The generated files are committed: the
build does not run this script. Run it again after changing a description:

    python3 src/frontend/icons/generate_icons.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "Arial"

# --- Glyphs: drawn on a 48 x 48 grid, as strokes (and a few fills) in the current colour. -------


def gear_path(cx, cy, outer, inner, teeth):
    points = []
    step = 2 * math.pi / teeth
    for i in range(teeth):
        a = i * step - math.pi / 2
        for da, r in ((-0.30, inner), (-0.17, outer), (0.17, outer), (0.30, inner)):
            points.append((cx + r * math.cos(a + da * step * 1.6), cy + r * math.sin(a + da * step * 1.6)))
    return "M" + " L".join("%.2f %.2f" % p for p in points) + " Z"


def piano_keys():
    # Five white keys, black keys where a keyboard has them (C# D# and F#).
    parts = ['<rect x="5" y="10" width="38" height="28" rx="2.5"/>']
    key = 38 / 5
    for i in range(1, 5):
        parts.append('<path d="M%.2f 10 V38"/>' % (5 + key * i))
    for i in (1, 2, 4):
        x = 5 + key * i
        parts.append('<rect x="%.2f" y="10" width="4.6" height="16" rx="0.8" fill="currentColor"/>' % (x - 2.3))
    return "".join(parts)


def waveform():
    heights = [6, 14, 22, 12, 30, 18, 26, 10, 16, 6]
    parts = []
    for i, h in enumerate(heights):
        x = 6 + i * 4
        parts.append('<path d="M%d %.1f V%.1f"/>' % (x, 24 - h / 2, 24 + h / 2))
    return "".join(parts)


GLYPHS = {
    "person": '<circle cx="24" cy="15" r="8"/>'
              '<path d="M8 42 C8 32 15 27 24 27 C33 27 40 32 40 42"/>',
    "question": '<path d="M16.5 17 C16.5 11.5 20 8.5 24 8.5 C28.5 8.5 31.5 11.5 31.5 15.5 '
                'C31.5 19.5 28.5 21 26.5 22.8 C24.8 24.3 24 26 24 29.5"/>'
                '<circle cx="24" cy="38" r="2.6" fill="currentColor" stroke="none"/>',
    "file-plus": '<path d="M12 5 H29 L38 14 V43 H12 Z"/><path d="M29 5 V14 H38"/>'
                 '<path d="M25 21 V35 M18 28 H32"/>',
    "folder": '<path d="M5 11 H18 L22 15 H43 V39 H5 Z"/><path d="M5 20 H43"/>',
    "gear": '<path d="%s"/><circle cx="24" cy="24" r="6"/>' % gear_path(24, 24, 20, 14.5, 8),
    "archive": '<rect x="6" y="7" width="36" height="9" rx="1.5"/>'
               '<path d="M9 16 V41 H39 V16"/><path d="M19 24 H29"/>',
    "home": '<path d="M5 23 L24 6 L43 23"/><path d="M11 18 V42 H37 V18"/><path d="M20 42 V30 H28 V42"/>',
    "convert": '<path d="M9 17 H37 M31 11 L37 17 L31 23"/><path d="M39 31 H11 M17 25 L11 31 L17 37"/>',
    "notes": '<path d="M18 36 V11 L38 6 V31"/><path d="M18 17 L38 12" stroke-width="4.5"/>'
             '<ellipse cx="13.5" cy="36" rx="5" ry="4" fill="currentColor"/>'
             '<ellipse cx="33.5" cy="31" rx="5" ry="4" fill="currentColor"/>',
    "guitar": '<g transform="rotate(38 24 26)">'
              '<path d="M24 22 C20 22 17 23 17 27 C17 30 19 31 19 32 C19 33 15 35 15 39 '
              'C15 44 19 46 24 46 C29 46 33 44 33 39 C33 35 29 33 29 32 C29 31 31 30 31 27 '
              'C31 23 28 22 24 22 Z"/>'
              '<circle cx="24" cy="31" r="2.6"/><path d="M21 40 H27"/>'
              '<path d="M24 22 V5"/><rect x="21.5" y="1" width="5" height="5" rx="1" fill="currentColor"/>'
              '</g>',
    "bass": '<g transform="rotate(38 24 26)">'
            '<path d="M24 28 C22 28 20 25 17.5 25 C15.5 27 16 31 17.5 33 C15.5 36 14.5 39 15.5 42 '
            'C17.5 47 30.5 47 32.5 42 C33.5 39 32.5 36 30.5 33 C32 31 32.5 27 30.5 25 C28 25 26 28 24 28 Z"/>'
            '<path d="M21 39 H27"/><path d="M24 28 V1"/>'
            '<path d="M21 3 H23 M21 7 H23 M25 3 H27 M25 7 H27"/>'
            '</g>',
    "piano": piano_keys(),
    "drums": '<ellipse cx="24" cy="22" rx="16" ry="5.5"/>'
             '<path d="M8 22 V35 C8 38.5 15 41.5 24 41.5 C33 41.5 40 38.5 40 35 V22"/>'
             '<path d="M8 29 L15 40 M40 29 L33 40 M24 27.5 V41.5"/>'
             '<path d="M11 4 L21 17 M37 4 L27 17"/>',
    "microphone": '<rect x="17" y="4" width="14" height="23" rx="7"/>'
                  '<path d="M17 14 H22 M17 19 H22"/>'
                  '<path d="M10 20 C10 29 16 33.5 24 33.5 C32 33.5 38 29 38 20"/>'
                  '<path d="M24 33.5 V42 M16 43 H32"/>',
    "eye": '<path d="M4 24 C10 14 17 10.5 24 10.5 C31 10.5 38 14 44 24 C38 34 31 37.5 24 37.5 '
           'C17 37.5 10 34 4 24 Z"/><circle cx="24" cy="24" r="6.5" fill="currentColor"/>',
    "eye-slash": '<path d="M4 24 C10 14 17 10.5 24 10.5 C31 10.5 38 14 44 24 C38 34 31 37.5 24 37.5 '
                 'C17 37.5 10 34 4 24 Z"/><circle cx="24" cy="24" r="6.5" fill="currentColor"/>'
                 '<path d="M9 41 L39 7"/>',
    "speaker": '<path d="M7 18 H15 L26 9 V39 L15 30 H7 Z"/>'
               '<path d="M32 17.5 C35 20.5 35 27.5 32 30.5"/><path d="M37 12 C43.5 18 43.5 30 37 36"/>',
    "camera": '<rect x="4" y="13" width="28" height="22" rx="3.5"/><path d="M32 21 L44 14 V34 L32 27"/>'
              '<circle cx="12" cy="20" r="2.5" fill="currentColor" stroke="none"/>',
    "download": '<path d="M24 6 V30 M14 21 L24 31 L34 21"/><path d="M8 32 V41 H40 V32"/>',
    "play": '<path d="M15 8 L39 24 L15 40 Z" fill="currentColor"/>',
    "lock": '<rect x="10.5" y="21" width="27" height="21" rx="3.5"/>'
            '<path d="M16 21 V15 C16 10 19.5 6.5 24 6.5 C28.5 6.5 32 10 32 15 V21"/>'
            '<circle cx="24" cy="29.5" r="2.6" fill="currentColor" stroke="none"/><path d="M24 31 V36"/>',
    "waveform": waveform(),
}

# --- State palettes --------------------------------------------------------------------------------
# Buttons share the text buttons' colours: white-to-blue frame, blue fill, lighter when hovered,
# the fill turned upside down when pressed, grey when disabled.
TILE_STATES = {
    "U": dict(frame=("#FFFFFF", "#0212AE"), fill=("#1C2E9B", "#021244"), ink="#FFFFFF", gloss=0.16),
    "F": dict(frame=("#FFFFFF", "#2a7bd8"), fill=("#0071BC", "#021e5c"), ink="#FFFFFF", gloss=0.22),
    "D": dict(frame=("#B8C4F0", "#01095A"), fill=("#021244", "#16267F"), ink="#CFD8FF", gloss=0.0),
    "X": dict(frame=("#999999", "#999999"), fill=("#B3B3B3", "#4D4D4D"), ink="#E6E6E6", gloss=0.10),
}
# Glyphs drawn straight on a white field (the password eye in a text box).
INLINE_STATES = {
    "U": dict(ink="#6B7A99"),
    "F": dict(ink="#0071BC"),
    "D": dict(ink="#021244"),
}
PLAIN_INK = "#FFFFFF"

# --- Icon descriptions -----------------------------------------------------------------------------
# kind: "tile" (rounded square button), "round" (circle), "pill" (wide with caption), "inline"
# (glyph only, state coloured) or "plain" (white glyph, no states).
ICONS = [
    dict(name="My Account", kind="pill", size=(140, 28), glyph="person", caption="My Account"),
    dict(name="Help", kind="round", size=(30, 30), glyph="question"),
    dict(name="Select File", kind="tile", size=(130, 130), glyph="file-plus", caption="SELECT FILE"),
    dict(name="Settings", kind="tile", size=(130, 130), glyph="gear", caption="SETTINGS"),
    dict(name="archive", kind="tile", size=(130, 130), glyph="archive", caption="ARCHIVE"),
    dict(name="Output Format", kind="tile", size=(130, 130), glyph="convert", caption="OUTPUT FORMAT"),
    dict(name="Select Instrument", kind="tile", size=(130, 130), glyph="notes", caption="INSTRUMENT"),
    dict(name="guitar", kind="tile", size=(130, 130), glyph="guitar", caption="GUITAR"),
    dict(name="vocals", kind="tile", size=(130, 130), glyph="microphone", caption="VOCALS"),
    dict(name="piano", kind="tile", size=(130, 130), glyph="piano", caption="PIANO"),
    dict(name="bass", kind="tile", size=(130, 130), glyph="bass", caption="BASS"),
    dict(name="drums", kind="tile", size=(130, 130), glyph="drums", caption="DRUMS"),
    # Carries a picture and a label of its own on top, so the tile stays empty.
    dict(name="open in", kind="tile", size=(130, 130), glyph=None, caption=None),
    dict(name="home", kind="tile", size=(36, 36), glyph="home"),
    dict(name="Select File Small", kind="tile", size=(36, 36), glyph="folder"),
    dict(name="password-hidden", kind="inline", size=(24, 24), glyph="eye-slash"),
    dict(name="password-visible", kind="inline", size=(24, 24), glyph="eye"),
    dict(name="audio", kind="plain", size=(80, 80), glyph="speaker"),
    dict(name="video", kind="plain", size=(80, 80), glyph="camera"),
    dict(name="download", kind="plain", size=(16, 16), glyph="download"),
    dict(name="play", kind="plain", size=(16, 16), glyph="play"),
    dict(name="lock", kind="plain", size=(24, 24), glyph="lock"),
    dict(name="process", kind="plain", size=(48, 48), glyph="waveform"),
]


def svg_document(width, height, body, defs=""):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="%d" height="%d" viewBox="0 0 %d %d">\n'
            '<defs>%s</defs>\n%s\n</svg>\n' % (width, height, width, height, defs, body))


def vertical_gradient(gid, top, bottom, top_opacity=1.0, bottom_opacity=1.0, bottom_offset=1.0):
    return ('<linearGradient id="%s" x1="0" y1="0" x2="0" y2="1">'
            '<stop offset="0" stop-color="%s" stop-opacity="%g"/>'
            '<stop offset="%g" stop-color="%s" stop-opacity="%g"/></linearGradient>'
            % (gid, top, top_opacity, bottom_offset, bottom, bottom_opacity))


def glyph_group(glyph, ink, x, y, box, stroke):
    """The glyph scaled from its 48 grid into the box at (x, y)."""
    scale = box / 48.0
    body = GLYPHS[glyph].replace("currentColor", ink)
    return ('<g transform="translate(%.2f %.2f) scale(%.4f)" fill="none" stroke="%s" stroke-width="%g" '
            'stroke-linecap="round" stroke-linejoin="round">%s</g>' % (x, y, scale, ink, stroke, body))


def caption_text(text, x, y, size, ink, anchor="middle"):
    return ('<text x="%.1f" y="%.1f" fill="%s" font-family="%s" font-size="%g" font-weight="bold" '
            'text-anchor="%s">%s</text>' % (x, y, ink, FONT, size, anchor, text))


def button_svg(icon, state):
    """A tile, round or pill button in one state."""
    palette = TILE_STATES[state]
    w, h = icon["size"]
    kind = icon["kind"]
    defs = (vertical_gradient("frame", *palette["frame"]) + vertical_gradient("fill", *palette["fill"])
            + vertical_gradient("gloss", "#FFFFFF", "#FFFFFF", palette["gloss"], 0.0, 0.55))
    if kind == "round":
        radius = w / 2.0
    elif kind == "pill":
        radius = h / 2.0
    else:
        radius = max(6.0, w * 0.14)
    border = 1.0 if min(w, h) < 60 else 2.0
    parts = [
        '<rect x="0" y="0" width="%g" height="%g" rx="%g" fill="url(#frame)"/>' % (w, h, radius),
        '<rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="url(#fill)"/>'
        % (border, border, w - 2 * border, h - 2 * border, radius - border),
        '<rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="url(#gloss)"/>'
        % (border, border, w - 2 * border, h - 2 * border, radius - border),
    ]
    ink = palette["ink"]
    if kind == "pill":
        box = h - 10
        parts.append(glyph_group(icon["glyph"], ink, h / 2.0 - box / 2.0 + 4, 5, box, 3.4))
        parts.append(caption_text(icon["caption"], h + 6, h / 2.0 + 4.6, 13, ink, "start"))
    elif icon["glyph"] and icon.get("caption"):
        box = w * 0.46
        parts.append(glyph_group(icon["glyph"], ink, (w - box) / 2.0, h * 0.16, box, 3.0))
        parts.append(caption_text(icon["caption"], w / 2.0, h * 0.86, 12 if len(icon["caption"]) < 12 else 10.5,
                                  ink))
    elif icon["glyph"]:
        box = w * 0.62
        parts.append(glyph_group(icon["glyph"], ink, (w - box) / 2.0, (h - box) / 2.0, box, 3.6))
    else:
        # An empty tile still shows a faint inner line, so it reads as a button.
        parts.append('<rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="none" stroke="%s" '
                     'stroke-opacity="0.25" stroke-width="1"/>'
                     % (6, 6, w - 12, h - 12, radius - 5, ink))
    return svg_document(w, h, "\n".join(parts), defs)


def inline_svg(icon, state):
    w, h = icon["size"]
    return svg_document(w, h, glyph_group(icon["glyph"], INLINE_STATES[state]["ink"], 0, 0, w, 3.2))


def plain_svg(icon):
    w, h = icon["size"]
    return svg_document(w, h, glyph_group(icon["glyph"], PLAIN_INK, 0, 0, w, 3.2))


# --- The stripe tile of the progress bar: a tiny PNG writer, no image library needed. --------------

def png_bytes(width, height, rgba_rows):
    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + bytes(row) for row in rgba_rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def stripe_tile(width=64, height=52):
    """One period of diagonal stripes; x wraps exactly at the tile width, so tiles join seamlessly."""
    top, bottom = (38, 138, 230), (10, 58, 160)
    stripe_top, stripe_bottom = (110, 190, 255), (40, 110, 215)
    samples = 4
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    px = x + (sx + 0.5) / samples
                    py = y + (sy + 0.5) / samples
                    t = py / height
                    phase = ((px + py * 0.9) % width) / width
                    colour = mix(stripe_top, stripe_bottom, t) if phase < 0.5 else mix(top, bottom, t)
                    for i in range(3):
                        acc[i] += colour[i]
            colour = [c / (samples * samples) for c in acc]
            # A soft highlight along the top edge gives the bar some depth.
            shine = max(0.0, 1.0 - y / (height * 0.45)) * 0.25
            colour = mix(colour, (255, 255, 255), shine)
            row.extend(int(round(c)) for c in colour)
            row.append(255)
        rows.append(row)
    return png_bytes(width, height, rows)


def main():
    written = []

    def write(name, content):
        mode = "wb" if isinstance(content, bytes) else "w"
        with open(os.path.join(HERE, name), mode) as out:
            out.write(content)
        written.append(name)

    for icon in ICONS:
        kind = icon["kind"]
        if kind == "plain":
            write(icon["name"] + ".svg", plain_svg(icon))
        elif kind == "inline":
            for state in ("U", "F", "D"):
                write("%s-%s.svg" % (icon["name"], state), inline_svg(icon, state))
        else:
            for state in ("U", "F", "D", "X"):
                write("%s-%s.svg" % (icon["name"], state), button_svg(icon, state))
    write("progress-item.png", stripe_tile())

    # The desktop's application icon: a large tile with the waveform, installed outside the resources.
    os.makedirs(os.path.join(HERE, "app"), exist_ok=True)
    with open(os.path.join(HERE, "app", "zelk.svg"), "w") as out:
        out.write(button_svg(dict(name="zelk", kind="tile", size=(256, 256), glyph="waveform"), "U"))
    print("wrote %d icon files" % len(written))


if __name__ == "__main__":
    main()
