#!/usr/bin/python3
"""Makes zorva's embedded pictures, chime and icon.

Writes background.png, legend.png, chime.wav and zorva.ico beside this
script. The output is the same, byte for byte, on every run; the files are
committed, so the build never runs this script.

Run with Debian's python (it needs python3-pil, python3-qrcode and
python3-numpy) and the fonts-dejavu-core and fonts-wqy-zenhei packages:
    /usr/bin/python3 assets/make_assets.py
"""

import math
import os
import struct
import sys
import zlib

import numpy as np
import qrcode
from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
DEJAVU_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
ZENHEI = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"

HOME_ADDRESS = "http://zorva.example"
FOOTER = "\u00a9 2026 zorva \u00b7 zorva.example \u00b7 All rights reserved"

W, H = 400, 300
SS = 4  # supersampling factor of the artwork

# Boxes are inclusive pixel bounds (x0, y0, x1, y1).
TITLE_BOX = (56, 49, 346, 83)
FOOTER_BOX = (51, 277, 335, 284)
BIG_QR_BOX = (128, 108, 264, 244)
SMALL_QR_BOX = (79, 134, 140, 195)
F9_TOP_LEFT = (165, 136)
F10_BOX = (165, 178, 201, 193)
NEXT_SONG_BOX = (226, 134, 321, 153)
STOP_BOX = (226, 176, 321, 195)
BAND_Y = (244, 276)  # dark band under the window's two text buttons

FRAME_OUTER = (29, 29, 31)
FRAME_BAND = (42, 41, 48)


# ---------------------------------------------------------------- PNG file


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def filter_rows(rgb):
    """Filters each row with the PNG filter whose output has the smallest sum
    of absolute values (the usual heuristic), returning the filtered bytes."""
    h, w, _ = rgb.shape
    bpp = 3
    raw = rgb.reshape(h, w * 3).astype(np.int16)
    out = bytearray()
    prev = np.zeros(w * 3, np.int16)
    for y in range(h):
        cur = raw[y]
        left = np.concatenate([np.zeros(bpp, np.int16), cur[:-bpp]])
        upleft = np.concatenate([np.zeros(bpp, np.int16), prev[:-bpp]])
        p = left + prev - upleft
        pa, pb, pc = np.abs(p - left), np.abs(p - prev), np.abs(p - upleft)
        paeth = np.where((pa <= pb) & (pa <= pc), left, np.where(pb <= pc, prev, upleft))
        candidates = [
            cur,
            cur - left,
            cur - prev,
            cur - ((left + prev) >> 1),
            cur - paeth,
        ]
        best_kind, best_bytes, best_cost = 0, None, None
        for kind, filtered in enumerate(candidates):
            b = (filtered & 0xFF).astype(np.uint8)
            cost = int(np.minimum(b, 256 - b.astype(np.int16)).sum())
            if best_cost is None or cost < best_cost:
                best_kind, best_bytes, best_cost = kind, b, cost
        out.append(best_kind)
        out += best_bytes.tobytes()
        prev = cur
    return bytes(out)


def s15f16(v):
    return struct.pack(">i", int(round(v * 65536)))


