#!/usr/bin/env python3
"""Draws the window's small pictures as XPM files (run once; the results are committed).

The manage glyph is laid out pixel by pixel; the 16 x 16 button pictures are drawn from
simple shapes so that they stay crisp at their natural size.
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def write_xpm(name, rows, palette):
    height = len(rows)
    width = len(rows[0])
    assert all(len(r) == width for r in rows), name
    used = sorted({c for r in rows for c in r})
    lines = ['/* XPM */', 'static const char* const %s[] = {' % name.replace('-', '_'),
             '"%d %d %d 1",' % (width, height, len(used))]
    for c in used:
        lines.append('"%s c %s",' % (c, palette[c]))
    for i, r in enumerate(rows):
        lines.append('"%s"%s' % (r, ',' if i + 1 < height else ''))
    lines.append('};')
    with open(os.path.join(HERE, name + '.xpm'), 'w', encoding='ascii') as f:
        f.write('\n'.join(lines) + '\n')


def plus_glyph():
    # The manage glyph: a small window with an orange title bar and a green plus at its lower
    # right, on white; 19 x 18, opaque.
    w, h = 19, 18
    rows = [list('.' * w) for _ in range(h)]
    # The window: frame x 0..13, y 1..13.
    for x in range(0, 14):
        rows[1][x] = 'k'
        rows[13][x] = 'k'
        rows[4][x] = 'k'
    for y in range(1, 14):
        rows[y][0] = 'k'
        rows[y][13] = 'k'
    for y in (2, 3):
        for x in range(1, 13):
            rows[y][x] = 'o'
    rows[2][11] = 'w'  # the title bar's close box
    for y in range(5, 13):
        for x in range(1, 13):
            rows[y][x] = 'w'
    for y, length in ((6, 8), (8, 7), (10, 6)):
        for x in range(2, 2 + length):
            rows[y][x] = 'l'
    # The plus: centre (14, 12), arms 3 px from the centre, 3 px thick, dark green rim.
    cx, cy, arm, half = 14, 12, 3, 1
    cells = set()
    for y in range(cy - arm, cy + arm + 1):
        for x in range(cx - half, cx + half + 1):
            cells.add((x, y))
    for x in range(cx - arm, cx + arm + 1):
        for y in range(cy - half, cy + half + 1):
            cells.add((x, y))
    rim = set()
    for (x, y) in cells:
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                n = (x + dx, y + dy)
                if n not in cells:
                    rim.add(n)
    for (x, y) in rim:
        if 0 <= x < w and 0 <= y < h:
            rows[y][x] = 'G'
    for (x, y) in cells:
        rows[y][x] = 'g'
    return [''.join(r) for r in rows]


MANAGE_PALETTE = {
    '.': '#FFFFFF', 'k': '#4A5A6A', 'o': '#F39A1E', 'w': '#FFFFFF', 'l': '#A8B4C0',
    'g': '#2DB34A', 'G': '#17702A',
}


def canvas(size=16):
    return [[' '] * size for _ in range(size)]


def disc(img, cx, cy, r, ch):
    for y in range(len(img)):
        for x in range(len(img[0])):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                img[y][x] = ch


def ring(img, cx, cy, r_out, r_in, ch, skip=None):
    for y in range(len(img)):
        for x in range(len(img[0])):
            d = (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2
            if r_in * r_in <= d <= r_out * r_out:
                angle = math.degrees(math.atan2(y + 0.5 - cy, x + 0.5 - cx)) % 360
                if skip and skip[0] <= angle <= skip[1]:
                    continue
                img[y][x] = ch


def put(img, pattern, x0, y0, ch):
    for dy, line in enumerate(pattern):
        for dx, c in enumerate(line):
            if c == '#':
                img[y0 + dy][x0 + dx] = ch


def rows_of(img):
    return [''.join(r) for r in img]


def help_picture():
    img = canvas()
    disc(img, 8, 8, 7.5, 'D')
    disc(img, 8, 8, 6.5, 'b')
    put(img, [".###.",
              "#...#",
              "....#",
              "...#.",
              "..#..",
              "..#..",
              ".....",
              "..#.."], 6, 4, 'w')
    return rows_of(img)


def update_picture():
    img = canvas()
    # A tray with a green arrow coming down into it.
    put(img, ["....####....",
              "....####....",
              "....####....",
              "....####....",
              "..########..",
              "...######...",
              "....####....",
              ".....##....."], 2, 1, 'g')
    put(img, ["#..........#",
              "#..........#",
              "############",
              "############"], 2, 10, 'D')
    return rows_of(img)


def home_picture():
    img = canvas()
    put(img, ["......##......",
              ".....####.....",
              "....######....",
              "...########...",
              "..##########..",
              ".############.",
              "##############"], 1, 1, 'r')
    for y in range(8, 15):
        for x in range(3, 13):
            img[y][x] = 'y'
    for y in range(10, 15):
        for x in range(7, 10):
            img[y][x] = 'n'
    for y in range(9, 11):
        for x in range(4, 6):
            img[y][x] = 'b'
    return rows_of(img)


def refresh_picture():
    img = canvas()
    ring(img, 8, 8, 6.5, 4.0, 'g', skip=(300, 345))
    # Arrow head at the gap's upper end, pointing clockwise (down).
    put(img, ["#####",
              ".###.",
              "..#.."], 11, 5, 'G')
    return rows_of(img)


def end_picture():
    img = canvas()
    disc(img, 8, 8, 7.5, 'R')
    disc(img, 8, 8, 6.5, 'r')
    for i in range(-3, 4):
        for t in (0, 1):
            img[8 + i][8 + i - t] = 'w'
            img[8 + i][7 - i + t] = 'w'
    return rows_of(img)


def options_picture():
    # Three ticked boxes with a line of text beside each, the last box empty.
    img = canvas()
    for top, ticked in ((1, True), (6, True), (11, False)):
        put(img, ["#####",
                  "#...#",
                  "#...#",
                  "#...#",
                  "#####"], 1, top, 'D')
        for y in range(top + 1, top + 4):
            for x in range(2, 5):
                img[y][x] = 'w'
        if ticked:
            for x, y in ((2, top + 2), (3, top + 3), (4, top + 1)):
                img[y][x] = 'G'
        for x in range(8, 15):
            img[top + 2][x] = 'D'
    return rows_of(img)


BUTTON_PALETTE = {
    ' ': 'None', 'D': '#1F4E9A', 'b': '#3A7BE0', 'w': '#FFFFFF', 'g': '#2DB34A',
    'G': '#17702A', 'r': '#D9342B', 'R': '#8E1B15', 'y': '#F2D08A', 'n': '#8A5A2B',
}


def main():
    write_xpm('manage', plus_glyph(), MANAGE_PALETTE)
    write_xpm('help', help_picture(), BUTTON_PALETTE)
    write_xpm('update', update_picture(), BUTTON_PALETTE)
    write_xpm('homepage', home_picture(), BUTTON_PALETTE)
    write_xpm('refresh', refresh_picture(), BUTTON_PALETTE)
    write_xpm('endprocess', end_picture(), BUTTON_PALETTE)
    write_xpm('options', options_picture(), BUTTON_PALETTE)


if __name__ == '__main__':
    main()
