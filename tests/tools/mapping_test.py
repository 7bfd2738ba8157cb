#!/usr/bin/env python3
"""Integer images made by pvquant map back through pvstack to the values
their codes were made from; stacks in one file of tifffile read whole by
every program.

Each row makes a float image (a slice of pvsplit, or a file of tifffile),
quantises it with pvquant and stacks the result with pvstack; every code
must come back within half a step of the value it was made from (values
inside the mapping's range), give or take a tenth of a 16-bit step and the
single-precision rounding of the mapping's ends. Rows of integer files
that other writers made go to pvstack directly: it maps only what their
description states.

Usage: mapping_test.py TOOLS_DIR WORK_DIR
"""
import os
import shutil
import subprocess
import sys

tools, work = (os.path.abspath(a) for a in sys.argv[1:3])
try:
    import numpy as np
    import tifffile
except ImportError:
    print("numpy and tifffile not found: install the Debian packages python3-numpy and "
          "python3-tifffile (scripts/install-test-deps.sh)")
    sys.exit(1 if os.environ.get("PV_REQUIRE_READERS") else 77)  # 77: skipped

shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
failures = []


def run(prog, *args):
    r = subprocess.run([os.path.join(tools, prog), *args], cwd=work, capture_output=True,
                       text=True)
    if r.returncode != 0:
        raise RuntimeError(f"{prog} {' '.join(args)}: exit {r.returncode}: {r.stderr}")
    return r


def volume(path, values):
    """A raw volume of one slice of the 2-D array `values`."""
    h, w = values.shape
    with open(os.path.join(work, path), "wb") as f:
        f.write(f"{w}\t{h}\n".encode())
        f.write(values.astype("<f8").tobytes())


def read_volume(path):
    with open(os.path.join(work, path), "rb") as f:
        header = f.readline().split()
        return np.frombuffer(f.read(), "<f8").reshape(int(header[1]), int(header[0]))


def read_stack(path):
    """The slices of a raw volume, as an array of (count, height, width)."""
    with open(os.path.join(work, path), "rb") as f:
        header = f.readline().split()
        return np.frombuffer(f.read(), "<f8").reshape(-1, int(header[1]), int(header[0]))


def description(path):
    return tifffile.TiffFile(os.path.join(work, path)).pages[0].description


rng = np.random.default_rng(5)
ramp = np.linspace(10, 20, 64 * 48).reshape(48, 64)
mri = rng.normal(300, 80, (48, 64)).clip(0, None)
attenuation = rng.uniform(2e-6, 4.2e-5, (48, 64))
tiny = rng.uniform(1e-9, 4e-7, (48, 64))

# name, source (pvsplit: a volume; tifffile: a float32 array), pvquant's mapping
# arguments (empty: derived), bits.
quantised = [
    ("a given mapping over pvsplit's range", "pvsplit", ramp, ["0", "0.1"], 16),
    ("a given mapping as the derived one: the description passes", "pvsplit", ramp,
     ["10", repr(10 / 255)], 8),
    ("derived from pvsplit's range at 8 bits", "pvsplit", mri, [], 8),
    ("derived, 16 bits", "pvsplit", mri, [], 16),
    ("derived, 1 bit", "pvsplit", mri, [], 1),
    ("small values (per micrometre)", "pvsplit", attenuation, [], 16),
    ("values below 5e-7", "pvsplit", tiny, [], 12),
    ("a constant image", "pvsplit", np.full((48, 64), 0.3), [], 8),
    ("a tifffile float image (its own description)", "tifffile", mri, [], 16),
    ("a tifffile float image, given mapping", "tifffile", attenuation, ["0", "1e-8"], 12),
]
for k, (name, writer, values, mapping, bits) in enumerate(quantised):
    src, q, v = f"s{k}.tif", f"q{k}.tif", f"v{k}.bin"
    if writer == "pvsplit":
        volume(f"in{k}.bin", values)
        run("pvsplit", f"in{k}.bin", src)
    else:
        tifffile.imwrite(os.path.join(work, src), values.astype(np.float32))
    x = tifffile.imread(os.path.join(work, src)).astype(np.float64)  # what pvquant reads
    line = run("pvquant", src, *mapping, str(bits), q).stdout
    top_code = 2 ** bits - 1
    if mapping:
        base, step = float(mapping[0]), float(mapping[1])
    else:
        base, top = x.min(), x.max()
        step = (top - base) / top_code if top > base else 1.0
        # The printed range reads back within a tenth of a 16-bit step.
        got = [float(t) for t in line.split()]
        if max(abs(got[0] - base), abs(got[1] - top)) > (top - base) / 65535 / 10:
            failures.append(f"{name}: printed {line!r}, not the range {base!r} {top!r}")
    constant = not mapping and x.min() == x.max()
    top = base + top_code * step
    run("pvstack", q, v)
    back = read_volume(v)
    inside = (x >= base) & (x <= top)
    slack = 2.0 ** -23 * max(abs(base), abs(top))
    if not constant:  # one value has no step to round to
        slack += step / 2 + (top - base) / 65535 / 10
    worst = np.abs(back - x)[inside].max()
    if not inside.any() or worst > slack:
        failures.append(f"{name}: a code comes back {worst!r} from its value (allowed {slack!r})")
    if "passes" in name and description(q) != description(src):
        failures.append(f"{name}: description {description(q)!r}, not {description(src)!r}")

