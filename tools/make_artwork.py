#!/usr/bin/python3
"""Draws Vestrel's artwork and writes it into res/.

    /usr/bin/python3 tools/make_artwork.py [output-folder]

Needs Pillow (python3-pil) and the WenQuanYi Micro Hei font
(fonts-wqy-microhei); tools/install-deps.sh installs both. Run it with the
system python3, the one python3-pil installs into. The output folder defaults
to res/ beside this tools/ folder. Every run writes the same bytes.

Files written:
  banner.gif    resource 143: the title banner's opening animation, 690 x 109,
                GIF87a, one 256-colour global table, a looping application
                extension, 20 full-size frames (delay 8, disposal 2, a
                transparent index that no pixel uses), trailer.
  banner.bmp    bitmap 146: the still banner, pixel for pixel the last frame.
  logo.bmp      bitmap 140: the maker's logo for the About box, 256 x 128.
  update1..5.bmp  bitmaps 141-145: 63 x 21, the red words sliding in; 1-4 are
                32 bits per pixel, 5 (the whole text) 24 bits per pixel.
  vestrel.ico   icon 128: 16, 32 and 48 pixels, 32-bit with alpha.

The GIF is written here byte by byte, with its own LZW encoder, so that its
block layout is exactly the one the picture control's analysis expects.
"""
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

FONT_FILE = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"

BANNER_W, BANNER_H = 690, 109
FRAMES = 20
FRAME_DELAY = 8  # hundredths of a second
TRANSPARENT = 255  # palette index kept out of every frame

# Palette of the look shared by banner, logo and icon.
NAVY_DARK = (8, 22, 43)
NAVY = (16, 49, 92)
CYAN = (58, 196, 255)
BLUE = (28, 104, 214)
ICE = (168, 214, 248)
WHITE = (255, 255, 255)


def font(size):
    return ImageFont.truetype(FONT_FILE, size, index=0)