def srgb_icc_profile():
    """A version 2 ICC display profile of the sRGB colour space: the sRGB
    primaries adapted to the D50 connection space (Bradford), the D65 media
    white, and the sRGB tone curve as a 1024-entry table."""

    def xy_to_xyz(x, y):
        return np.array([x / y, 1.0, (1 - x - y) / y])

    primaries = [xy_to_xyz(0.64, 0.33), xy_to_xyz(0.30, 0.60), xy_to_xyz(0.15, 0.06)]
    d65 = xy_to_xyz(0.3127, 0.3290)
    d50 = np.array([0.9642, 1.0, 0.8249])
    m = np.column_stack(primaries)
    scale = np.linalg.solve(m, d65)
    rgb_to_xyz = m * scale
    bradford = np.array([[0.8951, 0.2664, -0.1614],
                         [-0.7502, 1.7135, 0.0367],
                         [0.0389, -0.0685, 1.0296]])
    cone_src, cone_dst = bradford @ d65, bradford @ d50
    adapt = np.linalg.inv(bradford) @ np.diag(cone_dst / cone_src) @ bradford
    colorants = adapt @ rgb_to_xyz

    def xyz_tag(v):
        return b"XYZ " + b"\0" * 4 + b"".join(s15f16(c) for c in v)

    def text_desc(text):
        ascii_text = text.encode("ascii") + b"\0"
        return (b"desc" + b"\0" * 4 + struct.pack(">I", len(ascii_text)) + ascii_text
                + struct.pack(">II", 0, 0) + struct.pack(">HB", 0, 0) + b"\0" * 67)

    curve = []
    for i in range(1024):
        v = i / 1023
        lin = v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
        curve.append(int(round(lin * 65535)))
    trc = b"curv" + b"\0" * 4 + struct.pack(">I", 1024) + struct.pack(">1024H", *curve)

    tags = [
        (b"desc", text_desc("sRGB IEC61966-2.1")),
        (b"cprt", b"text" + b"\0" * 4 + b"No copyright, use freely\0"),
        (b"wtpt", xyz_tag([0.9505, 1.0, 1.0890])),
        (b"bkpt", xyz_tag([0.0, 0.0, 0.0])),
        (b"rXYZ", xyz_tag(colorants[:, 0])),
        (b"gXYZ", xyz_tag(colorants[:, 1])),
        (b"bXYZ", xyz_tag(colorants[:, 2])),
        (b"rTRC", trc),
        (b"gTRC", trc),
        (b"bTRC", trc),
    ]
    table_size = 4 + 12 * len(tags)
    offset = 128 + table_size
    table = struct.pack(">I", len(tags))
    body = b""
    placed = {}
    for sig, data in tags:
        if data in placed:  # the three tone curves share one table
            at = placed[data]
        else:
            at = offset + len(body)
            placed[data] = at
            body += data
            body += b"\0" * (-len(body) % 4)
        table += sig + struct.pack(">II", at, len(data))
    size = 128 + table_size + len(body)
    header = (struct.pack(">I", size) + b"\0" * 4 + struct.pack(">I", 0x02100000)
              + b"mntrRGB XYZ " + struct.pack(">6H", 2026, 1, 1, 0, 0, 0)
              + b"acsp" + b"\0" * 4 + struct.pack(">I", 0) + b"\0" * 8
              + b"\0" * 8 + struct.pack(">I", 0)
              + s15f16(0.9642) + s15f16(1.0) + s15f16(0.8249)
              + b"\0" * 4 + b"\0" * 16 + b"\0" * 28)
    assert len(header) == 128
    return header + table + body


def write_png(path, rgb):
    """Writes an 8-bit RGB PNG with exactly the chunks IHDR, pHYs, iCCP,
    cHRM, IDAT and IEND."""
    h, w, _ = rgb.shape
    profile = srgb_icc_profile()
    chunks = [
        png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)),
        png_chunk(b"pHYs", struct.pack(">IIB", 2835, 2835, 1)),
        png_chunk(b"iCCP", b"sRGB\0\0" + zlib.compress(profile, 9)),
        png_chunk(b"cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000,
                                       30000, 60000, 15000, 6000)),
        png_chunk(b"IDAT", zlib.compress(filter_rows(rgb), 9)),
        png_chunk(b"IEND", b""),
    ]
    data = b"\x89PNG\r\n\x1a\n" + b"".join(chunks)
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


# ---------------------------------------------------------------- icon

ICON_SIZE = 128
ICON_TOP = (212, 64, 190)
ICON_BOTTOM = (121, 60, 248)


def cubic(p0, p1, p2, p3, steps):
    pts = []
    for i in range(steps + 1):
        t = i / steps
        a, b, c, d = (1 - t) ** 3, 3 * (1 - t) ** 2 * t, 3 * (1 - t) * t ** 2, t ** 3
        pts.append((a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
                    a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1]))
    return pts


def stroke(draw, points, width, scale):
    """Strokes a path with round caps and joins: a disc at each point, the
    points close enough together that the discs merge into a smooth band."""
    r = width / 2 * scale
    for (x, y) in points:
        cx, cy = x * scale, y * scale
        draw.ellipse((cx - r, cy - r, cx + r, cy + r), fill=255)


def dense(points, step=0.25):
    """Inserts points along a polyline so that no two are more than `step` apart."""
    out = [points[0]]
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        n = max(1, int(math.ceil(math.hypot(x1 - x0, y1 - y0) / step)))
        for i in range(1, n + 1):
            out.append((x0 + (x1 - x0) * i / n, y0 + (y1 - y0) * i / n))
    return out


