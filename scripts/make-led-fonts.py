#!/usr/bin/env python3
"""Writes the LED label's glyph strips as 4-bit BMP files.

Each strip holds 63 cells per row in two rows (codes 32..94 and 95..157) with two background
rows between them. Every cell is a 5 x 7 dot matrix; lit dots are white, unlit dots silver,
everything else black. Only the standard library is used, so the strips can be rebuilt on any
machine:

    python3 scripts/make-led-fonts.py [output-folder]      (default: resources/led)
"""

import os
import struct
import sys

# One glyph per code: seven rows from top to bottom, five dots each, '#' lit and '.' unlit.
GLYPHS = {
    32: "..... ..... ..... ..... ..... ..... .....",  # space
    33: "..#.. ..#.. ..#.. ..#.. ..... ..... ..#..",  # !
    34: ".#.#. .#.#. .#.#. ..... ..... ..... .....",  # "
    35: ".#.#. .#.#. ##### .#.#. ##### .#.#. .#.#.",  # #
    36: "..#.. .#### #.#.. .###. ..#.# ####. ..#..",  # $
    37: "##... ##..# ...#. ..#.. .#... #..## ...##",  # %
    38: ".##.. #..#. #.#.. .#... #.#.# #..#. .##.#",  # &
    39: "..#.. ..#.. .#... ..... ..... ..... .....",  # '
    40: "...#. ..#.. .#... .#... .#... ..#.. ...#.",  # (
    41: ".#... ..#.. ...#. ...#. ...#. ..#.. .#...",  # )
    42: "..... ..#.. #.#.# .###. #.#.# ..#.. .....",  # *
    43: "..... ..#.. ..#.. ##### ..#.. ..#.. .....",  # +
    44: "..... ..... ..... ..... .##.. ..#.. .#...",  # ,
    45: "..... ..... ..... ##### ..... ..... .....",  # -
    46: "..... ..... ..... ..... ..... .##.. .##..",  # .
    47: "..... ....# ...#. ..#.. .#... #.... .....",  # /
    48: ".###. #...# #..## #.#.# ##..# #...# .###.",  # 0
    49: "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.",  # 1
    50: ".###. #...# ....# ...#. ..#.. .#... #####",  # 2
    51: "##### ...#. ..#.. ...#. ....# #...# .###.",  # 3
    52: "...#. ..##. .#.#. #..#. ##### ...#. ...#.",  # 4
    53: "##### #.... ####. ....# ....# #...# .###.",  # 5
    54: "..##. .#... #.... ####. #...# #...# .###.",  # 6
    55: "##### ....# ...#. ..#.. .#... .#... .#...",  # 7
    56: ".###. #...# #...# .###. #...# #...# .###.",  # 8
    57: ".###. #...# #...# .#### ....# ...#. .##..",  # 9
    58: "..... .##.. .##.. ..... .##.. .##.. .....",  # :
    59: "..... .##.. .##.. ..... .##.. ..#.. .#...",  # ;
    60: "...#. ..#.. .#... #.... .#... ..#.. ...#.",  # <
    61: "..... ..... ##### ..... ##### ..... .....",  # =
    62: ".#... ..#.. ...#. ....# ...#. ..#.. .#...",  # >
    63: ".###. #...# ....# ...#. ..#.. ..... ..#..",  # ?
    64: ".###. #...# ....# .##.# #.#.# #.#.# .###.",  # @
    65: ".###. #...# #...# ##### #...# #...# #...#",  # A
    66: "####. #...# #...# ####. #...# #...# ####.",  # B
    67: ".###. #...# #.... #.... #.... #...# .###.",  # C
    68: "###.. #..#. #...# #...# #...# #..#. ###..",  # D
    69: "##### #.... #.... ####. #.... #.... #####",  # E
    70: "##### #.... #.... ####. #.... #.... #....",  # F
    71: ".###. #...# #.... #.### #...# #...# .####",  # G
    72: "#...# #...# #...# ##### #...# #...# #...#",  # H
    73: ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",  # I
    74: "..### ...#. ...#. ...#. ...#. #..#. .##..",  # J
    75: "#...# #..#. #.#.. ##... #.#.. #..#. #...#",  # K
    76: "#.... #.... #.... #.... #.... #.... #####",  # L
    77: "#...# ##.## #.#.# #.#.# #...# #...# #...#",  # M
    78: "#...# #...# ##..# #.#.# #..## #...# #...#",  # N
    79: ".###. #...# #...# #...# #...# #...# .###.",  # O
    80: "####. #...# #...# ####. #.... #.... #....",  # P
    81: ".###. #...# #...# #...# #.#.# #..#. .##.#",  # Q
    82: "####. #...# #...# ####. #.#.. #..#. #...#",  # R
    83: ".#### #.... #.... .###. ....# ....# ####.",  # S
    84: "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",  # T
    85: "#...# #...# #...# #...# #...# #...# .###.",  # U
    86: "#...# #...# #...# #...# #...# .#.#. ..#..",  # V
    87: "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.",  # W
    88: "#...# #...# .#.#. ..#.. .#.#. #...# #...#",  # X
    89: "#...# #...# #...# .#.#. ..#.. ..#.. ..#..",  # Y
    90: "##### ....# ...#. ..#.. .#... #.... #####",  # Z
    91: ".###. .#... .#... .#... .#... .#... .###.",  # [
    92: "..... #.... .#... ..#.. ...#. ....# .....",  # backslash
    93: ".###. ...#. ...#. ...#. ...#. ...#. .###.",  # ]
    94: "..#.. .#.#. #...# ..... ..... ..... .....",  # ^
    95: "..... ..... ..... ..... ..... ..... #####",  # _
    96: ".#... ..#.. ...#. ..... ..... ..... .....",  # `
    97: "..... ..... .###. ....# .#### #...# .####",  # a
    98: "#.... #.... #.##. ##..# #...# #...# ####.",  # b
    99: "..... ..... .###. #.... #.... #...# .###.",  # c
    100: "....# ....# .##.# #..## #...# #...# .####",  # d
    101: "..... ..... .###. #...# ##### #.... .###.",  # e
    102: "..##. .#..# .#... ###.. .#... .#... .#...",  # f
    103: "..... .#### #...# #...# .#### ....# .###.",  # g
    104: "#.... #.... #.##. ##..# #...# #...# #...#",  # h
    105: "..#.. ..... .##.. ..#.. ..#.. ..#.. .###.",  # i
    106: "...#. ..... ..##. ...#. ...#. #..#. .##..",  # j
    107: "#.... #.... #..#. #.#.. ##... #.#.. #..#.",  # k
    108: ".##.. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",  # l
    109: "..... ..... ##.#. #.#.# #.#.# #...# #...#",  # m
    110: "..... ..... #.##. ##..# #...# #...# #...#",  # n
    111: "..... ..... .###. #...# #...# #...# .###.",  # o
    112: "..... ..... ####. #...# ####. #.... #....",  # p
    113: "..... ..... .##.# #..## .#### ....# ....#",  # q
    114: "..... ..... #.##. ##..# #.... #.... #....",  # r
    115: "..... ..... .###. #.... .###. ....# ####.",  # s
    116: ".#... .#... ###.. .#... .#... .#..# ..##.",  # t
    117: "..... ..... #...# #...# #...# #..## .##.#",  # u
    118: "..... ..... #...# #...# #...# .#.#. ..#..",  # v
    119: "..... ..... #...# #...# #.#.# #.#.# .#.#.",  # w
    120: "..... ..... #...# .#.#. ..#.. .#.#. #...#",  # x
    121: "..... ..... #...# #...# .#### ....# .###.",  # y
    122: "..... ..... ##### ...#. ..#.. .#... #####",  # z
    123: "...#. ..#.. ..#.. .#... ..#.. ..#.. ...#.",  # {
    124: "..#.. ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",  # |
    125: ".#... ..#.. ..#.. ...#. ..#.. ..#.. .#...",  # }
    126: "..... ..... .#... #.#.# ...#. ..... .....",  # ~
    127: "..#.. .#.#. #...# #...# #...# #...# #####",  # house
    128: "..### .#... ####. .#... ####. .#... ..###",  # euro sign
    129: "..#.. ..##. ..#.# ..#.. .##.. ###.. .#...",  # quaver
    130: ".#### .#..# .#..# .#..# ##.## ##.## .....",  # two beamed quavers
    131: "...#. ..#.. .###. #...# ##### #.... .###.",  # e acute
    132: ".#... ..#.. .###. #...# ##### #.... .###.",  # e grave
    133: "..#.. .#.#. .###. #...# ##### #.... .###.",  # e circumflex
    134: ".#.#. ..... .###. #...# ##### #.... .###.",  # e diaeresis
    135: ".#.#. ..... .###. ....# .#### #...# .####",  # a diaeresis
    136: ".#... ..#.. #...# #...# #...# #..## .##.#",  # u grave
    137: ".#.#. ..... #...# #...# #...# #..## .##.#",  # u diaeresis
    138: "..... .###. #.... #.... .###. ..#.. .##..",  # c cedilla
    139: "..#.. .#.#. ..... .###. #...# #...# .###.",  # o circumflex
    140: ".#.#. ..... .###. #...# #...# #...# .###.",  # o diaeresis
    147: ".##.. #..#. #..#. .##.. ..... ..... .....",  # degree sign
    148: ".##.. #..#. ..#.. .#... ####. ..... .....",  # raised two
    149: ".##.. #..#. #..#. #.#.. #..#. #..#. #.##.",  # sharp s
    150: "..#.. ..#.. ##### ..#.. ..#.. ..... #####",  # plus-minus
}