def mix(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def ramp(width, height, values):
    """An 'L' image whose columns take the given values (len == width)."""
    row = Image.new("L", (width, 1))
    row.putdata([max(0, min(255, int(round(v)))) for v in values])
    return row.resize((width, height), Image.NEAREST)


def vramp(width, height, values):
    return ramp(height, width, values).transpose(Image.TRANSPOSE)


def gradient(size, c0, c1, horizontal=True):
    w, h = size
    n = w if horizontal else h
    vals = [255 * i / max(1, n - 1) for i in range(n)]
    mask = ramp(w, h, vals) if horizontal else vramp(w, h, vals)
    return Image.composite(Image.new("RGB", size, c1), Image.new("RGB", size, c0), mask)


def diagonal(size, c0, c1):
    """Top-left c0 to bottom-right c1, drawn at a small size and smoothed up."""
    small = Image.new("RGB", (16, 16))
    small.putdata([mix(c0, c1, (x + y) / 30) for y in range(16) for x in range(16)])
    return small.resize(size, Image.BILINEAR)


def glow(size, centre, radius, strength):
    """Soft round light as an 'L' mask."""
    mask = Image.new("L", size, 0)
    cx, cy = centre
    ImageDraw.Draw(mask).ellipse((cx - radius, cy - radius * 0.55, cx + radius, cy + radius * 0.55),
                                 fill=strength)
    return mask.filter(ImageFilter.GaussianBlur(radius * 0.45))


def paste_color(img, color, mask):
    img.paste(Image.new(img.mode, img.size, color if img.mode == "RGB" else color + (255,)), (0, 0), mask)


class Lcg:
    """Small fixed generator: the same 'random' texture on every run."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return self.state / 0x7FFFFFFF


# --- product mark --------------------------------------------------------------

def product_mark(size, detail=True):
    """Rounded tile with stream lines and a lens. RGBA, drawn 4x and reduced;
    without detail (16 pixels) two thicker lines and a bolder lens."""
    s = size * 4
    tile = diagonal((s, s), CYAN, BLUE).convert("RGBA")
    shape = Image.new("L", (s, s), 0)
    ImageDraw.Draw(shape).rounded_rectangle((0, 0, s - 1, s - 1), radius=int(s * 0.22), fill=255)
    tile.putalpha(shape)
    d = ImageDraw.Draw(tile)
    # Soft top sheen.
    sheen = Image.new("L", (s, s), 0)
    ImageDraw.Draw(sheen).ellipse((-s * 0.3, -s * 0.95, s * 1.3, s * 0.42), fill=46)
    sheen = Image.composite(sheen, Image.new("L", (s, s), 0), shape)
    tile.paste(Image.new("RGBA", (s, s), WHITE + (255,)), (0, 0), sheen)

    bar = s * (0.095 if detail else 0.13)
    rows = [0.29, 0.47, 0.65] if detail else [0.33, 0.60]
    ends = [0.80, 0.62, 0.46] if detail else [0.78, 0.52]
    for y, end in zip(rows, ends):
        d.rounded_rectangle((s * 0.19, s * y - bar / 2, s * end, s * y + bar / 2), radius=bar / 2,
                            fill=WHITE + (255,))
    # Lens over the lower right: the found stream shows through in cyan.
    cx, cy, r = s * 0.64, s * 0.60, s * (0.175 if detail else 0.2)
    ring = s * (0.065 if detail else 0.085)
    d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=(96, 184, 248, 255))  # glass
    d.ellipse((cx - r, cy - r, cx + r, cy + r), outline=WHITE + (255,), width=int(ring))
    hx, hy = cx + r * 0.72, cy + r * 0.72
    d.line((hx, hy, s * 0.86, s * 0.86), fill=WHITE + (255,), width=int(ring * 1.25))
    d.ellipse((s * 0.86 - ring * 0.62, s * 0.86 - ring * 0.62, s * 0.86 + ring * 0.62, s * 0.86 + ring * 0.62),
              fill=WHITE + (255,))
    # Keep the drawing inside the rounded tile.
    alpha = Image.composite(tile.getchannel("A"), Image.new("L", (s, s), 0), shape)
    tile.putalpha(alpha)
    return tile.resize((size, size), Image.LANCZOS)


def draw_mark_on(img, size, pos, detail=True):
    mark = product_mark(size, detail)
    # A faint shadow grounds the tile on dark backgrounds.
    shadow = Image.new("RGBA", img.size, (0, 0, 0, 0))
    sh = Image.new("RGBA", mark.size, (0, 0, 0, 110))
    sh.putalpha(mark.getchannel("A").point(lambda a: a * 110 // 255))
    shadow.paste(sh, (pos[0] + 1, pos[1] + 2))
    shadow = shadow.filter(ImageFilter.GaussianBlur(2))
    base = img.convert("RGBA")
    base.alpha_composite(shadow)
    base.alpha_composite(mark, pos)
    return base.convert("RGB")


# --- banner ---------------------------------------------------------------------

GRID_X0, GRID_Y0, CELL, PITCH, COLS, ROWS = 452, 17, 7, 10, 23, 8


def grid_cells():
    """Cluster map on the right: (x, y, base alpha, is_stream)."""
    rnd = Lcg(0x5EED)
    streams = {(3, 2), (7, 5), (11, 1), (14, 6), (17, 3), (20, 5), (9, 3), (21, 1)}
    cells = []
    for row in range(ROWS):
        for col in range(COLS):
            x = GRID_X0 + col * PITCH
            y = GRID_Y0 + row * PITCH
            fade = min(1.0, (col + 1) / 7)  # dissolve towards the title
            a = (14 + 22 * rnd.next()) * fade
            cells.append((x, y, a, (col, row) in streams))
    return cells


def banner_background():
    bg = gradient((BANNER_W, BANNER_H), NAVY_DARK, NAVY)
    # Light behind the title, darker towards the bottom edge.
    paste_color(bg, (34, 88, 150), glow((BANNER_W, BANNER_H), (200, 40), 190, 120))
    shade = vramp(BANNER_W, BANNER_H, [max(0, (y - 50) * 1.6) for y in range(BANNER_H)])
    paste_color(bg, NAVY_DARK, shade)
    # Hairline at the bottom, bright in the middle, fading out at both ends.
    line = ramp(BANNER_W, 1, [150 * math.sin(math.pi * x / (BANNER_W - 1)) ** 1.5 for x in range(BANNER_W)])
    full = Image.new("L", (BANNER_W, BANNER_H), 0)
    full.paste(line, (0, BANNER_H - 2))
    paste_color(bg, CYAN, full)
    return bg


def draw_grid(img, cells, lit):
    """lit(x) -> None while the beam has not reached a cell, else flash 0..1."""
    layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    for x, y, a, stream in cells:
        flash = lit(x)
        if stream and flash is not None:
            colour = mix(CYAN, WHITE, flash * 0.8)
            d.rectangle((x - 1, y - 1, x + CELL, y + CELL), fill=colour + (int(40 + 60 * flash),))
            d.rectangle((x, y, x + CELL - 1, y + CELL - 1), fill=colour + (235,))
        else:
            d.rectangle((x, y, x + CELL - 1, y + CELL - 1), fill=(150, 200, 255, int(a)))
    out = img.convert("RGBA")
    out.alpha_composite(layer)
    return out.convert("RGB")


def banner_content(bg):
    """The finished banner without the cluster map."""
    img = draw_mark_on(bg, 66, (26, 21))
    d = ImageDraw.Draw(img)  # straight onto the opaque picture: clean text edges
    d.text((112, 60), "Vestrel", font=font(46), fill=WHITE, anchor="ls", stroke_width=1, stroke_fill=WHITE)
    d.rectangle((114, 70, 146, 71), fill=CYAN)
    d.text((114, 94), "NTFS 数据流扫描工具", font=font(18), fill=ICE, anchor="ls")
    return img


def ease(t):
    """Half linear, half smoothstep: starts and stops gently, never lingers."""
    return 0.5 * t + 0.5 * t * t * (3 - 2 * t)


def banner_frames():
    bg = banner_background()
    content = banner_content(bg)
    cells = grid_cells()
    sweep = 14  # frames the beam takes to cross; the rest settle
    start, end = -20, BANNER_W + 30
    beam_at = [start + (end - start) * ease(i / (sweep - 1)) for i in range(sweep)]

    def passed_frame(x):
        for i, bx in enumerate(beam_at):
            if bx >= x + CELL:
                return i
        return sweep

    frames = []
    for i in range(FRAMES):
        bx = beam_at[i] if i < sweep else end + 100
        # What the beam has passed is revealed, with a soft edge.
        reveal = ramp(BANNER_W, BANNER_H, [255 * min(1, max(0, (bx - x) / 28)) for x in range(BANNER_W)])
        shown = Image.composite(content, bg, reveal)

        def lit(x, i=i):
            p = passed_frame(x)
            return None if i < p else max(0.0, 1 - (i - p) / 4)

        frame = draw_grid(shown, cells, lit)
        if i < sweep:
            # Beam: a bright core line with a trailing glow.
            trail = ramp(BANNER_W, BANNER_H,
                         [(115 * (1 - (bx - x) / 90) ** 2 if 0 <= bx - x < 90 else 0) +
                          (120 * (1 - (x - bx) / 7) if 0 < x - bx < 7 else 0) for x in range(BANNER_W)])
            paste_color(frame, CYAN, trail)
            core = ramp(BANNER_W, BANNER_H, [230 * max(0, 1 - abs(x - bx) / 1.6) for x in range(BANNER_W)])
            paste_color(frame, (225, 248, 255), core)
        frames.append(frame)
    return frames


# --- GIF writer -----------------------------------------------------------------

def lzw(indices, min_bits=8):
    """GIF LZW: codes packed LSB first, width growing to 12 bits, a clear code
    whenever the table is full."""
    clear, eoi = 1 << min_bits, (1 << min_bits) + 1
    out = bytearray()
    acc = nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    width = min_bits + 1
    table = {}
    next_code = eoi + 1
    emit(clear, width)
    w = indices[0]
    for k in indices[1:]:
        key = (w << 8) | k
        code = table.get(key)
        if code is not None:
            w = code
            continue
        emit(w, width)
        if next_code < 4096:
            table[key] = next_code
            if next_code == 1 << width:
                width += 1
            next_code += 1
        else:
            emit(clear, width)
            table.clear()
            width = min_bits + 1
            next_code = eoi + 1
        w = k
    emit(w, width)
    # The decoder adds one more entry on reading the last code; match its width.
    if next_code < 4096 and next_code == 1 << width:
        width += 1
    emit(eoi, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def palettize(frames):
    """One palette of 255 colours for all frames; index 255 stays unused."""
    w, h = frames[0].size
    sheet = Image.new("RGB", (w, h * len(frames)))
    for i, f in enumerate(frames):
        sheet.paste(f, (0, i * h))
    q = sheet.quantize(colors=255, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    pal = q.getpalette()[:255 * 3]
    pal += [0] * (255 * 3 - len(pal))
    pal += [240, 240, 240]  # the transparent entry
    data = q.tobytes()
    assert TRANSPARENT not in data
    size = w * h
    return pal, [data[i * size:(i + 1) * size] for i in range(len(frames))]


def write_gif(path, w, h, palette, frames):
    out = bytearray(b"GIF87a")
    out += struct.pack("<HHBBB", w, h, 0x80 | 0x70 | 7, 0, 0)  # 256-entry global table
    out += bytes(palette)
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop forever
    for data in frames:
        out += b"\x21\xF9\x04" + bytes([(2 << 2) | 1]) + struct.pack("<H", FRAME_DELAY) + bytes([TRANSPARENT, 0])
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0)
        out += b"\x08" + sub_blocks(lzw(data))
    out += b"\x3B"
    with open(path, "wb") as f:
        f.write(out)


# --- BMP and ICO writers ----------------------------------------------------------

def bmp_bytes(img, bits):
    """BI_RGB, bottom-up; 32-bit rows carry an opaque reserved byte."""
    img = img.convert("RGB")
    w, h = img.size
    px = img.load()
    stride = (w * bits // 8 + 3) & ~3
    rows = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[x, y]
            row += bytes((b, g, r, 255)) if bits == 32 else bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(rows), 3780, 3780, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    return head + info + bytes(rows)


def write_bmp(path, img, bits=32):
    with open(path, "wb") as f:
        f.write(bmp_bytes(img, bits))


def ico_image(img):
    w, h = img.size
    px = img.load()
    pixels = bytearray()
    mask = bytearray()
    mstride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        bits = bytearray(mstride)
        for x in range(w):
            r, g, b, a = px[x, y]
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return info + bytes(pixels) + bytes(mask)


def write_ico(path, images):
    blobs = [ico_image(i) for i in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for img, blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", img.size[0], img.size[1], 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)


# --- logo, update picture, icon -----------------------------------------------------

def korvane_emblem(size):
    """Hexagon with a K whose upper arm ends in a beak: the maker's raven."""
    s = size * 4
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    c = s / 2
    hexagon = [(c + c * 0.96 * math.cos(math.radians(a)), c + c * 0.96 * math.sin(math.radians(a)))
               for a in range(-90, 270, 60)]
    fill = diagonal((s, s), CYAN, BLUE).convert("RGBA")
    shape = Image.new("L", (s, s), 0)
    ImageDraw.Draw(shape).polygon(hexagon, fill=255)
    img.paste(fill, (0, 0), shape)
    u = s / 100
    white = WHITE + (255,)
    d.polygon([(30 * u, 24 * u), (42 * u, 24 * u), (42 * u, 76 * u), (30 * u, 76 * u)], fill=white)
    d.polygon([(42 * u, 52 * u), (62 * u, 24 * u), (80 * u, 24 * u), (70 * u, 34 * u), (50 * u, 56 * u)],
              fill=white)  # upper arm, beak to the right
    d.polygon([(47 * u, 50 * u), (56 * u, 44 * u), (76 * u, 76 * u), (62 * u, 76 * u)], fill=white)
    return img.resize((size, size), Image.LANCZOS)


def spaced_text(d, pos, text, fnt, fill, spacing):
    x, y = pos
    for ch in text:
        d.text((x, y), ch, font=fnt, fill=fill, anchor="ls", stroke_width=1, stroke_fill=fill)
        x += fnt.getlength(ch) + spacing
    return x


def make_logo():
    w, h = 256, 128
    bg = gradient((w, h), NAVY_DARK, NAVY)
    paste_color(bg, (34, 88, 150), glow((w, h), (90, 40), 110, 110))
    img = bg.convert("RGBA")
    img.alpha_composite(korvane_emblem(62), (18, 14))
    d = ImageDraw.Draw(img)
    spaced_text(d, (92, 56), "KORVANE", font(27), WHITE + (255,), 2)
    d.text((93, 74), "系统工具 · 安全可靠", font=font(12), fill=ICE + (255,), anchor="ls")
    line = ramp(w - 36, 1, [120 * math.sin(math.pi * x / (w - 37)) for x in range(w - 36)])
    d.bitmap((18, 91), line, fill=CYAN + (255,))
    out = draw_mark_on(img.convert("RGB"), 20, (18, 99))
    d = ImageDraw.Draw(out)
    d.text((45, 115), "Vestrel", font=font(14), fill=WHITE, anchor="ls")
    d.text((100, 115), "NTFS 数据流扫描工具", font=font(12), fill=ICE, anchor="ls")
    return out


def make_update_frames():
    w, h = 63, 21
    fnt = font(14)
    text = "升级程序"
    tw = fnt.getlength(text)
    home = int(round((w - tw) / 2))
    bg = gradient((w, h), (255, 255, 255), (240, 244, 250), horizontal=False)
    frames = []
    for shift in (46, 30, 16, 6, 0):
        img = bg.copy()
        d = ImageDraw.Draw(img)
        d.text((home + shift, 16), text, font=fnt, fill=(212, 22, 32), anchor="ls")
        frames.append(img)
    return frames


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, os.pardir, "res")
    os.makedirs(out, exist_ok=True)

    frames = banner_frames()
    palette, indexed = palettize(frames)
    write_gif(os.path.join(out, "banner.gif"), BANNER_W, BANNER_H, palette, indexed)
    still = Image.frombytes("P", (BANNER_W, BANNER_H), indexed[-1])
    still.putpalette(palette)
    write_bmp(os.path.join(out, "banner.bmp"), still.convert("RGB"))

    write_bmp(os.path.join(out, "logo.bmp"), make_logo())
    updates = make_update_frames()
    for n, img in enumerate(updates, 1):
        write_bmp(os.path.join(out, "update%d.bmp" % n), img, 24 if n == 5 else 32)

    icons = [product_mark(16, detail=False), product_mark(32), product_mark(48)]
    write_ico(os.path.join(out, "vestrel.ico"), icons)


if __name__ == "__main__":
    main()
