#!/usr/bin/env python3
"""The headers of pvheader read by the programs they are written for.

For a one-slice and a many-slice volume, with and without a voxel spacing,
teem's unu reads the .nhdr (and saves the data as an attached NRRD), VTK's
vtkMetaImageReader reads the .mhd, and GDAL's gdal_translate reads the
volume itself through the .hdr beside it; each must give exactly the
volume's doubles, bit for bit, in the volume's shape, and the spacing
where the format has a field for it. VTK's vtkNrrdReader (ParaView's NRRD
reader) must refuse the .nhdr as the documents say it does ("byte skip not
supported"): a VTK that reads it fails the test until the table of header
readers in the README and pvheader(1) is brought up to date.

One case puts the volume in a folder with a space in its name, away from
its .nhdr and .mhd (so the data file is a relative path with ".."), behind
a header line with blanks instead of TABs (so the body's offset is not the
one pvtools writes).

Usage: readers_test.py PVHEADER DEMO_TOOL WORK_DIR
"""
import json
import os
import shutil
import subprocess
import sys

pvheader, demo_tool, work = sys.argv[1:4]


def need(what, package):
    """A missing reader skips the test (CTest's code 77), unless the run asks
    for every reader (scripts/test.sh, which installs them, does)."""
    print(f"{what} not found: install the Debian package {package} (scripts/install-test-deps.sh)")
    sys.exit(1 if os.environ.get("PV_REQUIRE_READERS") else 77)


try:
    import numpy as np
except ImportError:
    need("numpy", "python3-numpy")
try:
    from vtkmodules.vtkIOImage import vtkMetaImageReader, vtkNrrdReader
    from vtkmodules.vtkCommonCore import vtkLogger, vtkOutputWindow, vtkStringOutputWindow
    from vtkmodules.util.numpy_support import vtk_to_numpy
except ImportError:
    need("VTK's vtkmodules", "python3-vtk9")
unu = shutil.which("teem-unu") or shutil.which("unu")
if unu is None:
    need("teem's unu", "teem-apps")
for tool in ("gdal_translate", "gdalinfo"):
    if shutil.which(tool) is None:
        need(tool, "gdal-bin")

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(*args):
    r = subprocess.run(args, capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"{' '.join(args)}: exit {r.returncode}: {r.stderr.strip()}")
    return r.stdout


# Every volume is 13 x 7 (so that width and height cannot be swapped
# unnoticed): the demo's phantom, with a few values that a conversion on
# the way would change (a negative zero, a NaN with a payload, an infinity,
# the smallest subnormal).
W, H = 13, 7
cases = [
    # name, slices, spacing, folder of the volume, volume's name, header line, .hdr name
    ("one slice", 1, None, "", "one.bin", None, "one.hdr"),
    ("one slice, spaced", 1, (0.5, 0.25, 4.0), "", "one-spaced.bin", None, "one-spaced.bin.hdr"),
    ("stack", 5, None, "", "stack.bin", None, "stack.hdr"),
    ("stack, spaced, elsewhere", 5, (0.3, 0.7, 1.25), "volume folder", "ct 1.bin", b"13 7  5  \n", "ct 1.bin.hdr"),
    # A data file named LIST is a list of files to both readers, unless the
    # header writes it as a path.
    ("a volume named LIST", 5, None, "", "LIST", None, "LIST.hdr"),
]

shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "headers"))
for name, slices, spacing, folder, volume_name, header_line, envi_name in cases:
    os.makedirs(os.path.join(work, folder), exist_ok=True)
    volume = os.path.join(work, folder, volume_name)
    run(demo_tool, "phantom", volume, str(W), str(H), str(slices))
    with open(volume, "rb") as f:
        line = f.readline()
        values = np.fromfile(f, "<f8")
    values[:4] = [-0.0, np.frombuffer(b"\x01\x00\x00\x00\x00\x00\xf8\x7f", "<f8")[0], np.inf, 5e-324]
    with open(volume, "wb") as f:
        f.write(header_line or line)
        f.write(values.tobytes())
    body = values.tobytes()
    spacing_args = [repr(s) for s in spacing] if spacing else []
    sizes = [W, H] + ([slices] if slices > 1 else [])
    # The .nhdr and .mhd go beside the volume, or into headers/ for the case
    # that lies elsewhere.
    header_folder = os.path.join(work, "headers" if folder else "")
    stem = os.path.splitext(volume_name)[0]

    # teem: unu saves what it reads through the .nhdr as an attached raw NRRD.
    nhdr = os.path.join(header_folder, stem + ".nhdr")
    run(pvheader, volume, nhdr, *spacing_args)
    saved = os.path.join(work, stem + ".saved.nrrd")
    run(unu, "save", "-f", "nrrd", "-e", "raw", "-i", nhdr, "-o", saved)
    with open(saved, "rb") as f:
        text, _, data = f.read().partition(b"\n\n")
    fields = dict(l.split(": ", 1) for l in text.decode().splitlines()[1:] if not l.startswith("#"))
    check(fields.get("type") == "double" and fields.get("endian") == "little", f"{name}: unu: {fields}")
    check(fields.get("sizes") == " ".join(map(str, sizes)), f"{name}: unu sizes {fields.get('sizes')}")
    if spacing:
        got = [float(s) for s in fields.get("spacings", "").split()]
        check(got == list(spacing[: len(sizes)]), f"{name}: unu spacings {got}")
    check(data == body, f"{name}: unu: the data differ from the volume's doubles")

    # VTK's NRRD reader, ParaView's too, stops at the byte skip; its errors
    # go to a string rather than the test's output.
    errors = vtkStringOutputWindow()
    vtkOutputWindow.SetInstance(errors)
    vtkLogger.SetStderrVerbosity(vtkLogger.VERBOSITY_OFF)
    reader = vtkNrrdReader()
    reader.SetFileName(nhdr)
    reader.Update()
    dims = reader.GetOutput().GetDimensions()
    check(dims == (0, 0, 0) and "byte skip not supported" in errors.GetOutput(),
          f"{name}: vtkNrrdReader no longer refuses the .nhdr (dimensions {dims}): "
          "update the table of header readers")

    # VTK: the MetaImage reader that ParaView uses.
    mhd = os.path.join(header_folder, stem + ".mhd")
    run(pvheader, volume, mhd, *spacing_args)
    reader = vtkMetaImageReader()
    reader.SetFileName(mhd)
    reader.Update()
    image = reader.GetOutput()
    check(image.GetDimensions() == (W, H, slices), f"{name}: VTK dimensions {image.GetDimensions()}")
    if spacing:
        got = image.GetSpacing()[: len(sizes)]
        check(got == spacing[: len(sizes)], f"{name}: VTK spacing {image.GetSpacing()}")
    scalars = image.GetPointData().GetScalars()
    got = vtk_to_numpy(scalars).tobytes() if scalars is not None else b""
    check(got == body, f"{name}: VTK: the data differ from the volume's doubles")

    # GDAL opens the volume itself, finding the .hdr by the volume's name.
    run(pvheader, volume, os.path.join(work, folder, envi_name), *spacing_args)
    copy = os.path.join(work, stem + ".gdal.raw")
    run("gdal_translate", "-q", "-of", "ENVI", volume, copy)
    info = json.loads(run("gdalinfo", "-json", volume))
    check(info["size"] == [W, H] and len(info["bands"]) == slices, f"{name}: GDAL size {info['size']}")
    if spacing:
        transform = info.get("geoTransform")
        check(transform is not None and transform[1] == spacing[0] and transform[5] == -spacing[1],
              f"{name}: GDAL geotransform {transform}")
    with open(os.path.splitext(copy)[0] + ".hdr") as f:
        check("byte order = 0" in f.read(), f"{name}: GDAL wrote another byte order")
    with open(copy, "rb") as f:
        check(f.read() == body, f"{name}: GDAL: the data differ from the volume's doubles")

print(f"{len(cases)} volumes read through the .nhdr (unu), .mhd (VTK) and .hdr (GDAL), "
      f"the .nhdr refused by VTK; {len(failures)} failures")
sys.exit(1 if failures else 0)
