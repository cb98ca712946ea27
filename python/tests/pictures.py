"""Reading the pictures the tests compare, with the standard library and
numpy only: PNG (the samples, velmora-shake's output), BMP and PPM (what
velmora-deblur and GIMP write for the comparisons).
"""

import struct
import zlib

import numpy as np

_PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
_PNG_CHANNELS = {0: 1, 2: 3, 4: 2, 6: 4}  # colour type -> samples a pixel


def _png_chunks(data):
    at = len(_PNG_SIGNATURE)
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def _paeth_row(line, prior, bpp):
    out = bytearray(line)
    for i in range(len(out)):
        a = out[i - bpp] if i >= bpp else 0
        b = prior[i]
        c = prior[i - bpp] if i >= bpp else 0
        p = a + b - c
        pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
        predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
        out[i] = (out[i] + predictor) & 0xFF
    return out


def _average_row(line, prior, bpp):
    out = bytearray(line)
    for i in range(len(out)):
        a = out[i - bpp] if i >= bpp else 0
        out[i] = (out[i] + ((a + prior[i]) >> 1)) & 0xFF
    return out


def _unfilter(raw, rows, stride, bpp):
    """The scanlines with PNG's per-row filters undone."""
    out = np.zeros((rows, stride), np.uint8)
    prior = np.zeros(stride, np.uint8)
    for y in range(rows):
        start = y * (stride + 1)
        kind = raw[start]
        line = np.frombuffer(raw, np.uint8, stride, start + 1)
        if kind == 0:
            row = line.copy()
        elif kind == 1:
            # Each byte adds the one bpp before it: a running sum per lane.
            padded = np.zeros(-(-stride // bpp) * bpp, np.uint8)
            padded[:stride] = line
            row = np.cumsum(padded.reshape(-1, bpp), axis=0, dtype=np.uint8).reshape(-1)[:stride]
        elif kind == 2:
            row = line + prior
        elif kind == 3:
            row = np.frombuffer(_average_row(line.tobytes(), prior.tobytes(), bpp), np.uint8)
        elif kind == 4:
            row = np.frombuffer(_paeth_row(line.tobytes(), prior.tobytes(), bpp), np.uint8)
        else:
            raise ValueError("bad PNG filter %d" % kind)
        out[y] = row
        prior = out[y]
    return out


def read_png(path):
    """H x W (grey) or H x W x C array, uint8 or uint16, as stored."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(_PNG_SIGNATURE):
        raise ValueError("%s is not a PNG file" % path)
    header, idat = None, []
    for kind, body in _png_chunks(data):
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
    width, height, depth, colour, _, _, interlace = header
    if colour not in _PNG_CHANNELS or depth not in (8, 16) or interlace:
        raise ValueError("%s: only 8/16-bit, non-interlaced, non-palette PNGs are read here" % path)
    channels = _PNG_CHANNELS[colour]
    bpp = channels * depth // 8
    rows = _unfilter(zlib.decompress(b"".join(idat)), height, width * bpp, bpp)
    pixels = rows.view(">u2").astype(np.uint16) if depth == 16 else rows
    pixels = pixels.reshape(height, width, channels)
    return pixels[:, :, 0] if channels == 1 else pixels


def read_bmp(path):
    """A 24-bit BMP as an H x W x 3 uint8 array, red-green-blue."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack("<I", data[10:14])[0]
    width, height = struct.unpack("<ii", data[18:26])
    bits = struct.unpack("<H", data[28:30])[0]
    if bits != 24:
        raise ValueError("%s: only 24-bit BMPs are read here" % path)
    stride = (width * 3 + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    pixels = rows[:, :width * 3].reshape(abs(height), width, 3)[:, :, ::-1]
    return pixels[::-1] if height > 0 else pixels


def read_ppm(path):
    """A binary or plain PPM (P6 or P3) as an H x W x 3 array, uint8 or uint16."""
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    magic, width, height, largest = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    dtype = np.uint8 if largest < 256 else np.uint16
    if magic == b"P6":
        samples = np.frombuffer(data, ">u2" if dtype == np.uint16 else np.uint8, width * height * 3, at + 1)
    elif magic == b"P3":
        samples = np.array(data[at:].split()[:width * height * 3], dtype=np.int64)
    else:
        raise ValueError("%s: not a colour PPM" % path)
    return samples.astype(dtype).reshape(height, width, 3)
