#!/usr/bin/env python3
"""Times Punchlet's batch punch against the decode floor and two peers, side by side.

Per size class (2, 12, 24 MP), each round runs, in alternating order:
  punchlet   build/punchlet FOLDER (batch mode, default settings, offscreen)
  floor      djpeg -dct float -outfile /dev/null FILE, for every file
  magick     convert FILE -resize 270x210 -quality 100 OUT, for every file
  vips       vipsthumbnail -s 270x210 -o OUT[Q=100] FILE..., one batch
and reports the median time per photo and each ratio to the floor. Then it
measures peak memory of a 2-photo and a 100-photo batch of 24 MP photos, and
the time from start to the preview window shown for one 12 MP photo (Xvfb).

Usage: bench/punch_vs_peers.py [--rounds N] [--copies N] [--photos DIR] [--exe build/punchlet]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, env=None):
    """Runs a command; returns (seconds, peak RSS in MB of that child)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{err}")
    return elapsed, usage.ru_maxrss / 1024.0


def have(tool):
    return shutil.which(tool) is not None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--photos", default=os.path.join(ROOT, "..", "shared", "photos"))
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "punchlet"))
    parser.add_argument("--classes", default="2mp,12mp,24mp")
    parser.add_argument("--copies", type=int, default=4,
                        help="each photo appears this many times in a class's batch")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="punchlet-bench-")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(work, "config"))
    try:
        empty = os.path.join(work, "empty")
        os.makedirs(empty)
        start = statistics.median(run([args.exe, empty], env)[0] for _ in range(5)) * 1000
        print(f"punchlet start-up and exit with nothing to do: {start:.1f} ms")
        print(f"{'class':6} {'tool':9} {'ms/photo':>9} {'× floor':>8}   "
              f"(batches of {5 * args.copies}, median of {args.rounds} rounds)")
        for klass in args.classes.split(","):
            src = os.path.join(args.photos, klass)
            files = sorted(f for f in os.listdir(src) if f.lower().endswith(".jpg"))
            folder = os.path.join(work, klass)
            os.makedirs(folder)
            for f in files:
                shutil.copy(os.path.join(src, f), folder)
                for c in range(1, args.copies):
                    os.link(os.path.join(folder, f), os.path.join(folder, f"{c}-{f}"))
            paths = sorted(os.path.join(folder, f) for f in os.listdir(folder))
            out = os.path.join(work, "out")
            os.makedirs(out, exist_ok=True)

            def ours():
                for f in os.listdir(folder):
                    if f.startswith("加工済"):
                        os.remove(os.path.join(folder, f))
                return run([args.exe, folder], env)[0]

            def floor():
                return sum(run(["djpeg", "-dct", "float", "-outfile", "/dev/null", p])[0] for p in paths)

            def magick():
                return sum(run(["convert", p, "-resize", "270x210", "-quality", "100",
                                os.path.join(out, "m.jpg")])[0] for p in paths)

            def vips():
                return run(["vipsthumbnail", "-s", "270x210", "-o", os.path.join(out, "%s.jpg[Q=100]")]
                           + paths)[0]

            tools = [("punchlet", ours), ("floor", floor)]
            if have("convert"):
                tools.append(("magick", magick))
            if have("vipsthumbnail"):
                tools.append(("vips", vips))
            times = {name: [] for name, _ in tools}
            for r in range(args.rounds):
                order = tools if r % 2 == 0 else list(reversed(tools))
                for name, fn in order:
                    times[name].append(fn() / len(paths))
            floor_ms = statistics.median(times["floor"]) * 1000
            for name, _ in tools:
                ms = statistics.median(times[name]) * 1000
                print(f"{klass:6} {name:9} {ms:9.1f} {ms / floor_ms:8.2f}")

        # Peak memory: does anything grow per job?
        src = os.path.join(args.photos, "24mp")
        files = sorted(f for f in os.listdir(src) if f.lower().endswith(".jpg"))
        memsrc = os.path.join(work, "memsrc")
        os.makedirs(memsrc)
        for f in files:
            shutil.copy(os.path.join(src, f), memsrc)
        for count in (2, 100):
            folder = os.path.join(work, f"mem{count}")
            os.makedirs(folder)
            for i in range(count):
                os.link(os.path.join(memsrc, files[i % len(files)]), os.path.join(folder, f"{i:03d}.jpg"))
            seconds, rss = run([args.exe, folder], env)
            print(f"24mp batch of {count:3d}: peak RSS {rss:6.1f} MB, {seconds / count * 1000:6.1f} ms/photo")
        print("limit: 2 x one decoded 24 MP photo (72 MB) + 80 MB = 224 MB")

        # Start to preview window shown, one 12 MP photo, under Xvfb.
        if have("xvfb-run"):
            one = os.path.join(args.photos, "12mp", "sunset-4272x2848.jpg")
            single = os.path.join(work, "single")
            os.makedirs(single)
            shutil.copy(one, single)
            shown = []
            xenv = dict(env, PUNCHLET_BENCH_QUIT_WHEN_SHOWN="1")
            xenv.pop("QT_QPA_PLATFORM")
            target = os.path.join(single, os.path.basename(one))
            # The whole process under one long-lived X server: start, read, compose,
            # show, then quit at the first pass of the event loop.
            script = f'for i in $(seq {args.rounds}); do s=$(date +%s%N); "$0" "$1"; e=$(date +%s%N); echo $(( (e - s) / 1000000 )); done'
            out = subprocess.run(["xvfb-run", "-a", "bash", "-c", script, args.exe, target],
                                 env=xenv, capture_output=True, text=True)
            shown = [float(x) for x in out.stdout.split()]
            if shown:
                print(f"12 MP single: start to preview shown {statistics.median(shown):.0f} ms (median, whole process)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
