#!/usr/bin/env python3
"""Draws the program's pictures and writes them beside this script.

    logo.png        the logo beside the log pane: 303 x 162, 8-bit RGBA with soft edges
    Velmora.ico     the application icon: 32 x 32 and 16 x 16, 32-bit with alpha
    sort_up.bmp     header sort arrows: 9 x 5, 4-bit palette bitmaps (black arrow on white),
    sort_down.bmp   so that the list header can map black to its grey-text colour

Only the standard library is used (zlib for the PNG). Run it again after changing a picture and
commit its output with it.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def clamp(value, low=0.0, high=1.0):
    return low if value < low else high if value > high else value


class Canvas:
    """Straight-alpha RGBA pixels as floats 0..1; shapes are painted 'over' what is there."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def over(self, x, y, rgb, alpha):
        if alpha <= 0.0:
            return
        p = self.px[y * self.width + x]
        out_a = alpha + p[3] * (1.0 - alpha)
        for i in range(3):
            p[i] = (rgb[i] * alpha + p[i] * p[3] * (1.0 - alpha)) / out_a
        p[3] = out_a

    def paint(self, coverage, colour, box=None):
        """coverage(x, y) gives 0..1 at a pixel centre; colour(x, y) gives ((r, g, b), alpha)."""
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                c = coverage(x + 0.5, y + 0.5)
                if c > 0.0:
                    rgb, a = colour(x + 0.5, y + 0.5)
                    self.over(x, y, rgb, a * c)

    def rgba_bytes(self, row_order):
        out = bytearray()
        for y in row_order:
            for x in range(self.width):
                r, g, b, a = self.px[y * self.width + x]
                out += bytes((round(r * 255), round(g * 255), round(b * 255), round(a * 255)))
        return out


# --- signed distances (negative inside) -------------------------------------------------------
def sd_round_rect(x, y, left, top, right, bottom, radius):
    cx, cy = (left + right) / 2.0, (top + bottom) / 2.0
    hx, hy = (right - left) / 2.0 - radius, (bottom - top) / 2.0 - radius
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def sd_circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def sd_segment(x, y, ax, ay, bx, by, half_width):
    px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
    t = clamp((px * dx + py * dy) / (dx * dx + dy * dy))
    return math.hypot(px - dx * t, py - dy * t) - half_width


def sd_arc(x, y, cx, cy, r, half_angle, half_width):
    """A round-capped arc around (cx, cy) opening to the right, +-half_angle radians."""
    angle = math.atan2(y - cy, x - cx)
    if abs(angle) <= half_angle:
        return abs(math.hypot(x - cx, y - cy) - r) - half_width
    ends = [(cx + r * math.cos(s * half_angle), cy + r * math.sin(s * half_angle)) for s in (-1, 1)]
    return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - half_width


def sd_triangle(x, y, a, b, c):
    """Distance to a triangle given counter-clockwise or clockwise."""
    def edge(p, q):
        ex, ey = q[0] - p[0], q[1] - p[1]
        wx, wy = x - p[0], y - p[1]
        t = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey))
        return math.hypot(wx - ex * t, wy - ey * t), ex * wy - ey * wx

    d = [edge(a, b), edge(b, c), edge(c, a)]
    dist = min(v[0] for v in d)
    inside = all(v[1] >= 0 for v in d) or all(v[1] <= 0 for v in d)
    return -dist if inside else dist


def edge_coverage(distance, scale=1.0):
    """Anti-aliased coverage of a pixel whose centre lies `distance` pixels from an edge."""
    return clamp(0.5 - distance * scale)


# --- a 5 x 7 pixel font for the few letters the logo writes ------------------------------------
GLYPHS = {
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "-": ["00000", "00000", "00000", "01110", "00000", "00000", "00000"],
    " ": ["00000"] * 7,
}


def text_boxes(text, left, top, cell):
    """Squares (left, top, size) of the lit font pixels of `text`, `cell` pixels per font pixel."""
    boxes = []
    for i, ch in enumerate(text):
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    boxes.append((left + (i * 6 + col) * cell, top + row * cell, cell))
    return boxes


def text_width(text, cell):
    return (len(text) * 6 - 1) * cell


def sd_text(x, y, boxes):
    best = 1e9
    for bx, by, size in boxes:
        best = min(best, sd_round_rect(x, y, bx, by, bx + size, by + size, size * 0.18))
        if best < -1.0:
            break
    return best


# --- the pictures --------------------------------------------------------------------------------
WHITE = (1.0, 1.0, 1.0)
TOP_BLUE = (0.06, 0.22, 0.45)
BOTTOM_TEAL = (0.04, 0.50, 0.56)
ACCENT = (1.0, 0.74, 0.20)


def gradient(top, bottom, y0, y1):
    def colour(_x, y):
        t = clamp((y - y0) / (y1 - y0))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom)), 1.0
    return colour


def solid(rgb, alpha=1.0):
    return lambda _x, _y: (rgb, alpha)


def draw_badge(canvas, left, top, right, bottom, radius, shadow):
    if shadow:
        canvas.paint(
            lambda x, y: clamp((shadow - sd_round_rect(x, y, left + 3, top + 5, right + 3, bottom + 5, radius))
                               / (2.0 * shadow)) ** 1.6,
            solid((0.0, 0.0, 0.0), 0.45))
    canvas.paint(lambda x, y: edge_coverage(sd_round_rect(x, y, left, top, right, bottom, radius)),
                 gradient(TOP_BLUE, BOTTOM_TEAL, top, bottom))
    # A soft sheen over the upper half.
    mid = (top + bottom) / 2.0
    canvas.paint(lambda x, y: edge_coverage(sd_round_rect(x, y, left + 2, top + 2, right - 2, bottom - 2,
                                                          radius - 2)) * clamp((mid - y) / (mid - top)),
                 solid(WHITE, 0.16))


