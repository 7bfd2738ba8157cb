#!/usr/bin/env python3
"""The progress line of pvsplit and pvstack, on a terminal and off it.

Each run goes twice: once with standard output and standard error on a
pseudo-terminal, once into files. The bytes the terminal got are played
as a terminal would (carriage return, tab, newline, erase to end of line),
and the screen at the end must read exactly as the files do (the result
line is the last line a program prints, after its warnings or in place of
its fault), with the same exit status; and a progress line must have been
drawn on the terminal, never written into the files.

Usage: terminal_test.py TOOLS_DIR DEMO_TOOL
"""
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile

PROGRESS = re.compile(rb"\r\d+ of \d+ slices, \d+\.\d slices/s")
SLICES = 40


def screen(data):
    """The text a terminal shows after `data`, trailing blanks dropped."""
    rows, row, col = [[]], 0, 0
    i = 0
    while i < len(data):
        c = data[i]
        i += 1
        if c == 0x0D:
            col = 0
        elif c == 0x0A:
            row, col = row + 1, 0
            if row == len(rows):
                rows.append([])
        elif c == 0x09:
            col = (col // 8 + 1) * 8
        elif c == 0x1B and data[i:i + 2] == b"[K":
            del rows[row][col:]
            i += 2
        else:
            line = rows[row]
            line.extend(" " * (col + 1 - len(line)))
            line[col] = chr(c)
            col += 1
    text = ["".join(r).rstrip() for r in rows]
    while text and not text[-1]:
        text.pop()
    return "\n".join(text)


def on_terminal(argv, cwd):
    """Exit status and the bytes of a run with stdout and stderr on a pty."""
    master, slave = pty.openpty()
    proc = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=slave, stderr=slave)
    os.close(slave)
    data = bytearray()
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # EIO: every writer has gone
            break
        if not chunk:
            break
        data += chunk
    os.close(master)
    return proc.wait(), bytes(data)


def into_files(argv, cwd):
    """Exit status, standard output and standard error of a run into files."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.call(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        out.seek(0)
        err.seek(0)
        return status, out.read(), err.read()


def main():
    tools, demo_tool = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="pvtools-progress.")
    try:
        def tool(name):
            return os.path.join(tools, name)

        def at(*path):
            return os.path.join(work, *path)

        # A few dozen small slices, float and 8-bit, and a volume that ends
        # in the middle of its slice 20.
        subprocess.check_call([demo_tool, "phantom", at("volume.bin"), "48", "40", str(SLICES)],
                              stdout=subprocess.DEVNULL)
        os.mkdir(at("float"))
        os.mkdir(at("int8"))
        subprocess.check_call([tool("pvsplit"), at("volume.bin"), at("float", "s%03d.tif")],
                              stdout=subprocess.DEVNULL)
        for name in sorted(os.listdir(at("float"))):
            subprocess.check_call([tool("pvquant"), at("float", name), "8", at("int8", name)],
                                  stdout=subprocess.DEVNULL)
        with open(at("volume.bin"), "rb") as f:
            header = f.readline()
            cut = f.read(48 * 40 * 8 * 20 + 100)
        with open(at("cut.bin"), "wb") as f:
            f.write(header + cut)

        runs = [
            ("pvsplit", [tool("pvsplit"), at("volume.bin"), "s%03d.tif"], 0),
            ("pvsplit, cut short", [tool("pvsplit"), at("cut.bin"), "c%03d.tif"], 1),
            ("pvstack, float slices", [tool("pvstack"), at("float"), "-", "v.bin"], 0),
            ("pvstack, 8-bit slices with warnings", [tool("pvstack"), at("int8"), "--n", "v.bin"], 0),
        ]
        failures = 0
        for name, argv, expected_status in runs:
            os.makedirs(at("terminal"), exist_ok=True)
            os.makedirs(at("files"), exist_ok=True)
            status, data = on_terminal(argv, at("terminal"))
            file_status, out, err = into_files(argv, at("files"))
            shutil.rmtree(at("terminal"))
            shutil.rmtree(at("files"))
            shown, wanted = screen(data), screen(err + out)
            problems = []
            if status != expected_status or file_status != expected_status:
                problems.append(f"exit status {status} on the terminal, {file_status} into files, "
                                f"{expected_status} expected")
            if shown != wanted:
                problems.append(f"the terminal shows\n{shown!r}\ninstead of\n{wanted!r}")
            if not PROGRESS.search(data):
                problems.append(f"no progress line among the terminal's bytes {data[:300]!r}")
            if b"\r" in out + err:
                problems.append(f"a carriage return in the files: {(out + err)[:300]!r}")
            print(f"{'FAIL' if problems else 'ok  '} {name}")
            for p in problems:
                print("     " + p)
            failures += bool(problems)
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
