#!/usr/bin/env python3
"""Reads a PNG or SVG picture with Python's own modules and prints its width,
its height, how many pixels (PNG) or shapes (SVG) have the ROI shading's
colour, and how many pixels or strokes have the counts' colour."""
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

ROI_RGB, COUNTS_RGB = (255, 224, 153), (0, 70, 170)
SVG_NS = "{http://www.w3.org/2000/svg}"


def svg_colour(rgb):
    return "rgb(%s)" % ",".join(("%f" % (v / 2.55)).rstrip("0").rstrip(".") + "%" for v in rgb)


def unfilter(rows, stride, bpp):
    out, previous = [], bytearray(stride)
    for kind, row in rows:
        row = bytearray(row)
        for i in range(stride):
            a = row[i - bpp] if i >= bpp else 0
            b, c = previous[i], previous[i - bpp] if i >= bpp else 0
            if kind == 1: row[i] = (row[i] + a) & 255
            elif kind == 2: row[i] = (row[i] + b) & 255
            elif kind == 3: row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out.append(row)
        previous = row
    return out


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("error: not a PNG")
    at, chunks = 8, {}
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks[kind] = chunks.get(kind, b"") + data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    if depth != 8 or colour not in (2, 6):
        sys.exit("error: depth %d colour type %d" % (depth, colour))
    bpp = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(chunks[b"IDAT"]), width * bpp
    rows = [(raw[y * (stride + 1)], raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)]) for y in range(height)]
    counted = {ROI_RGB: 0, COUNTS_RGB: 0}
    for row in unfilter(rows, stride, bpp):
        for x in range(0, stride, bpp):
            rgb = tuple(row[x:x + 3])
            if rgb in counted:
                counted[rgb] += 1
    return width, height, counted[ROI_RGB], counted[COUNTS_RGB]


def read_svg(path):
    root = ET.parse(path).getroot()
    if root.tag != SVG_NS + "svg":
        sys.exit("error: root " + root.tag)
    width, height = (int(float(re.sub("[a-z]+$", "", root.get(k)))) for k in ("width", "height"))
    styles = [e.get("style", "") for e in root.iter(SVG_NS + "path")]
    roi = sum("fill:" + svg_colour(ROI_RGB) in s for s in styles)
    counts = sum("stroke:" + svg_colour(COUNTS_RGB) in s for s in styles)
    return width, height, roi, counts


width, height, roi, counts = (read_svg if sys.argv[1].endswith(".svg") else read_png)(sys.argv[1])
print("width", width)
print("height", height)
print("roi", roi)
print("counts", counts)
