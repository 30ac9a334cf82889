#!/usr/bin/env python3
"""Finds the generated test pattern (tools/make-media) in a grab of a window.

As a program it waits until the window shows the pattern:
    testpattern.py WINDOW_ID [--timeout S] [--save FILE.ppm] [--left-half]
and ends with status 0 when it does, 1 when the time runs out.
"""
import argparse
import re
import subprocess
import sys
import time


def grab(window):
    """The window's pixels as (width, height, rgb bytes), or None when the grab fails."""
    try:
        data = subprocess.run(["import", "-silent", "-window", str(window), "-depth", "8", "ppm:-"],
                              capture_output=True, timeout=10).stdout
    except subprocess.TimeoutExpired:
        return None
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not m or int(m.group(3)) != 255:
        return None
    w, h = int(m.group(1)), int(m.group(2))
    pixels = data[m.end():m.end() + w * h * 3]
    if len(pixels) != w * h * 3:
        return None
    return w, h, pixels


def write_ppm(path, image):
    w, h, pixels = image
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h))
        f.write(pixels)


# Solid corner colours of the generated test pattern, as decoded video may render them.
def _red(r, g, b):
    return r > 190 and g < 70 and b < 70


def _green(r, g, b):
    return g > 190 and r < 70 and b < 70


def _blue(r, g, b):
    return b > 190 and r < 70 and g < 70


def _white(r, g, b):
    return r > 210 and g > 210 and b > 210


def find_left_half(image, step=2):
    """A weaker check for a window whose right part may be covered by a panel: the red
    top-left and blue bottom-left regions, one above the other, at least a fifth of the
    window high. Returns True or False."""
    w, h, px = image
    tl = bl = None
    for y in range(0, h, step):
        row = y * w * 3
        for x in range(0, w // 2, step):
            i = row + x * 3
            r, g, b = px[i], px[i + 1], px[i + 2]
            if _red(r, g, b):
                if tl is None or x + y < tl[0] + tl[1]:
                    tl = (x, y)
            elif _blue(r, g, b):
                if bl is None or y - x > bl[1] - bl[0]:
                    bl = (x, y)
    if not (tl and bl) or abs(tl[0] - bl[0]) > 2 * step:
        return False
    ph = bl[1] - tl[1]
    if ph < h * 0.2:
        return False

    def at(test, fy):
        x, y = tl[0] + int(ph * 0.1), tl[1] + int(ph * fy)
        i = (y * w + x) * 3
        return test(px[i], px[i + 1], px[i + 2])
    return at(_red, 0.1) and at(_blue, 0.9)


def find_test_pattern(image, step=2):
    """Looks for the generated test pattern in a grab: its solid corner regions (red
    top-left, green top-right, blue bottom-left, white bottom-right, each 3/8 of the
    picture) mark the picture's corners. Returns {"video": (left, top, width, height)}
    or None when the grab does not show the pattern the right way round."""
    w, h, px = image
    tl = tr = bl = None  # extreme red, green and blue samples
    for y in range(0, h, step):
        row = y * w * 3
        for x in range(0, w, step):
            i = row + x * 3
            r, g, b = px[i], px[i + 1], px[i + 2]
            if _red(r, g, b):
                if tl is None or x + y < tl[0] + tl[1]:
                    tl = (x, y)
            elif _green(r, g, b):
                if tr is None or x - y > tr[0] - tr[1]:
                    tr = (x, y)
            elif _blue(r, g, b):
                if bl is None or y - x > bl[1] - bl[0]:
                    bl = (x, y)
    if not (tl and tr and bl):
        return None
    left, top = tl
    pw, ph = tr[0] - left + step, bl[1] - top + step
    if pw < w * 0.2 or ph < h * 0.2 or abs(tr[1] - top) > 2 * step or abs(bl[0] - left) > 2 * step:
        return None

    def majority(test, fx, fy):
        hits = 0
        for oy in (-0.05, 0, 0.05):
            for ox in (-0.05, 0, 0.05):
                x, y = int(left + pw * (fx + ox)), int(top + ph * (fy + oy))
                if 0 <= x < w and 0 <= y < h:
                    i = (y * w + x) * 3
                    hits += bool(test(px[i], px[i + 1], px[i + 2]))
        return hits >= 6
    # Region centres lie 3/16 of the picture in from its edges.
    if not (majority(_red, 3 / 16, 3 / 16) and majority(_green, 13 / 16, 3 / 16)
            and majority(_blue, 3 / 16, 13 / 16) and majority(_white, 13 / 16, 13 / 16)):
        return None
    return {"video": (left, top, pw, ph)}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("window")
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--save")
    ap.add_argument("--left-half", action="store_true",
                    help="only the left corners (a panel may cover the right ones)")
    args = ap.parse_args()
    deadline = time.monotonic() + args.timeout
    while time.monotonic() < deadline:
        image = grab(args.window)
        if image and (find_left_half(image) if args.left_half else find_test_pattern(image)):
            if args.save:
                write_ppm(args.save, image)
            return 0
        time.sleep(0.2)
    return 1


if __name__ == "__main__":
    sys.exit(main())