def battery(fill_columns):
    """A battery ten dots wide over two cells, its body filled from the left."""
    rows = []
    for y in range(7):
        row = ""
        for x in range(10):
            outline = y in (0, 6) and x <= 8 or x in (0, 8) or x == 9 and 2 <= y <= 4
            filled = 1 <= y <= 5 and 1 <= x <= fill_columns
            row += "#" if outline or filled else "."
        rows.append(row)
    return " ".join(r[:5] for r in rows), " ".join(r[5:] for r in rows)


for first, fill in ((141, 2), (143, 4), (145, 7)):
    GLYPHS[first], GLYPHS[first + 1] = battery(fill)

for code in range(151, 158):  # bar cells: the bottom 1..7 rows lit
    lit = code - 150
    GLYPHS[code] = " ".join("#####" if row >= 7 - lit else "....." for row in range(7))

FIRST_CODE, LAST_CODE, CELLS_PER_ROW = 32, 157, 63

BLACK, SILVER, WHITE = 0, 7, 15  # indices into the standard 16-colour palette
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]  # (red, green, blue)


def dots(code):
    rows = GLYPHS[code].split()
    assert len(rows) == 7 and all(len(r) == 5 and set(r) <= {"#", "."} for r in rows), code
    return [[ch == "#" for ch in row] for row in rows]