def make_icon():
    """The application icon: a white outline quaver on a rounded square with a
    pink-magenta to violet gradient. Returns 128x128 RGBA (uint8), colour not
    premultiplied."""
    s = 8
    n = ICON_SIZE * s
    square = Image.new("L", (n, n), 0)
    ImageDraw.Draw(square).rounded_rectangle((0, 0, n - 1, n - 1), radius=26 * s, fill=255)

    note = Image.new("L", (n, n), 0)
    d = ImageDraw.Draw(note)
    # Note head: a tilted ellipse, drawn as a ring.
    hx, hy, rx, ry, tilt = 51.0, 88.0, 16.5, 12.0, math.radians(-24)
    ring = []
    for i in range(721):
        t = 2 * math.pi * i / 720
        ex, ey = rx * math.cos(t), ry * math.sin(t)
        ring.append((hx + ex * math.cos(tilt) - ey * math.sin(tilt),
                     hy + ex * math.sin(tilt) + ey * math.cos(tilt)))
    stroke(d, ring, 6, s)
    # Stem from the right side of the head up; the flag from its top.
    right = max(ring, key=lambda p: p[0])
    sx, top = right[0], 24.0
    stroke(d, dense([(sx, right[1]), (sx, top)]), 6, s)
    flag = cubic((sx, top), (sx + 3, 40), (sx + 29, 44), (sx + 22, 72), 400)
    stroke(d, flag, 6, s)

    alpha = np.asarray(square.resize((ICON_SIZE, ICON_SIZE), Image.BOX), np.float64) / 255
    ink = np.asarray(note.resize((ICON_SIZE, ICON_SIZE), Image.BOX), np.float64) / 255
    t = (np.arange(ICON_SIZE) / (ICON_SIZE - 1))[:, None, None]
    grad = np.array(ICON_TOP) * (1 - t) + np.array(ICON_BOTTOM) * t
    grad = np.broadcast_to(grad, (ICON_SIZE, ICON_SIZE, 3))
    rgb = grad * (1 - ink[..., None]) + 255 * ink[..., None]
    out = np.zeros((ICON_SIZE, ICON_SIZE, 4), np.uint8)
    out[..., :3] = np.clip(np.round(rgb), 0, 255)
    out[..., 3] = np.clip(np.round(alpha * 255), 0, 255)
    out[out[..., 3] == 0, :3] = 0
    return out


def write_ico(path, rgba):
    """Writes a one-image .ico: 32-bit BGRA device-independent bitmap,
    bottom-up, followed by its AND mask (set where the pixel is transparent)."""
    size = rgba.shape[0]
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + size * size // 8, 0, 0, 0, 0)
    bgra = rgba[::-1][..., [2, 1, 0, 3]].tobytes()
    mask = np.packbits((rgba[::-1, :, 3] == 0).astype(np.uint8), axis=1)
    row_bytes = (size + 31) // 32 * 4
    mask = np.pad(mask, ((0, 0), (0, row_bytes - mask.shape[1]))).tobytes()
    image = header + bgra + mask
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), 22)
    data = struct.pack("<HHH", 0, 1, 1) + entry + image
    with open(path, "wb") as f:
        f.write(data)
    return len(data), len(image)


def scaled_icon(icon, size):
    """The icon scaled to size x size, resampled with premultiplied alpha."""
    im = Image.fromarray(icon, "RGBA").convert("RGBa")
    return np.asarray(im.resize((size, size), Image.LANCZOS).convert("RGBA"))


# ---------------------------------------------------------------- text


def fit_text(text, font_path, box, index=0, bolden=0, scale_from=None):
    """Renders `text` white so that its ink fills `box` exactly: the height
    sets the size and the letter spacing is chosen to give the width.

    Returns (coverage, info): coverage is a float array W x H in 0..1, info
    the spacing and scale used, so that another text can be set alike
    (scale_from=info; then only the left and top of `box` are used).
    `bolden` thickens the strokes, in 1/240 of the font size."""
    big = 240
    font = ImageFont.truetype(font_path, big, index=index)

    def render(track):
        adv = [font.getlength(ch) for ch in text]
        width = int(sum(adv) + abs(track) * len(text) + 4 * big)
        im = Image.new("L", (width, 3 * big), 0)
        d = ImageDraw.Draw(im)
        x = 2 * big
        for ch, a in zip(text, adv):
            d.text((x, big), ch, font=font, fill=255, stroke_width=bolden, stroke_fill=255)
            x += a + track
        return im

    x0, y0, x1, y1 = box
    if scale_from is None:
        bw, bh = x1 - x0 + 1, y1 - y0 + 1
        widths = []
        for track in (0.0, 100.0):
            l, t, r, b = render(track).getbbox()
            widths.append(r - l)
            ink_h = b - t
        want = bw / bh * ink_h
        track = (want - widths[0]) / ((widths[1] - widths[0]) / 100.0) if len(text) > 1 else 0.0
        im = render(track)
        crop = im.crop(im.getbbox())
        scale = bh / crop.height
    else:
        track, scale = scale_from["track"], scale_from["scale"]
        im = render(track)
        crop = im.crop(im.getbbox())
        bw = int(round(crop.width * scale))
        bh = int(round(crop.height * scale))
    hi = crop.resize((bw * SS, bh * SS), Image.LANCZOS)
    canvas = Image.new("L", (W * SS, H * SS), 0)
    canvas.paste(hi, (x0 * SS, y0 * SS))
    cov = np.asarray(canvas, np.float64).reshape(H, SS, W, SS).mean(axis=(1, 3)) / 255
    return cov, {"track": track, "scale": scale, "box": (x0, y0, x0 + bw - 1, y0 + bh - 1)}