def draw_waves(canvas, cx, cy, unit, box):
    canvas.paint(lambda x, y: edge_coverage(sd_circle(x, y, cx, cy, 1.6 * unit)), solid(WHITE), box)
    for i, alpha in ((1, 0.95), (2, 0.75), (3, 0.55)):
        r = (1.6 + 1.9 * i) * unit
        canvas.paint(lambda x, y, r=r: edge_coverage(sd_arc(x, y, cx, cy, r, math.radians(48), 0.55 * unit)),
                     solid(WHITE, alpha), box)


def draw_arrows(canvas, left, right, y_top, y_bottom, unit):
    head = 2.2 * unit
    for y, pointing_right, rgb in ((y_top, True, ACCENT), (y_bottom, False, WHITE)):
        tip, tail = (right, left) if pointing_right else (left, right)
        back = tip - head if pointing_right else tip + head
        canvas.paint(lambda x, yy, y=y, tail=tail, back=back: edge_coverage(sd_segment(x, yy, tail, y, back, y, 0.55 * unit)),
                     solid(rgb))
        canvas.paint(lambda x, yy, y=y, tip=tip, back=back: edge_coverage(
            sd_triangle(x, yy, (tip, y), (back, y - 1.3 * unit), (back, y + 1.3 * unit)) - 0.3),
                     solid(rgb))


def draw_list(canvas, left, top, right, unit):
    for i, alpha in enumerate((0.95, 0.8, 0.65)):
        y = top + i * 2.6 * unit
        canvas.paint(lambda x, yy, y=y: edge_coverage(sd_round_rect(x, yy, left, y, right, y + 1.5 * unit, 0.6 * unit)),
                     solid(WHITE, alpha))
        canvas.paint(lambda x, yy, y=y: edge_coverage(sd_circle(x, yy, left - 1.6 * unit, y + 0.75 * unit, 0.75 * unit)),
                     solid(ACCENT, alpha))


def logo():
    c = Canvas(303, 162)
    draw_badge(c, 4, 4, 293, 150, 24, shadow=6.0)
    unit = 9.0
    draw_waves(c, 44, 64, 7.5, (8, 8, 140, 130))
    draw_arrows(c, 128, 184, 52, 84, unit)
    draw_list(c, 222, 42, 270, unit)
    for text, top, cell, alpha in (("VELMORA", 112, 3, 1.0), ("SAP - DNS-SD", 136, 1, 0.8)):
        left = (297 - text_width(text, cell)) / 2.0
        boxes = text_boxes(text, left, top, cell)
        c.paint(lambda x, y, b=boxes: edge_coverage(sd_text(x, y, b)), solid(WHITE, alpha),
                (int(left) - 2, top - 2, int(left + text_width(text, cell)) + 3, top + 7 * cell + 3))
    return c


def icon(size):
    c = Canvas(size, size)
    s = size / 32.0
    draw_badge(c, 1 * s, 1 * s, 31 * s, 31 * s, 7 * s, shadow=0)
    draw_waves(c, 8.5 * s, 16 * s, 2.4 * s, (0, 0, size, size))
    return c


# --- file formats --------------------------------------------------------------------------------
def png_bytes(canvas):
    raw = bytearray()
    row = canvas.width * 4
    data = canvas.rgba_bytes(range(canvas.height))
    for y in range(canvas.height):
        raw.append(0)  # filter: none
        raw += data[y * row:(y + 1) * row]

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def ico_bytes(canvases):
    images = []
    for c in canvases:
        rgba = c.rgba_bytes(range(c.height - 1, -1, -1))  # bottom-up rows
        bgra = bytearray()
        for i in range(0, len(rgba), 4):
            bgra += bytes((rgba[i + 2], rgba[i + 1], rgba[i], rgba[i + 3]))
        mask_row = ((c.width + 31) // 32) * 4
        mask = bytearray()
        for y in range(c.height - 1, -1, -1):
            bits = bytearray(mask_row)
            for x in range(c.width):
                if c.px[y * c.width + x][3] < 0.5:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, c.width, c.height * 2, 1, 32, 0, len(bgra) + len(mask), 0, 0, 0, 0)
        images.append(header + bytes(bgra) + bytes(mask))
    out = struct.pack("<HHH", 0, 1, len(canvases))
    offset = 6 + 16 * len(canvases)
    for c, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.width % 256, c.height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def arrow_bmp(pointing_up):
    """9 x 5, 4 bits per pixel, 16-colour palette: index 0 black (the arrow), 15 white."""
    width, height = 9, 5
    palette = [(0, 0, 0)] + [(128, 128, 128)] * 14 + [(255, 255, 255)]
    rows = []
    for r in range(height):  # r = 0 is the top row
        level = r if pointing_up else height - 1 - r
        rows.append([0 if abs(x - 4) <= level else 15 for x in range(width)])
    stride = ((width * 4 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(stride)
        for x, index in enumerate(row):
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += line
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(colours)
    return struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) + info + colours + bytes(pixels)


def main():
    outputs = {
        "logo.png": png_bytes(logo()),
        "Velmora.ico": ico_bytes([icon(32), icon(16)]),
        "sort_up.bmp": arrow_bmp(True),
        "sort_down.bmp": arrow_bmp(False),
    }
    for name, data in outputs.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
