#!/usr/bin/env python3
"""Draws the window's icons and the application icon and writes them as PNGs.

Every icon is a stack of filled shapes in a unit square (0..1 on both axes,
y pointing down). Each pixel is sampled 4 x 4 times, so edges come out
anti-aliased at 16 and 22 pixels. Only the standard library is used
(zlib + struct for the PNG container).

Usage: tools/make_icons.py [window-dir [app-dir]]
  window-dir: the icons compiled into the window (default: resources/icons)
  app-dir:    the application icon for the desktop menu in the freedesktop
              hicolor layout, <size>x<size>/apps/servoprog.png
              (default: packaging/icons/hicolor)
"""
import math
import os
import struct
import sys
import zlib

SUB = 4  # samples per pixel and axis


# ---------------------------------------------------------------- shapes ----
def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(ax, ay, bx, by, width):
    """A straight stroke of the given width between two points."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx - x, ay + t * dy - y
        return px * px + py * py <= (width / 2) ** 2
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def rounded_rect(x0, y0, x1, y1, radius):
    return union(rect(x0 + radius, y0, x1 - radius, y1), rect(x0, y0 + radius, x1, y1 - radius),
                 circle(x0 + radius, y0 + radius, radius), circle(x1 - radius, y0 + radius, radius),
                 circle(x0 + radius, y1 - radius, radius), circle(x1 - radius, y1 - radius, radius))


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


# ------------------------------------------------------------- rendering ----
def render(layers, size):
    """layers: list of (shape, (r, g, b, a)); later layers paint over earlier ones."""
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SUB):
                for sx in range(SUB):
                    x = (px + (sx + 0.5) / SUB) / size
                    y = (py + (sy + 0.5) / SUB) / size
                    r = g = b = a = 0.0
                    for shape, (cr, cg, cb, ca) in layers:
                        if shape(x, y):
                            fa = ca / 255.0
                            r = cr * fa + r * (1 - fa)
                            g = cg * fa + g * (1 - fa)
                            b = cb * fa + b * (1 - fa)
                            a = fa + a * (1 - fa)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            n = SUB * SUB
            alpha = acc[3] / n
            if alpha > 0:
                row += bytes(min(255, round(c / n / alpha)) for c in acc[:3])
            else:
                row += b"\0\0\0"
            row.append(min(255, round(alpha * 255)))
        rows.append(bytes(row))
    return rows


def write_png(path, rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# ------------------------------------------------------------ the icons ----
OUTLINE = (60, 60, 60, 255)
PAPER = (250, 250, 246, 255)
GREEN = (52, 160, 52, 255)
RED = (205, 40, 40, 255)
CHIP = (45, 50, 58, 255)
PIN = (190, 190, 180, 255)
LINE = (120, 130, 150, 255)


def chip():
    layers = []
    for i in range(4):
        y = 0.22 + i * 0.17
        layers.append((rect(0.08, y, 0.92, y + 0.08), PIN))
    layers.append((rect(0.2, 0.12, 0.8, 0.88), CHIP))
    layers.append((circle(0.32, 0.24, 0.05), (150, 150, 150, 255)))
    layers.append((rect(0.3, 0.58, 0.7, 0.72), (235, 200, 60, 255)))  # the "ROM" label
    return layers


def list_lines():
    return [(rect(0.08, 0.16 + i * 0.2, 0.62, 0.24 + i * 0.2), LINE) for i in range(4)]


def list_add():
    plus = union(rect(0.58, 0.42, 0.96, 0.58), rect(0.69, 0.31, 0.85, 0.69))
    return list_lines() + [(plus, GREEN)]


def list_remove():
    return list_lines() + [(rect(0.56, 0.43, 0.96, 0.57), RED)]


def edit_clear_list():
    cross = union(segment(0.58, 0.5, 0.92, 0.84, 0.12), segment(0.92, 0.5, 0.58, 0.84, 0.12))
    return list_lines() + [(cross, RED)]


def page(fold=0.28):
    outline = polygon([(0.16, 0.06), (0.84 - fold, 0.06), (0.84, 0.06 + fold), (0.84, 0.94), (0.16, 0.94)])
    inner = polygon([(0.21, 0.11), (0.80 - fold, 0.11), (0.79, 0.07 + fold + 0.04), (0.79, 0.89), (0.21, 0.89)])
    corner = polygon([(0.84 - fold, 0.06), (0.84 - fold, 0.06 + fold), (0.84, 0.06 + fold)])
    return [(outline, OUTLINE), (inner, PAPER), (corner, (200, 200, 195, 255))]


def document_new_3():
    star = polygon([(0.5 + 0.22 * math.cos(a) * (1 if k % 2 == 0 else 0.45) + 0.12,
                     0.62 + 0.22 * math.sin(a) * (1 if k % 2 == 0 else 0.45))
                    for k, a in enumerate(-math.pi / 2 + i * math.pi / 5 for i in range(10))])
    return page() + [(star, (240, 180, 20, 255))]


def document_new_6():
    return page() + [(rect(0.28, 0.42 + i * 0.14, 0.72, 0.48 + i * 0.14), LINE) for i in range(3)]


def document_open():
    back = polygon([(0.06, 0.2), (0.4, 0.2), (0.48, 0.3), (0.94, 0.3), (0.94, 0.86), (0.06, 0.86)])
    front = polygon([(0.16, 0.42), (1.0, 0.42), (0.88, 0.86), (0.04, 0.86)])
    return [(back, (170, 130, 40, 255)), (front, (235, 190, 80, 255))]


def flag_de():
    return [(rect(0.04, 0.2, 0.96, 0.4), (0, 0, 0, 255)),
            (rect(0.04, 0.4, 0.96, 0.6), (221, 0, 0, 255)),
            (rect(0.04, 0.6, 0.96, 0.8), (255, 206, 0, 255))]


def flag_gb():
    field = rect(0.04, 0.2, 0.96, 0.8)
    inside = lambda s: lambda x, y: field(x, y) and s(x, y)
    diag_white = union(segment(0.04, 0.2, 0.96, 0.8, 0.14), segment(0.04, 0.8, 0.96, 0.2, 0.14))
    diag_red = union(segment(0.04, 0.2, 0.96, 0.8, 0.05), segment(0.04, 0.8, 0.96, 0.2, 0.05))
    cross_white = union(rect(0.04, 0.42, 0.96, 0.58), rect(0.41, 0.2, 0.59, 0.8))
    cross_red = union(rect(0.04, 0.46, 0.96, 0.54), rect(0.45, 0.2, 0.55, 0.8))
    return [(field, (1, 33, 105, 255)),
            (inside(diag_white), (255, 255, 255, 255)),
            (inside(diag_red), (200, 16, 46, 255)),
            (cross_white, (255, 255, 255, 255)),
            (cross_red, (200, 16, 46, 255))]


def application():
    """A chip on a blue tile with a green arrow going into it: an image is
    written into the drive's flash. Big, simple shapes that still read at 16 px."""
    layers = [(rounded_rect(0.03, 0.03, 0.97, 0.97, 0.18), (38, 84, 150, 255)),
              (rounded_rect(0.06, 0.06, 0.94, 0.94, 0.15), (52, 110, 186, 255))]
    for i in range(3):
        y = 0.50 + i * 0.14
        layers.append((rect(0.16, y, 0.84, y + 0.07), PIN))
    layers.append((rect(0.26, 0.44, 0.74, 0.88), CHIP))
    layers.append((circle(0.35, 0.53, 0.035), (150, 150, 150, 255)))
    arrow = union(rect(0.42, 0.08, 0.58, 0.36), polygon([(0.27, 0.30), (0.73, 0.30), (0.5, 0.56)]))
    layers.append((arrow, (70, 200, 70, 255)))
    return layers


APP_ICON_SIZES = (16, 22, 32, 48, 64, 128, 256)

ICONS = {
    "22x22": {
        "memory-rom.png": chip,
        "list-add-3.png": list_add,
        "list-remove-3.png": list_remove,
        "edit-clear-list.png": edit_clear_list,
        "flag-de.png": flag_de,
        "flag-gb.png": flag_gb,
    },
    "16x16": {
        "document-new-3.png": document_new_3,
        "list-remove-3.png": list_remove,
        "document-open.png": document_open,
        "memory-rom.png": chip,
        "list-add-3.png": list_add,
        "edit-clear-list.png": edit_clear_list,
        "document-new-6.png": document_new_6,
    },
}


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "icons")
    app_out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "packaging", "icons", "hicolor")
    for folder, icons in ICONS.items():
        size = int(folder.split("x")[0])
        os.makedirs(os.path.join(out, folder), exist_ok=True)
        for name, draw in icons.items():
            path = os.path.join(out, folder, name)
            write_png(path, render(draw(), size), size)
            print(path)
    for size in APP_ICON_SIZES:
        folder = os.path.join(app_out, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "servoprog.png")
        write_png(path, render(application(), size), size)
        print(path)


if __name__ == "__main__":
    main()
