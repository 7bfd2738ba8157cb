#!/usr/bin/env python3
"""The progress line of pvsplit and pvstack, on a terminal and off it.

Each run goes twice: once with standard output and standard error on a
pseudo-terminal, once into files. The bytes the terminal got are played
as a terminal would (carriage return, tab, newline, erase to end of line),
and the screen at the end must read exactly as the files do (the result
line is the last line a program prints, after its warnings or in place of
its fault), with the same exit status; and a progress line must have been
drawn on the terminal, never written into the files. A run interrupted by
Ctrl-C's signal must end by that signal with the line erased and only
whole slice files left.

Usage: terminal_test.py TOOLS_DIR DEMO_TOOL
"""
import os
import pty
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

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


def start(argv, cwd, stdout, stderr, feed):
    """The program started; with `feed`, its standard input is a pipe that
    feed(proc, cwd) writes, and SIGINT is at its default (an interrupt ends
    the program even where the test's own caller ignores it)."""
    if feed is None:
        return subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)
    proc = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.PIPE, stdout=stdout, stderr=stderr,
                            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    feed(proc, cwd)
    return proc


def interrupt_after(head, rest, done, timeout=20):
    """A feed: the bytes `head`, then Ctrl-C's signal once done(cwd) holds,
    then the bytes `rest` (the program may have ended by then)."""
    def feed(proc, cwd):
        proc.stdin.write(head)
        proc.stdin.flush()
        until = time.monotonic() + timeout
        while not done(cwd) and time.monotonic() < until and proc.poll() is None:
            time.sleep(0.005)
        proc.send_signal(signal.SIGINT)
        try:
            proc.stdin.write(rest)
            proc.stdin.close()
        except BrokenPipeError:
            pass
    return feed


def on_terminal(argv, cwd, feed=None):
    """Exit status and the bytes of a run with stdout and stderr on a pty."""
    master, slave = pty.openpty()
    proc = start(argv, cwd, slave, slave, feed)
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


def into_files(argv, cwd, feed=None):
    """Exit status, standard output and standard error of a run into files."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = start(argv, cwd, out, err, feed).wait()
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

        # Ctrl-C while pvsplit waits for slice 2 on its standard input:
        # slices 0 and 1 stay whole, slice 2's file (made once its data
        # came) is removed, nothing is printed, and the run ends by SIGINT.
        with open(at("volume.bin"), "rb") as f:
            volume = f.read()
        two_slices = len(header) + 2 * 48 * 40 * 8
        whole = {n: os.path.getsize(at("float", n)) for n in ("s000.tif", "s001.tif")}

        def two_whole(cwd):
            path = os.path.join(cwd, "s001.tif")
            return os.path.exists(path) and os.path.getsize(path) == whole["s001.tif"]

        def left_two_whole(cwd):
            left = {n: os.path.getsize(os.path.join(cwd, n)) for n in os.listdir(cwd) if n.endswith(".tif")}
            if left != whole:
                return f"slice files {sorted(left.items())} left, {sorted(whole.items())} expected"
            return None

        interrupted = interrupt_after(volume[:two_slices], volume[two_slices:], two_whole)

        # name, command, exit status (a signal: minus its number), feed of
        # standard input, check of the files left
        runs = [
            ("pvsplit", [tool("pvsplit"), at("volume.bin"), "s%03d.tif"], 0, None, None),
            ("pvsplit, cut short", [tool("pvsplit"), at("cut.bin"), "c%03d.tif"], 1, None, None),
            ("pvsplit, interrupted", [tool("pvsplit"), "-", "s%03d.tif"], -signal.SIGINT, interrupted,
             left_two_whole),
            ("pvstack, float slices", [tool("pvstack"), at("float"), "-", "v.bin"], 0, None, None),
            ("pvstack, 8-bit slices with warnings", [tool("pvstack"), at("int8"), "--n", "v.bin"], 0,
             None, None),
        ]
        failures = 0
        for name, argv, expected_status, feed, check in runs:
            os.makedirs(at("terminal"), exist_ok=True)
            os.makedirs(at("files"), exist_ok=True)
            status, data = on_terminal(argv, at("terminal"), feed)
            file_status, out, err = into_files(argv, at("files"), feed)
            problems = []
            for where in ("terminal", "files") if check else ():
                problem = check(at(where))
                if problem:
                    problems.append(f"{where}: {problem}")
            shutil.rmtree(at("terminal"))
            shutil.rmtree(at("files"))
            shown, wanted = screen(data), screen(err + out)
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