def draw_large(put, x0, y0, lit, c, r):
    # 2 x 2 squares on a pitch of three pixels; an unlit dot keeps only its diagonal.
    x, y = x0 + 1 + 3 * c, y0 + 3 * r
    if lit:
        for dx in (0, 1):
            for dy in (0, 1):
                put(x + dx, y + dy, WHITE)
    else:
        put(x, y, SILVER)
        put(x + 1, y + 1, SILVER)


def draw_small(put, x0, y0, lit, c, r):
    put(x0 + 1 + 2 * c, y0 + 2 * r, WHITE if lit else SILVER)


def draw_bold(put, x0, y0, lit, c, r):
    # Lit dots are two pixels wide, so every stroke is two pixels thick.
    x, y = x0 + 1 + 2 * c, y0 + 2 * r
    put(x, y, WHITE if lit else SILVER)
    if lit:
        put(x + 1, y, WHITE)


STRIPS = [
    # name, bitmap width, bitmap height, dot painter
    ("FONT_16X20", 1008, 42, draw_large),
    ("FONT_11X13", 693, 28, draw_small),
    ("FONT_11X13_BOLD", 694, 28, draw_bold),
]


def render(width, height, painter):
    cell_w, cell_h = width // CELLS_PER_ROW, (height - 2) // 2
    pixels = [[BLACK] * width for _ in range(height)]

    def put(x, y, colour):
        pixels[y][x] = colour

    for code in range(FIRST_CODE, LAST_CODE + 1):
        index = code - FIRST_CODE
        x0 = (index % CELLS_PER_ROW) * cell_w
        y0 = (index // CELLS_PER_ROW) * (cell_h + 2)
        for r, row in enumerate(dots(code)):
            for c, lit in enumerate(row):
                painter(put, x0, y0, lit, c, r)
    return pixels


def bmp_bytes(pixels):
    height, width = len(pixels), len(pixels[0])
    stride = ((width + 1) // 2 + 3) // 4 * 4
    data = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray(stride)
        for x, colour in enumerate(row):
            line[x // 2] |= colour << (4 if x % 2 == 0 else 0)
        data += line
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(data), 2835, 2835,
                       len(PALETTE), 0)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    return header + info + palette + bytes(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "led")
    os.makedirs(out, exist_ok=True)
    missing = [c for c in range(FIRST_CODE, LAST_CODE + 1) if c not in GLYPHS]
    assert not missing, missing
    for name, width, height, painter in STRIPS:
        with open(os.path.join(out, name + ".bmp"), "wb") as f:
            f.write(bmp_bytes(render(width, height, painter)))


if __name__ == "__main__":
    main()
