#!/usr/bin/env python3
"""Draws the program icon (a small effects unit: dark front plate, red display, key rows)
at 32 x 32 and 16 x 16 in 16 colours and writes them as XPM data to src/ui/qt/PanelIcon.cpp
and as the Windows icon src/app/win32/Quillmark.ico, and the same drawing for the
desktop's icon theme: PNGs from 16 to 256 pixels and an SVG under data/icons/hicolor. Run
it again after changing the drawing."""
import pathlib
import struct
import zlib

ICON_NAME = 'example.vellicor.Quillmark'
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ROOT = pathlib.Path(__file__).resolve().parent.parent

PALETTE = {
    ' ': 'None',     # transparent
    'k': '#101010',  # outline
    'p': '#3a3a40',  # plate
    'h': '#6a6a72',  # plate highlight
    's': '#222226',  # plate shadow
    'd': '#200404',  # display glass
    'r': '#ff3020',  # display digits
    'o': '#a01810',  # dim segment
    'w': '#d8d8d8',  # key
    'g': '#909090',  # key shadow
    'b': '#3070e0',  # accent key
    'y': '#e0c040',  # rivet
}


def shapes(size):
    """The drawing as rectangles (x0, y0, x1, y1, colour) on a 32 x 32 grid, back to front."""
    out = []

    def rect(x0, y0, x1, y1, c):
        out.append((x0, y0, x1, y1, c))

    rect(0, 4, 32, 28, 'k')
    rect(1, 5, 31, 27, 'p')
    rect(1, 5, 31, 6, 'h')
    rect(1, 26, 31, 27, 's')
    rect(3, 8, 20, 14, 'd')
    for i, x in enumerate(range(4, 19, 4)):
        rect(x, 9, x + 3, 13, 'r' if i % 2 == 0 else 'o')
    for x in range(22, 30, 4):
        rect(x, 8, x + 3, 11, 'w')
        rect(x, 11, x + 3, 12, 'g')
    for x in range(3, 28, 5):
        rect(x, 17, x + 4, 20, 'b' if x == 23 else 'w')
        rect(x, 20, x + 4, 21, 'g')
    rect(3, 23, 28, 24, 'h')
    if size >= 32:
        for x, y in ((2, 6), (29, 6), (2, 25), (29, 25)):
            rect(x, y, x + 1, y + 1, 'y')
    return out


def draw(size):
    grid = [[' '] * size for _ in range(size)]
    s = size / 32.0
    for x0, y0, x1, y1, c in shapes(size):
        for y in range(round(y0 * s), round(y1 * s)):
            for x in range(round(x0 * s), round(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    grid[y][x] = c
    return [''.join(row) for row in grid]


def png(size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    raw = bytearray()
    for row in draw(size):
        raw.append(0)  # no filter
        for c in row:
            if c == ' ':
                raw += b'\0\0\0\0'
            else:
                raw += bytes.fromhex(PALETTE[c][1:]) + b'\xff'
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def svg():
    rects = '\n'.join(f'  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" '
                      f'fill="{PALETTE[c]}"/>' for x0, y0, x1, y1, c in shapes(256))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" '
            'viewBox="0 0 32 32" shape-rendering="crispEdges">\n' + rects + '\n</svg>\n')


def xpm(name, size):
    rows = draw(size)
    used = sorted({c for row in rows for c in row})
    lines = [f'"{size} {size} {len(used)} 1"']
    lines += [f'"{c} c {PALETTE[c]}"' for c in used]
    lines += [f'"{row}"' for row in rows]
    body = ',\n    '.join(lines)
    return f'const char* const {name}[] = {{\n    {body}}};\n'


def ico():
    """Icon resource 128: a 32 x 32 and a 16 x 16 image, 4 bits a pixel from the palette,
    with the mask for the transparent pixels."""
    colours = [c for c in PALETTE if c != ' ']
    index = {c: i for i, c in enumerate(colours)}
    palette = b''.join(bytes.fromhex(PALETTE[c][1:])[::-1] + b'\0' for c in colours)
    palette += b'\0' * (16 * 4 - len(palette))
    images = []
    for size in (32, 16):
        rows = draw(size)[::-1]  # bottom-up
        colour = bytearray()
        mask = bytearray()
        for row in rows:
            line = bytearray()
            for x in range(0, size, 2):
                hi = index.get(row[x], 0)
                lo = index.get(row[x + 1], 0)
                line.append(hi << 4 | lo)
            colour += line + b'\0' * (-len(line) % 4)
            bits = bytearray((size + 7) // 8)
            for x, c in enumerate(row):
                if c == ' ':
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits + b'\0' * (-len(bits) % 4)
        header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(colour) + len(mask), 0, 0, 16, 0)
        images.append((size, header + palette + bytes(colour) + bytes(mask)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


(ROOT / 'src' / 'app' / 'win32' / 'Quillmark.ico').write_bytes(ico())

out = ['// Generated by tools/make_panel_icon.py: the program icon at 32 x 32 and 16 x 16.',
       '#include "ui/qt/PanelIcon.h"', '', '#include <QPixmap>', '', 'namespace {',
       xpm('kIcon32', 32), xpm('kIcon16', 16), '}  // namespace', '',
       'QIcon LoadPanelIcon() {', '  QIcon icon;', '  icon.addPixmap(QPixmap(kIcon32));',
       '  icon.addPixmap(QPixmap(kIcon16));', '  return icon;', '}', '']
(ROOT / 'src' / 'ui' / 'qt' / 'PanelIcon.cpp').write_text('\n'.join(out))

theme = ROOT / 'data' / 'icons' / 'hicolor'
for size in THEME_SIZES:
    folder = theme / f'{size}x{size}' / 'apps'
    folder.mkdir(parents=True, exist_ok=True)
    (folder / f'{ICON_NAME}.png').write_bytes(png(size))
(theme / 'scalable' / 'apps').mkdir(parents=True, exist_ok=True)
(theme / 'scalable' / 'apps' / f'{ICON_NAME}.svg').write_text(svg())
