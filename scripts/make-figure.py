#!/usr/bin/python3
"""The README's figure of the pipeline, from the files the demo leaves.

A float slice as pvsplit cut it from the demo's volume, its 8-bit codes as
pvquant made them over the slice's own range, and what pvexpand gives back
minus the float slice, on a colour scale of plus and minus half a
quantisation step: every value of the round trip lies within it.

Usage: scripts/make-figure.py BUILD_DIR [OUT.png]   (default: docs/pipeline.png)
after tests/demo/demo.sh BUILD_DIR. A documentation tool only: it needs
Debian's python3-matplotlib (with python3-numpy and python3-pil, which read
the slices), never the programs.
"""
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

SLICE = "slice000.tif"
BITS = 8


def read(path):
    """The samples of a one-image TIFF, as doubles."""
    with Image.open(path) as image:
        return np.asarray(image).astype(np.float64)


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit("usage: make-figure.py BUILD_DIR [OUT.png]")
    demo = os.path.join(argv[1], "demo")
    out = argv[2] if len(argv) == 3 else os.path.join(os.path.dirname(__file__), "..", "docs", "pipeline.png")
    values = read(os.path.join(demo, "float", SLICE))
    codes = read(os.path.join(demo, "int8", SLICE))
    back = read(os.path.join(demo, "expanded", SLICE))

    # The derived mapping, as pvquant found it: the slice's own range over
    # all codes.
    lo, hi = values.min(), values.max()
    half = (hi - lo) / (2**BITS - 1) / 2
    difference = back - values
    largest = np.abs(difference).max()
    if largest > half:
        sys.exit(f"make-figure.py: a difference of {largest} exceeds half a step, {half}")

    fig, axes = plt.subplots(1, 3, figsize=(10, 3.3), dpi=100, layout="constrained")
    panels = [
        (values, "gray", lo, hi, f"float slice (pvsplit)\n{lo:.2f} to {hi:.2f}"),
        (codes, "gray", 0, 2**BITS - 1, f"{BITS}-bit codes (pvquant)\nstep {2 * half:.3f}"),
        (difference, "RdBu_r", -half, half,
         f"pvexpand's values minus the float slice\nlargest {largest:.4f}, half a step {half:.4f}"),
    ]
    for ax, (image, cmap, vmin, vmax, title) in zip(axes, panels):
        shown = ax.imshow(image, cmap=cmap, vmin=vmin, vmax=vmax, interpolation="nearest")
        ax.set_title(title, fontsize=10)
        ax.set_xticks([])
        ax.set_yticks([])
        bar = fig.colorbar(shown, ax=ax, shrink=0.85)
        bar.ax.tick_params(labelsize=8)
    axes[2].figure.axes[-1].set_yticks([-half, 0, half], [f"-{half:.3f}", "0", f"+{half:.3f}"])
    fig.suptitle(f"the demo's {SLICE}: pvsplit, pvquant {BITS}, pvexpand", fontsize=11)
    # No software version or date in the file: the same inputs give the same bytes.
    fig.savefig(out, metadata={"Software": None})
    print(f"{out}: {os.path.getsize(out)} bytes")


if __name__ == "__main__":
    main(sys.argv)