# ---------------------------------------------------------------- QR code


def qr_matrix(text):
    qr = qrcode.QRCode(error_correction=qrcode.constants.ERROR_CORRECT_H, border=0)
    qr.add_data(text)
    qr.make(fit=True)
    return np.array(qr.get_matrix(), bool)


def draw_qr(rgb, box, icon, icon_modules):
    """Draws the QR code of the home address on a white square filling `box`,
    with the icon over its middle modules (error correction H restores them)."""
    x0, y0, x1, y1 = box
    side = x1 - x0 + 1
    m = qr_matrix(HOME_ADDRESS)
    n = m.shape[0]
    unit = side // (n + 2)
    margin = (side - n * unit) // 2
    rgb[y0:y1 + 1, x0:x1 + 1] = 255
    for r in range(n):
        for c in range(n):
            if m[r, c]:
                yy, xx = y0 + margin + r * unit, x0 + margin + c * unit
                rgb[yy:yy + unit, xx:xx + unit] = 0
    # The icon, centred on the middle module, with a white gap around it.
    size = icon_modules * unit
    cx = x0 + margin + (n // 2) * unit + unit // 2
    cy = y0 + margin + (n // 2) * unit + unit // 2
    ix, iy = cx - size // 2, cy - size // 2
    gap = max(1, unit // 2)
    rgb[iy - gap:iy + size + gap, ix - gap:ix + size + gap] = 255
    small = scaled_icon(icon, size).astype(np.float64)
    a = small[..., 3:] / 255
    region = rgb[iy:iy + size, ix:ix + size].astype(np.float64)
    rgb[iy:iy + size, ix:ix + size] = np.round(region * (1 - a) + small[..., :3] * a)
    return n, unit, margin


# ---------------------------------------------------------------- backdrop


def smooth_noise(rng, shape, cells):
    """Value noise: a coarse random grid, smoothly enlarged."""
    h, w = shape
    grid = rng.rand(cells[1], cells[0]).astype(np.float32)
    im = Image.fromarray(grid, "F").resize((w, h), Image.BICUBIC)
    return np.asarray(im, np.float64)


def fbm(rng, shape, base, octaves=4):
    total = np.zeros(shape)
    amp, norm = 1.0, 0.0
    for o in range(octaves):
        cells = (base[0] * 2 ** o + 1, base[1] * 2 ** o + 1)
        total += amp * smooth_noise(rng, shape, cells)
        norm += amp
        amp *= 0.5
    return total / norm


def draw_person(d, rng, cx, cy, r, s, arms, reach_range, phones):
    """One concert-goer seen from behind: head, neck, shoulders and body down
    to the bottom of the picture, with 0, 1 or 2 raised arms."""
    def ell(x, y, ax, ay):
        d.ellipse(((x - ax) * s, (y - ay) * s, (x + ax) * s, (y + ay) * s), fill=255)

    def capsule(p, q, wdt):
        pts = dense([p, q], step=max(0.2, wdt / 4))
        for (x, y) in pts:
            ell(x, y, wdt / 2, wdt / 2)

    hw = r * rng.uniform(0.85, 1.0)
    ell(cx, cy, hw, r)
    if rng.rand() < 0.3:  # hair tied up or a cap
        ell(cx + rng.uniform(-0.3, 0.3) * r, cy - 0.55 * r, 0.6 * r, 0.55 * r)
    d.rectangle(((cx - 0.45 * r) * s, (cy + 0.5 * r) * s, (cx + 0.45 * r) * s, (cy + 1.8 * r) * s), fill=255)
    sw = r * rng.uniform(1.9, 2.4)
    sy = cy + 1.8 * r
    ell(cx, sy + 0.4 * r, sw, 0.95 * r)
    d.rectangle(((cx - sw) * s, (sy + 0.4 * r) * s, (cx + sw) * s, H * s), fill=255)
    for side in arms:
        shoulder = (cx + side * (sw - 0.45 * r), sy + 0.1 * r)
        reach = rng.uniform(*reach_range) * r
        lean = rng.uniform(-0.15, 0.55) * side
        hand = (shoulder[0] + math.sin(lean) * reach, shoulder[1] - math.cos(lean) * reach)
        mid = ((shoulder[0] + hand[0]) / 2, (shoulder[1] + hand[1]) / 2)
        elbow = (mid[0] + side * rng.uniform(0.3, 1.2) * r, mid[1] + rng.uniform(-0.2, 0.4) * r)
        capsule(shoulder, elbow, 0.85 * r)
        capsule(elbow, hand, 0.62 * r)
        kind = rng.rand()
        hx, hy = hand
        if kind < 0.45:  # open hand, fingers spread
            ell(hx, hy - 0.35 * r, 0.42 * r, 0.5 * r)
            for k, ang in enumerate((-0.55, -0.2, 0.05, 0.3, 1.1 * side)):
                length = (0.95, 1.1, 1.05, 0.9, 0.65)[k] * r
                tip = (hx + math.sin(ang + lean) * length, hy - 0.4 * r - math.cos(ang + lean) * length)
                capsule((hx, hy - 0.45 * r), tip, 0.22 * r)
        elif kind < 0.7 and phones:  # fist
            ell(hx, hy - 0.3 * r, 0.45 * r, 0.5 * r)
        elif kind < 0.85 or not phones:  # two fingers up
            ell(hx, hy - 0.35 * r, 0.36 * r, 0.5 * r)
            for ang in (-0.3, 0.2):
                tip = (hx + math.sin(ang + lean) * 1.0 * r, hy - 0.6 * r - math.cos(ang + lean) * 1.0 * r)
                capsule((hx + ang * 0.4 * r, hy - 0.6 * r), tip, 0.2 * r)
        else:  # holding up a phone
            ell(hx, hy - 0.2 * r, 0.45 * r, 0.45 * r)
            return (hx, hy - 0.75 * r, 0.32 * r, 0.55 * r)
    return None


def backdrop(seed=2026):
    """A dark concert crowd with raised hands against purple and blue stage
    lights, at SS times the picture size. Returns float RGB in 0..255."""
    rng = np.random.RandomState(seed)
    h, w = H * SS, W * SS
    ys, xs = np.mgrid[0:h, 0:w].astype(np.float64)
    ys = (ys + 0.5) / SS
    xs = (xs + 0.5) / SS
    haze = fbm(rng, (h, w), (6, 4))

    # Night sky of the hall: deep blue at the top, purple towards the stage.
    t = np.clip(ys / 180.0, 0, 1)[..., None]
    img = np.array([8.0, 8.0, 26.0]) * (1 - t) + np.array([34.0, 14.0, 62.0]) * t

    def glow(cx, cy, sx, sy, colour, k):
        g = np.exp(-(((xs - cx) / sx) ** 2 + ((ys - cy) / sy) ** 2))
        return g[..., None] * np.array(colour) * k

    # Stage wash behind the crowd.
    img = img + glow(200, 170, 190, 45, (120, 50, 190), 0.85 * (0.7 + 0.6 * haze[..., None]))
    img = img + glow(70, 160, 90, 55, (40, 70, 210), 0.7)
    img = img + glow(335, 158, 90, 55, (170, 50, 200), 0.55)

    # Light beams fanning down from a truss above the stage.
    beams = [
        (30, 4, 0.55, 0.09, (60, 90, 255)),
        (95, 4, 0.18, 0.07, (150, 70, 255)),
        (150, 4, -0.28, 0.06, (90, 80, 255)),
        (250, 4, 0.30, 0.06, (200, 70, 220)),
        (305, 4, -0.20, 0.07, (120, 70, 255)),
        (372, 4, -0.52, 0.09, (60, 110, 255)),
    ]
    smoke = fbm(rng, (h, w), (10, 7))
    for bx, by, angle, spread, colour in beams:
        dx, dy = xs - bx, ys - by
        phi = np.arctan2(dx, np.maximum(dy, 1e-3))
        cone = np.exp(-((phi - angle) / spread) ** 2) * (dy > 0)
        fall = np.exp(-np.hypot(dx, dy) / 260.0)
        img = img + (cone * fall * (0.35 + 0.9 * smoke))[..., None] * np.array(colour) * 0.42
    # The lamps themselves.
    for bx, by, angle, spread, colour in beams:
        img = img + glow(bx, by + 2, 5, 3, (200, 190, 255), 0.9)
        img = img + glow(bx, by + 2, 16, 9, colour, 0.35)

    # Out-of-focus lights.
    for _ in range(26):
        bx, by = rng.uniform(10, 390), rng.uniform(95, 185)
        rad = rng.uniform(2.0, 6.0)
        colour = [(180, 110, 255), (110, 140, 255), (240, 120, 220)][rng.randint(3)]
        disc = np.clip(rad + 0.8 - np.hypot(xs - bx, ys - by), 0, 1)
        img = img + disc[..., None] * np.array(colour) * rng.uniform(0.08, 0.22)

    # The play mark on the stage screen: a faint pink triangle.
    tri = Image.new("L", (w, h), 0)
    cx, cy, size = 200, 33, 19
    ImageDraw.Draw(tri).polygon([((cx - size * 0.45) * SS, (cy - size * 0.55) * SS),
                                 ((cx - size * 0.45) * SS, (cy + size * 0.55) * SS),
                                 ((cx + size * 0.6) * SS, cy * SS)], fill=255)
    tri_soft = tri.filter(ImageFilter.GaussianBlur(6 * SS))
    tri_a = np.asarray(tri, np.float64) / 255 * 0.3 + np.asarray(tri_soft, np.float64) / 255 * 0.22
    img = img + tri_a[..., None] * np.array([255, 70, 180])

    # The crowd, back rows first. Each row is lit by what is behind it, less
    # so the nearer it stands; its upper edges catch the stage light.
    rows = [
        # head y, head radius, spacing, arm chance, share of light kept,
        # arm length in head radii
        (160, 3.0, 7.0, 0.30, 0.50, (5.0, 7.0)),
        (170, 4.2, 9.5, 0.32, 0.34, (5.0, 7.0)),
        (184, 5.8, 13.5, 0.38, 0.21, (5.0, 7.5)),
        (202, 8.0, 18.5, 0.42, 0.11, (5.5, 7.5)),
        (226, 11.5, 26.0, 0.45, 0.05, (6.0, 8.0)),
        (266, 17.0, 40.0, 0.85, 0.02, (7.0, 9.0)),
    ]
    for head_y, r, spacing, arm_p, keep, reach in rows:
        mask = Image.new("L", (w, h), 0)
        d = ImageDraw.Draw(mask)
        phones = []
        x = rng.uniform(-spacing, 0)
        while x < W + spacing:
            rr = r * rng.uniform(0.88, 1.12)
            cy = head_y + rng.uniform(-0.5, 0.5) * r
            arms = []
            if rng.rand() < arm_p:
                arms = [rng.choice([-1, 1])] if rng.rand() < 0.6 else [-1, 1]
            phone = draw_person(d, rng, x, cy, rr, SS, arms, reach, r < 10)
            if phone:
                phones.append(phone)
            x += spacing * rng.uniform(0.75, 1.25)
        m = np.asarray(mask, np.float64) / 255
        lit = img * keep + np.array([3.0, 2.0, 8.0])
        edge = np.clip(m - np.roll(m, int(0.6 * SS * max(1, r / 5)), axis=0), 0, 1)
        edge_im = Image.fromarray((edge * 255).astype(np.uint8)).filter(ImageFilter.GaussianBlur(SS * 0.5))
        edge = np.asarray(edge_im, np.float64) / 255 * m
        lit = lit + edge[..., None] * img * 0.9
        img = img * (1 - m[..., None]) + lit * m[..., None]
        for (px, py, pw, ph) in phones:
            img = img + glow(px, py, pw * 3, ph * 2.2, (120, 130, 255), 0.25)
            screen = ((np.abs(xs - px) < pw) & (np.abs(ys - py) < ph)).astype(np.float64)
            img = img * (1 - screen[..., None]) + screen[..., None] * np.array([150, 165, 235])

    # Darker towards the corners and dark at the bottom, where the window's
    # buttons and the footer stand.
    vig = 1 - 0.35 * (((xs - 200) / 230) ** 2 + ((ys - 140) / 200) ** 2)
    fade = np.clip((ys - 222) / 22.0, 0, 1)
    fade = fade * fade * (3 - 2 * fade)
    img = img * np.clip(vig, 0.4, 1)[..., None] * (1 - 0.93 * fade)[..., None]
    return img + fade[..., None] * np.array([2.5, 1.5, 6.0])


def downsample(img):
    h, w = img.shape[0] // SS, img.shape[1] // SS
    return img.reshape(h, SS, w, SS, -1).mean(axis=(1, 3))


# ---------------------------------------------------------------- pictures


def over(rgb, coverage, colour):
    a = coverage[..., None]
    return rgb * (1 - a) + np.array(colour, np.float64) * a


def shadow(coverage, dx, dy, blur):
    im = Image.fromarray(np.round(coverage * 255).astype(np.uint8))
    im = im.transform(im.size, Image.AFFINE, (1, 0, -dx, 0, 1, -dy))
    return np.asarray(im.filter(ImageFilter.GaussianBlur(blur)), np.float64) / 255


def rounded_panel(box, radius):
    x0, y0, x1, y1 = box
    im = Image.new("L", (W * SS, H * SS), 0)
    ImageDraw.Draw(im).rounded_rectangle((x0 * SS, y0 * SS, (x1 + 1) * SS - 1, (y1 + 1) * SS - 1),
                                         radius=radius * SS, fill=255)
    return np.asarray(im, np.float64).reshape(H, SS, W, SS).mean(axis=(1, 3)) / 255


def finish(rgb):
    """Rounds to bytes and draws the frame."""
    out = np.clip(np.round(rgb), 0, 255).astype(np.uint8)
    out[:8, :] = out[-8:, :] = out[:, :8] = out[:, -8:] = FRAME_BAND
    out[0, :] = out[-1, :] = out[:, 0] = out[:, -1] = FRAME_OUTER
    return out


def common_layer(base):
    """The backdrop with the title and the footer, shared by both pictures."""
    rgb = base.copy()
    title, _ = fit_text("vozovuz", DEJAVU_BOLD, TITLE_BOX)
    rgb = over(rgb, shadow(title, 0, 2, 3) * 0.55, (4, 2, 12))
    rgb = over(rgb, title, (255, 255, 255))
    footer, _ = fit_text(FOOTER, DEJAVU, FOOTER_BOX)
    rgb = over(rgb, footer, (200, 194, 220))
    return rgb


def background_picture(base, icon):
    rgb = common_layer(base)
    x0, y0, x1, y1 = BIG_QR_BOX
    glow = rounded_panel((x0 - 2, y0 - 2, x1 + 2, y1 + 2), 4)
    glow = np.asarray(Image.fromarray(np.round(glow * 255).astype(np.uint8))
                      .filter(ImageFilter.GaussianBlur(5)), np.float64) / 255
    # The glow dies away where the dark band under the buttons begins.
    below = np.clip((np.arange(H) - 234) / 10.0, 0, 1)[:, None]
    glow = glow * (1 - 0.9 * below * below * (3 - 2 * below))
    rgb = rgb + glow[..., None] * np.array([150, 90, 230]) * 0.35
    rgb = np.clip(rgb, 0, 255)
    draw_qr(rgb, BIG_QR_BOX, icon, 7)
    return finish(rgb)


def legend_picture(base, icon):
    rgb = common_layer(base)
    panel = rounded_panel((64, 120, 336, 209), 10)
    rgb = over(rgb, panel * 0.62, (6, 4, 16))
    edge = np.clip(panel - rounded_panel((65, 121, 335, 208), 9), 0, 1)
    rgb = over(rgb, edge * 0.35, (150, 110, 230))
    f10, info = fit_text("F10", DEJAVU_BOLD, F10_BOX)
    f9, info9 = fit_text("F9", DEJAVU_BOLD, F9_TOP_LEFT * 2, scale_from=info)
    next_song, _ = fit_text("\u6362\u4e00\u9996\u6b4c", ZENHEI, NEXT_SONG_BOX, bolden=5)
    stop, _ = fit_text("\u505c\u6b62\u64ad\u653e", ZENHEI, STOP_BOX, bolden=5)
    for cov in (f9, f10, next_song, stop):
        rgb = over(rgb, cov, (255, 255, 255))
    rgb = np.clip(rgb, 0, 255)
    draw_qr(rgb, SMALL_QR_BOX, icon, 7)
    return finish(rgb), info9["box"]


# ---------------------------------------------------------------- chime

RATE = 22050
BLOCK_ALIGN = 512
SAMPLES_PER_BLOCK = (BLOCK_ALIGN - 7) * 2 + 2  # 1012
CHIME_SAMPLES = 36 * SAMPLES_PER_BLOCK + 6  # 36 whole blocks and one of 9 bytes
COEFFICIENTS = [(256, 0), (512, -256), (0, 0), (192, 64), (240, 0), (460, -208), (392, -232)]
ADAPTATION = [230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230]


def chime_signal():
    """A rising two-note chime (A5 then E6) of soft bell-like partials with a
    gentle decay, fading to silence at the end. Float samples in -1..1."""
    t = np.arange(CHIME_SAMPLES) / RATE
    out = np.zeros(CHIME_SAMPLES)
    # (start s, frequency Hz, level)
    notes = [(0.0, 880.0, 0.36), (0.11, 1318.51, 0.42)]
    # (frequency ratio, level, decay time s): a warm fundamental, an octave
    # and two inharmonic bell partials that die away quickly.
    partials = [(1.0, 1.0, 0.36), (2.0, 0.16, 0.15), (2.76, 0.08, 0.08), (5.40, 0.03, 0.04)]
    for start, freq, level in notes:
        local = t - start
        on = local >= 0
        attack = np.clip(local / 0.004, 0, 1)
        attack = 0.5 - 0.5 * np.cos(np.pi * attack)
        for ratio, amp, decay in partials:
            phase = 2 * np.pi * freq * ratio * local
            out += on * level * amp * attack * np.exp(-np.maximum(local, 0) / decay) * np.sin(phase)
    fade_start = CHIME_SAMPLES - int(0.35 * RATE)
    fade = np.ones(CHIME_SAMPLES)
    k = np.arange(CHIME_SAMPLES - fade_start) / (CHIME_SAMPLES - fade_start - 1)
    fade[fade_start:] = 0.5 + 0.5 * np.cos(np.pi * np.clip(k * 1.15, 0, 1))
    out *= fade
    return out / np.max(np.abs(out)) * 0.5


def clamp16(v):
    return -32768 if v < -32768 else 32767 if v > 32767 else v


def encode_adpcm_block(x, index, delta):
    """Encodes samples with one predictor and starting step. Returns
    (squared error, nibbles, decoded samples)."""
    c1, c2 = COEFFICIENTS[index]
    s2, s1 = x[0], x[1]
    decoded = [s2, s1]
    nibbles = []
    err = 0
    for v in x[2:]:
        pred = (s1 * c1 + s2 * c2) >> 8
        nib = int(math.floor((v - pred) / delta + 0.5))
        nib = -8 if nib < -8 else 7 if nib > 7 else nib
        out = clamp16(pred + nib * delta)
        err += (out - v) ** 2
        code = nib & 15
        nibbles.append(code)
        decoded.append(out)
        delta = max(16, (ADAPTATION[code] * delta) >> 8)
        s2, s1 = s1, out
    return err, nibbles, decoded


def encode_adpcm(samples):
    """Mono MS ADPCM: for each block the predictor and starting step that
    give the smallest error. Returns (data bytes, decoded samples)."""
    data = bytearray()
    decoded_all = []
    for start in range(0, len(samples), SAMPLES_PER_BLOCK):
        x = samples[start:start + SAMPLES_PER_BLOCK]
        best = None
        for index in range(len(COEFFICIENTS)):
            for delta in (16, 32, 64, 128, 256, 512, 1024, 2048):
                err, nibbles, decoded = encode_adpcm_block(x, index, delta)
                if best is None or err < best[0]:
                    best = (err, index, delta, nibbles, decoded)
        _, index, delta, nibbles, decoded = best
        data += struct.pack("<Bhhh", index, delta, x[1], x[0])
        for i in range(0, len(nibbles), 2):
            data.append((nibbles[i] << 4) | nibbles[i + 1])
        decoded_all += decoded
    return bytes(data), decoded_all


def write_chime(path):
    signal = chime_signal()
    samples = [int(v) for v in np.round(signal * 32767)]
    data, decoded = encode_adpcm(samples)
    assert len(data) == 36 * BLOCK_ALIGN + 9
    fmt = struct.pack("<HHIIHHHHH", 2, 1, RATE, RATE * BLOCK_ALIGN // SAMPLES_PER_BLOCK,
                      BLOCK_ALIGN, 4, 32, SAMPLES_PER_BLOCK, len(COEFFICIENTS))
    fmt += b"".join(struct.pack("<hh", a, b) for a, b in COEFFICIENTS)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    wav = b"RIFF" + struct.pack("<I", len(body)) + body
    with open(path, "wb") as f:
        f.write(wav)
    src = np.array(samples, np.float64)
    noise = src - np.array(decoded, np.float64)
    snr = 10 * math.log10(np.sum(src ** 2) / max(1.0, np.sum(noise ** 2)))
    return len(wav), snr


# ---------------------------------------------------------------- main


def main():
    icon = make_icon()
    ico_size, image_size = write_ico(os.path.join(HERE, "zorva.ico"), icon)
    print(f"zorva.ico: {ico_size} bytes, image {image_size} bytes")
    base = downsample(backdrop())
    size = write_png(os.path.join(HERE, "background.png"), background_picture(base, icon))
    print(f"background.png: {size} bytes")
    legend, f9_box = legend_picture(base, icon)
    size = write_png(os.path.join(HERE, "legend.png"), legend)
    print(f"legend.png: {size} bytes (F9 ink at {f9_box})")
    size, snr = write_chime(os.path.join(HERE, "chime.wav"))
    print(f"chime.wav: {size} bytes, {CHIME_SAMPLES} samples, ADPCM SNR {snr:.1f} dB")


if __name__ == "__main__":
    sys.exit(main())
