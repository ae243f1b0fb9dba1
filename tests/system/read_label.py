#!/usr/bin/python3
"""Reads a one-letter label from a screenshot, for when the program does not expose the label's text
over the accessibility bus: the label's yellow text is cut out of the screenshot and compared with
each candidate letter drawn in the same face, and the closest candidate is printed ("" when the
label shows nothing).

  read_label.py SCREENSHOT X Y WIDTH HEIGHT FONT PIXELS CANDIDATE...

FONT is ImageMagick's name of the label's face, PIXELS its size in pixels. Exit code 3 when no candidate is clearly the closest.
"""
import subprocess
import sys

GRID_W, GRID_H = 12, 16


def pixels(args):
    """Runs ImageMagick and returns the image as rows of (r, g, b), parsed from plain PPM."""
    out = subprocess.run(["convert", *args, "-depth", "8", "-compress", "none", "ppm:-"],
                         check=True, capture_output=True).stdout.decode().split()
    assert out[0] == "P3"
    width, height, values = int(out[1]), int(out[2]), list(map(int, out[4:]))
    return [[tuple(values[3 * (y * width + x):3 * (y * width + x) + 3]) for x in range(width)]
            for y in range(height)]


def mask(image):
    """The yellow text pixels, cut to their bounding box and
    scaled to a fixed grid; None when there is no text."""
    lit = [[r > 140 and g > 140 and b < 110 for (r, g, b) in row] for row in image]
    ys = [y for y, row in enumerate(lit) if any(row)]
    xs = [x for row in lit for x, v in enumerate(row) if v]
    if not ys:
        return None
    x0, x1, y0, y1 = min(xs), max(xs) + 1, min(ys), max(ys) + 1
    grid = []
    for gy in range(GRID_H):
        for gx in range(GRID_W):
            ya = y0 + (y1 - y0) * gy // GRID_H
            yb = max(ya + 1, y0 + (y1 - y0) * (gy + 1) // GRID_H)
            xa = x0 + (x1 - x0) * gx // GRID_W
            xb = max(xa + 1, x0 + (x1 - x0) * (gx + 1) // GRID_W)
            cells = [lit[y][x] for y in range(ya, yb) for x in range(xa, xb)]
            grid.append(sum(cells) * 2 >= len(cells))
    return grid


def main():
    shot, (x, y, w, h), font, points = sys.argv[1], map(int, sys.argv[2:6]), sys.argv[6], int(sys.argv[7])
    candidates = sys.argv[8:]
    seen = mask(pixels([shot, "-crop", f"{w}x{h}+{x}+{y}", "+repage"]))
    if seen is None:
        print("")
        return 0
    scores = {}
    for letter in candidates:
        drawn = mask(pixels(["-background", "black", "-fill", "yellow", "-font", font,
                             "-pointsize", str(points), f"label:{letter}"]))
        scores[letter] = sum(a == b for a, b in zip(seen, drawn)) / len(seen)
    ranked = sorted(scores.items(), key=lambda kv: -kv[1])
    print(ranked[0][0])
    print("scores: " + ", ".join(f"{k} {v:.2f}" for k, v in ranked), file=sys.stderr)
    if len(ranked) > 1 and ranked[0][1] - ranked[1][1] < 0.05:
        return 3
    return 0


if __name__ == "__main__":
    sys.exit(main())
