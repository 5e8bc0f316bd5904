#!/usr/bin/env python3
"""Draws the drag cursor (149), the no-drop cursor (150) and the editor's focus
marker (bitmap 138) as XPM files, which Qt reads as they are. Run it from anywhere:
    python3 resources/cursors/draw_cursors.py
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
BITMAPS = os.path.join(os.path.dirname(HERE), "bitmaps")

# ' ' transparent, '.' black, 'o' white, 'b' marker blue
COLOURS = {" ": "None", ".": "#000000", "o": "#FFFFFF", "b": "#1F4E9E"}


def write_xpm(path, name, rows):
    height, width = len(rows), len(rows[0])
    used = sorted({c for row in rows for c in row})
    lines = ["/* XPM */", f"static const char *{name}[] = {{", f'"{width} {height} {len(used)} 1",']
    lines += [f'"{c} c {COLOURS[c]}",' for c in used]
    lines += [f'"{row}",' for row in rows[:-1]] + [f'"{rows[-1]}"', "};", ""]
    with open(path, "w") as out:
        out.write("\n".join(lines))


def canvas(size):
    return [[" "] * size for _ in range(size)]


ARROW = [
    ".",
    "..",
    ".o.",
    ".oo.",
    ".ooo.",
    ".oooo.",
    ".ooooo.",
    ".oooooo.",
    ".ooooooo.",
    ".oooooooo.",
    ".ooooooooo.",
    ".oooooo.....",
    ".ooo.oo.",
    ".oo..oo.",
    ".o.  .oo.",
    "..   .oo.",
    ".     .oo.",
    "      .oo.",
    "       ..",
]


def arrow(grid):
    # The usual pointer, tip at the top-left corner (the hot spot).
    for y, row in enumerate(ARROW):
        for x, c in enumerate(row):
            if c != " ":
                grid[y][x] = c


def page(grid, left, top, width, height):
    for y in range(top, top + height):
        for x in range(left, left + width):
            edge = y in (top, top + height - 1) or x in (left, left + width - 1)
            grid[y][x] = "." if edge else "o"
    for line in range(top + 3, top + height - 2, 3):
        for x in range(left + 3, left + width - 3):
            grid[line][x] = "."


def drag_cursor():
    grid = canvas(32)
    page(grid, 13, 15, 13, 16)
    arrow(grid)
    return ["".join(row) for row in grid]


def no_drop_cursor():
    grid = canvas(32)
    centre, outer, inner = 11.5, 11.5, 8.0
    for y in range(24):
        for x in range(24):
            dx, dy = x - centre, y - centre
            r = math.hypot(dx, dy)
            on_ring = inner <= r <= outer
            # The slash runs from top-left to bottom-right inside the ring.
            on_slash = r < inner and abs(dx - dy) <= 2.2
            if on_ring or on_slash:
                grid[y][x] = "."
            elif r < inner:
                grid[y][x] = "o"
    return ["".join(row) for row in grid]


def focus_marker():
    # A small triangle pointing right at the active list's header.
    rows = []
    for y in range(10):
        reach = 5 - abs(y - 4.5) + 0.5
        rows.append("".join("b" if x < reach * 1.8 else " " for x in range(10)))
    return rows


if __name__ == "__main__":
    write_xpm(os.path.join(HERE, "cursor149.xpm"), "cursor149", drag_cursor())
    write_xpm(os.path.join(HERE, "cursor150.xpm"), "cursor150", no_drop_cursor())
    write_xpm(os.path.join(BITMAPS, "bitmap138.xpm"), "bitmap138", focus_marker())