# Integer files of other writers, straight to pvstack: name, file maker,
# expected values from the samples, expected warning.
codes = np.arange(48 * 64, dtype=np.uint16).reshape(48, 64) % 4096
integer = [
    ("tifffile's shape description is no mapping",
     lambda p: tifffile.imwrite(p, codes.reshape(1, 48, 64)), codes.astype(np.float64),
     "using integer PV as is floating-point PV"),
    ("ImageJ's straight-line calibration", lambda p: tifffile.imwrite(
        p, codes, imagej=True, metadata={"cf": 0, "c0": -33792.0, "c1": 1.0, "vunit": "HU"}),
     codes - 33792.0, "converting PV by TIFF image description tag"),
    ("another ImageJ calibration maps nothing", lambda p: tifffile.imwrite(
        p, codes, imagej=True, metadata={"cf": 1, "c0": 0.0, "c1": 1.0}),
     codes.astype(np.float64), "using integer PV as is floating-point PV"),
]
for k, (name, make, want, warning) in enumerate(integer):
    src, v = f"i{k}.tif", f"i{k}.bin"
    make(os.path.join(work, src))
    r = run("pvstack", src, v)
    if r.stderr != f"{src} : {warning} (warning).\n":
        failures.append(f"{name}: warned {r.stderr!r}")
    if not np.array_equal(read_volume(v), want):
        failures.append(f"{name}: the volume's values are not the expected ones")

# Stacks in one file of tifffile (5 pages of 7 x 6; 3 or 4 pages would be
# taken for colour samples), read whole by every
# program: name, maker, the samples. pvstack gives every page; pvquant a
# stack of as many pages, one mapping for all, which pvstack maps back;
# pvexpand (integer stacks) and pvsplit stacks that tifffile reads page by
# page.
fstack = rng.uniform(-5, 5, (5, 6, 7)).astype(np.float32)
ustack = (np.arange(5 * 6 * 7) * 97 % 4096).astype(np.uint16).reshape(5, 6, 7)
stacks = [
    ("tifffile's 3-D float32", lambda p: tifffile.imwrite(p, fstack), fstack),
    ("tifffile's 3-D float32, imagej=True", lambda p: tifffile.imwrite(p, fstack, imagej=True), fstack),
    ("tifffile's 3-D float32, bigtiff=True", lambda p: tifffile.imwrite(p, fstack, bigtiff=True), fstack),
    ("tifffile's 3-D uint16 (shape description)", lambda p: tifffile.imwrite(p, ustack), ustack),
    ("tifffile's 3-D uint16, bigtiff=True", lambda p: tifffile.imwrite(p, ustack, bigtiff=True), ustack),
]
for k, (name, make, samples) in enumerate(stacks):
    src = f"st{k}.tif"
    make(os.path.join(work, src))
    want = samples.astype(np.float64)
    run("pvstack", src, f"st{k}.bin")
    with open(os.path.join(work, f"st{k}.bin"), "rb") as f:
        if f.readline() != b"7\t6\t5\n":
            failures.append(f"{name}: pvstack's header is not that of 5 pages")
    if not np.array_equal(read_stack(f"st{k}.bin"), want):
        failures.append(f"{name}: pvstack's volume is not every page")
    line = run("pvquant", src, "16", f"stq{k}.tif").stdout
    if line != f"{want.min():f}\t{want.max():f}\n":
        failures.append(f"{name}: pvquant printed {line!r}, not the stack's range")
    run("pvstack", f"stq{k}.tif", f"stq{k}.bin")
    step = (want.max() - want.min()) / 65535
    back = read_stack(f"stq{k}.bin")
    if np.abs(back - want).max() > step / 2 + step / 100 + 2.0 ** -23 * np.abs(want).max():
        failures.append(f"{name}: pvquant's pages do not map back through pvstack")
    if samples.dtype == np.uint16:
        for program in ("pvexpand-nolzw", "pvexpand-fast"):
            run(program, src, "1", "0.5", f"ste{k}.tif")
            got = tifffile.TiffFile(os.path.join(work, f"ste{k}.tif"))
            if len(got.pages) != 5 or not np.array_equal(got.asarray(), 1 + 0.5 * want):
                failures.append(f"{name}: {program}'s pages are not the stack's")
with open(os.path.join(work, "split.bin"), "wb") as f:
    f.write(b"7\t6\t5\n" + fstack.astype("<f8").tobytes())
run("pvsplit", "split.bin", "split.tif")
split = tifffile.TiffFile(os.path.join(work, "split.tif"))
if not np.array_equal(split.asarray(), fstack) or [p.description for p in split.pages] != [
        f"{p.min():f}\t{p.max():f}" for p in fstack.astype(np.float64)]:
    failures.append("pvsplit's stack in one file: tifffile reads other pages")

for f in failures:
    print("FAIL:", f)
failed = len({f.split(":")[0] for f in failures})
print(f"{len(quantised) + len(integer) + len(stacks) + 1 - failed} passed, {failed} failed")
sys.exit(1 if failures else 0)
