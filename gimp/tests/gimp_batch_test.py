#!/usr/bin/env python3
"""GIMP, headless, runs the plug-in from Script-Fu on the sample: on the
whole layer (at 8 bits, and taken to 16 bits and to floats first), and with
a rectangle selected (the blur estimated there, the whole layer restored). Each export must equal velmora-deblur's result with
the same settings within one level, and the selection must be there after.

Exits 77 (skipped), saying why, where GIMP or the plug-in is missing.
GIMP is pointed at the built plug-in through a gimprc of its own in a
folder of the test's (GIMP2_DIRECTORY), so nothing is installed.

    gimp_batch_test.py --plugin-dir DIR --deblur TOOL --sample PNG --work DIR [--not-built WHY]
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys

SKIP = 77
# The selection: 60, 80, 420 x 240 pixels of the 600 x 400 sample, the
# fractions 0.1, 0.2, 0.7, 0.6 exactly as the tool parses them.
SELECTION = (60, 80, 420, 240)
REGION = "0.1,0.2,0.7,0.6"
# 16-bit and floating-point layers: read as "R'G'B' u16" and as floats, the
# result written back at 16 bits, exported as 16-bit PPM.
PRECISIONS = ("PRECISION-U16-GAMMA", "PRECISION-FLOAT-GAMMA")


def read_bmp(path):
    """A 24-bit BMP: (width, height, bytes red-green-blue, top row first)."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack("<I", data[10:14])[0]
    width, height = struct.unpack("<ii", data[18:26])
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        row = data[offset + y * stride:offset + y * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(bytes(rgb))
    if height > 0:
        rows.reverse()
    return width, abs(height), b"".join(rows)


def read_ppm(path):
    """A binary PPM (P6), 8 or 16 bits: (width, height, samples red-green-blue
    on the 0-255 scale, top row first)."""
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
    width, height, largest = int(fields[1]), int(fields[2]), int(fields[3])
    if fields[0] != b"P6" or largest not in (255, 65535):
        raise ValueError("%s: expected a binary 8- or 16-bit PPM" % path)
    count = width * height * 3
    if largest == 255:
        return width, height, data[at + 1:at + 1 + count]
    words = struct.unpack(">%dH" % count, data[at + 1:at + 1 + 2 * count])
    return width, height, [word / 257.0 for word in words]


def precision(name, sample, output):
    """The whole-layer case again, the image first taken to another precision."""
    return """(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE {sample} {sample}))))
  (gimp-image-convert-precision image {name})
  (let ((layer (car (gimp-image-get-active-layer image))))
    (plug-in-velmora-remove-shake RUN-NONINTERACTIVE image layer 0 0 0.04 FALSE FALSE TRUE)
    (file-ppm-save RUN-NONINTERACTIVE image layer {output} {output} 1))
  (gimp-image-delete image))
""".format(name=name, sample=sample, output=output)


def script(sample, outputs):
    """The Script-Fu batch: load, restore, export, for both cases."""
    x, y, w, h = SELECTION
    quoted = lambda path: '"%s"' % path.replace("\\", "\\\\").replace('"', '\\"')
    return """
(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE {sample} {sample})))
       (layer (car (gimp-image-get-active-layer image))))
  (plug-in-velmora-remove-shake RUN-NONINTERACTIVE image layer 0 0 0.04 FALSE FALSE TRUE)
  (file-ppm-save RUN-NONINTERACTIVE image layer {whole} {whole} 1)
  (gimp-image-delete image))
{precisions}(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE {sample} {sample})))
       (layer (car (gimp-image-get-active-layer image))))
  (gimp-image-select-rectangle image CHANNEL-OP-REPLACE {x} {y} {w} {h})
  (plug-in-velmora-remove-shake RUN-NONINTERACTIVE image layer 31 1 0.04 TRUE FALSE TRUE)
  (file-ppm-save RUN-NONINTERACTIVE image layer {region} {region} 1)
  (let ((bounds (gimp-selection-bounds image)))
    (if (equal? bounds (list TRUE {x} {y} {x2} {y2}))
        (file-ppm-save RUN-NONINTERACTIVE image layer {kept} {kept} 1)))
  (gimp-image-delete image))
(gimp-quit 0)
""".format(sample=quoted(sample), precisions="".join(precision(p, quoted(sample), quoted(outputs[p])) for p in PRECISIONS),
           whole=quoted(outputs["whole"]), region=quoted(outputs["region"]),
           kept=quoted(outputs["kept"]), x=x, y=y, w=w, h=h, x2=x + w, y2=y + h)


def run_tool(tool, sample, output, work, options):
    # An empty transform-plan cache, as the plug-in is given.
    environment = dict(os.environ, XDG_CACHE_HOME=fresh(os.path.join(work, "tool-cache")))
    subprocess.run([tool, sample, "-o", output, "--kernel-out", os.path.join(work, "kernel.png"), "--quiet"]
                   + options, check=True, env=environment, timeout=240)


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def compare(name, tool_output, gimp_output):
    tw, th, tool = read_bmp(tool_output)
    gw, gh, gimp = read_ppm(gimp_output)
    if (tw, th) != (gw, gh):
        print("%s: GIMP's export is %d x %d, the tool's %d x %d" % (name, gw, gh, tw, th))
        return False
    differences = [abs(a - b) for a, b in zip(tool, gimp) if abs(a - b) > 0.01]
    largest = max(differences, default=0)
    print("%s: %d of %d samples differ, by at most %.2f" % (name, len(differences), len(tool), largest))
    return largest <= 1


def main():
    parser = argparse.ArgumentParser()
    for option in ("--plugin-dir", "--deblur", "--sample", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--not-built", default="", help="why the plug-in was not built")
    args = parser.parse_args()
    if not args.plugin_dir:
        print("skipped: the plug-in was not built (%s)" % (args.not_built or "no reason given"))
        return SKIP
    gimp = shutil.which("gimp-console-2.10") or shutil.which("gimp-console")
    if not gimp:
        print("skipped: GIMP 2.10 is not installed (no gimp-console-2.10 on the PATH)")
        return SKIP
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    outputs = {name: os.path.join(work, name + ".ppm") for name in ("whole", "region", "kept") + PRECISIONS}
    for path in outputs.values():
        if os.path.exists(path):
            os.remove(path)
    # GIMP's own folder, kept between runs: its list of plug-ins is then
    # only brought up to date, not made anew.
    gimp_dir = os.path.join(work, "gimp-2.10")
    # GIMP saves its gradients there on quitting.
    os.makedirs(os.path.join(gimp_dir, "gradients"), exist_ok=True)
    with open(os.path.join(gimp_dir, "gimprc"), "w") as f:
        f.write('(plug-in-path "${gimp_plug_in_dir}/plug-ins:%s")\n' % os.path.abspath(args.plugin_dir))
    environment = dict(os.environ, GIMP2_DIRECTORY=gimp_dir,
                       XDG_CACHE_HOME=fresh(os.path.join(work, "gimp-cache")))
    done = subprocess.run([gimp, "-i", "-d", "-f", "--batch-interpreter", "plug-in-script-fu-eval",
                           "-b", script(os.path.abspath(args.sample), outputs)],
                          env=environment, timeout=240, capture_output=True, text=True)
    print(done.stdout + done.stderr)
    for name, path in outputs.items():
        if not os.path.exists(path):
            print("GIMP wrote no %s result (exit status %d)" % (name, done.returncode))
            return 1
    whole_tool, region_tool = os.path.join(work, "tool-whole.bmp"), os.path.join(work, "tool-region.bmp")
    run_tool(args.deblur, args.sample, whole_tool, work, [])
    run_tool(args.deblur, args.sample, region_tool, work,
             ["--blur-size", "31", "--estimator", "sharp", "--reduce-ringing", "--region", REGION, "--whole"])
    same = compare("whole layer", whole_tool, outputs["whole"])
    same = compare("selection, then the whole layer", region_tool, outputs["region"]) and same
    for name in PRECISIONS:
        same = compare(name, whole_tool, outputs[name]) and same
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
