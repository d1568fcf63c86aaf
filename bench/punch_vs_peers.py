#!/usr/bin/env python3
"""Times Punchlet's batch punch against the decode floor and two peers, side by side.

Per size class (2, 12, 24 MP), each round runs, in alternating order:
  punchlet-wN  build/punchlet FOLDER with PUNCHLET_WORKERS=N (batch mode, default
               settings, offscreen), for N = 1, 2, the program's default (one per
               core, at most 8) and every core of this machine
  floor        djpeg -dct float -outfile /dev/null FILE, for every file (one core:
               the cost of decoding every pixel once)
  magick       convert FILE -resize 270x210 -quality 100 OUT, for every file
  vips         vipsthumbnail -s 270x210 -o OUT[Q=100] FILE..., one batch (it
               shrinks while decoding, so it does not decode every pixel)
and reports the median time per photo and each ratio to the floor of the same run.

Then:
  start-up   where the time goes from process start to the first job begun, from
             the program's own marks (PUNCHLET_STARTUP_TRACE); "before main" is the
             process's CPU time at main, i.e. loading and linking the libraries
  whole      a whole run of 10 camera photos (5 at 12 MP, 5 at 24 MP) timed as a
             process, against the summed single-core djpeg time of the same files
  memory     peak RSS of a 2- and a 100-photo batch of 24 MP photos, per worker count
  claims     peak RSS of four 4 MB BMP files claiming 16384 x 16384 pixels, 4 workers
  single     the time from start to the preview window shown for one 12 MP photo (Xvfb)

The machine's load average is printed at the start and the end: figures taken while
other work runs are noisy, and the ratios to the floor are the ones to compare.

Usage: bench/punch_vs_peers.py [--rounds N] [--copies N] [--photos DIR] [--exe build/punchlet]
                               [--baseline OTHER] [--classes 2mp,12mp,24mp] [--no-magick]
                               [--startup-runs N] [--only speed,startup,whole,memory,claims,single]
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


CPU = {}  # CPU seconds (user + system) of the last run(), by command name


def run(cmd, env=None):
    """Runs a command; returns (seconds, peak RSS in MB of that child, stderr)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = proc.stderr.read().decode(errors="replace")
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.stderr.close()
    CPU["last"] = usage.ru_utime + usage.ru_stime
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{err}")
    return elapsed, usage.ru_maxrss / 1024.0, err


def have(tool):
    return shutil.which(tool) is not None


def load():
    one, five, _ = os.getloadavg()
    return f"load average {one:.2f} (1 min), {five:.2f} (5 min) on {os.cpu_count()} cores"


MAX_DEFAULT_WORKERS = 8  # TJobRunner::MaxDefaultWorkers


def default_workers():
    return max(1, min(os.cpu_count() or 1, MAX_DEFAULT_WORKERS))


def worker_counts():
    """1, 2, the program's default (one per core, at most 8) and every core."""
    cores = os.cpu_count() or 1
    return sorted({1, 2, default_workers(), cores})


def clear_outputs(folder):
    for f in os.listdir(folder):
        if f.startswith("加工済"):
            os.remove(os.path.join(folder, f))


def make_batch(photos, klass, work, copies):
    """A folder holding each photo of a class `copies` times (hard links)."""
    src = os.path.join(photos, klass)
    files = sorted(f for f in os.listdir(src) if f.lower().endswith(".jpg"))
    folder = os.path.join(work, klass)
    os.makedirs(folder)
    for f in files:
        shutil.copy(os.path.join(src, f), folder)
        for c in range(1, copies):
            os.link(os.path.join(folder, f), os.path.join(folder, f"{c}-{f}"))
    return folder, sorted(os.path.join(folder, f) for f in os.listdir(folder))


def speed(args, env, work):
    counts = worker_counts()
    print(f"\n== Batch speed: median ms per photo over {args.rounds} rounds, "
          f"batches of {5 * args.copies} photos; × floor = ratio to djpeg in the same run")
    print("   (cpu ms/photo: user + system time of all threads; wall ÷ cpu shows the cores used)")
    print(f"{'class':6} {'tool':12} {'ms/photo':>9} {'× floor':>8} {'cpu ms':>9}")
    results = {}
    for klass in args.classes.split(","):
        folder, paths = make_batch(args.photos, klass, work, args.copies)
        out = os.path.join(work, "out")
        os.makedirs(out, exist_ok=True)

        def timed(cmd, e=None):
            """(wall, CPU) seconds of one command."""
            wall = run(cmd, e)[0]
            return wall, CPU["last"]

        def total(pairs):
            pairs = list(pairs)
            return sum(w for w, _ in pairs), sum(c for _, c in pairs)

        def ours(workers, exe=args.exe):
            def go():
                clear_outputs(folder)
                return timed([exe, folder], dict(env, PUNCHLET_WORKERS=str(workers)))
            return go

        def floor():
            return total(timed(["djpeg", "-dct", "float", "-outfile", "/dev/null", p]) for p in paths)

        def magick():
            return total(timed(["convert", p, "-resize", "270x210", "-quality", "100",
                                os.path.join(out, "m.jpg")]) for p in paths)

        def vips():
            return timed(["vipsthumbnail", "-s", "270x210", "-o", os.path.join(out, "%s.jpg[Q=100]")]
                         + paths)

        tools = [(f"punchlet-w{n}", ours(n)) for n in counts] + [("floor", floor)]
        if args.baseline:
            # Another build, e.g. the one before a change, in the same alternation.
            tools += [(f"baseline-w{n}", ours(n, args.baseline)) for n in counts]
        if have("convert") and not args.no_magick:
            tools.append(("magick", magick))
        if have("vipsthumbnail"):
            tools.append(("vips", vips))
        times = {name: [] for name, _ in tools}
        cpu = {name: [] for name, _ in tools}
        for r in range(args.rounds):
            order = tools if r % 2 == 0 else list(reversed(tools))
            for name, fn in order:
                wall, used = fn()
                times[name].append(wall / len(paths))
                cpu[name].append(used / len(paths))
        floor_ms = statistics.median(times["floor"]) * 1000
        for name, _ in tools:
            ms = statistics.median(times[name]) * 1000
            cpu_ms = statistics.median(cpu[name]) * 1000
            results[(klass, name)] = ms / floor_ms
            print(f"{klass:6} {name:12} {ms:9.1f} {ms / floor_ms:8.2f} {cpu_ms:9.1f}")
        shutil.rmtree(folder)
    if len(counts) > 1:
        print("\nTime per photo relative to one worker (1.00 = no gain):")
        for klass in args.classes.split(","):
            one = results[(klass, "punchlet-w1")]
            cells = "  ".join(f"w{n}: {results[(klass, f'punchlet-w{n}')] / one:.2f}" for n in counts)
            print(f"  {klass:6} {cells}")


def startup(args, env, work):
    """Stage marks of batch runs of two 2 MP photos; medians over the runs."""
    src = os.path.join(args.photos, "2mp")
    files = sorted(f for f in os.listdir(src) if f.lower().endswith(".jpg"))[:2]
    folder = os.path.join(work, "startup")
    os.makedirs(folder)
    for f in files:
        shutil.copy(os.path.join(src, f), folder)
    tenv = dict(env, PUNCHLET_STARTUP_TRACE="1")
    stages = {}
    order = []
    for _ in range(args.startup_runs):
        clear_outputs(folder)
        _, _, err = run([args.exe, folder], tenv)
        marks = [line.split(" ", 3)[1:] for line in err.splitlines()
                 if line.startswith("punchlet-startup ")]
        if not marks:
            sys.exit("no start-up marks: is this build older than PUNCHLET_STARTUP_TRACE?")
        main_ns, main_cpu = int(marks[0][0]), int(marks[0][1])
        previous = main_ns
        stages.setdefault("before main (loader, CPU)", []).append(main_cpu / 1e6)
        for ns, _, stage in marks[1:]:
            ns = int(ns)
            stages.setdefault(stage, []).append((ns - previous) / 1e6)
            if stage not in order:
                order.append(stage)
            previous = ns
            if stage == "first job begun":
                stages.setdefault("= start to first job begun", []).append(
                    (ns - main_ns + main_cpu) / 1e6)
    floor = [run(["djpeg", "-version"])[0] * 1000 for _ in range(args.startup_runs)]
    nothing = os.path.join(work, "empty")
    os.makedirs(nothing)
    idle = [run([args.exe, nothing], env)[0] * 1000 for _ in range(args.startup_runs)]
    print(f"\n== Start-up of a batch of two 2 MP photos: median of {args.startup_runs} runs, ms")
    print("   (each stage is the time since the previous mark)")
    for stage in ["before main (loader, CPU)"] + order + ["= start to first job begun"]:
        if stage in stages:
            print(f"  {stage:34} {statistics.median(stages[stage]):7.2f}")
    print(f"  {'whole run, nothing to punch':34} {statistics.median(idle):7.2f}   (wall, as spawned from here)")
    print(f"  {'djpeg -version':34} {statistics.median(floor):7.2f}   (wall: the cost of spawning any program)")


def whole(args, env, work):
    """One process over the 10 camera photos, as a user runs it; medians over the rounds."""
    folder = os.path.join(work, "whole")
    os.makedirs(folder)
    for klass in ("12mp", "24mp"):
        src = os.path.join(args.photos, klass)
        for f in sorted(f for f in os.listdir(src) if f.lower().endswith(".jpg"))[:5]:
            shutil.copy(os.path.join(src, f), os.path.join(folder, f"{klass}-{f}"))
    paths = sorted(os.path.join(folder, f) for f in os.listdir(folder))

    def ours(exe):
        def go():
            clear_outputs(folder)
            return run([exe, folder], env)[0], CPU["last"]
        return go

    def floor():
        pairs = [(run(["djpeg", "-dct", "float", "-outfile", "/dev/null", p])[0], CPU["last"])
                 for p in paths]
        return sum(w for w, _ in pairs), sum(c for _, c in pairs)

    tools = [("punchlet", ours(args.exe)), ("floor", floor)]
    if args.baseline:
        tools.append(("baseline", ours(args.baseline)))
    times = {name: [] for name, _ in tools}
    cpu = {name: [] for name, _ in tools}
    for r in range(args.rounds):
        for name, fn in (tools if r % 2 == 0 else list(reversed(tools))):
            wall, used = fn()
            times[name].append(wall)
            cpu[name].append(used)
    floor_s = statistics.median(times["floor"])
    print(f"\n== Whole run of {len(paths)} camera photos (12 and 24 MP), one process, "
          f"default workers: median of {args.rounds} rounds (cpu: user + system, all threads)")
    for name, _ in tools:
        sec = statistics.median(times[name])
        print(f"  {name:10} {sec * 1000:8.0f} ms  {sec / floor_s:5.2f} × summed djpeg -dct float"
              f"   cpu {statistics.median(cpu[name]) * 1000:6.0f} ms")
    if args.baseline:
        ratios = sorted(a / b for a, b in zip(times["punchlet"], times["baseline"]))
        saved = sorted(b - a for a, b in zip(cpu["punchlet"], cpu["baseline"]))
        print(f"  cpu saved per run against baseline: median {statistics.median(saved) * 1000:.1f} ms")
        print(f"  punchlet ÷ baseline per round: median {statistics.median(ratios):.3f} "
              f"(range {ratios[0]:.3f} … {ratios[-1]:.3f})")


def claims(args, env, work):
    """Files that claim a huge picture but hold 4 MB: the memory budget bounds them."""
    import struct
    folder = os.path.join(work, "claims")
    os.makedirs(folder)
    side, data = 16384, b"\x80" * (4 << 20)
    header = (struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
              + struct.pack("<IiiHHIIiiII", 40, side, side, 1, 24, 0, 0, 2835, 2835, 0, 0))
    for i in range(4):
        with open(os.path.join(folder, f"claim{i}.bmp"), "wb") as f:
            f.write(header + data)
    print("\n== Four 4 MB BMP files claiming 16384 x 16384 (805 MB each), PUNCHLET_WORKERS=4")
    for name, exe in [("punchlet", args.exe)] + ([("baseline", args.baseline)] if args.baseline else []):
        clear_outputs(folder)
        seconds, rss, _ = run([exe, folder], dict(env, PUNCHLET_WORKERS="4"))
        print(f"  {name:10} peak RSS {rss:7.1f} MB, {seconds:5.1f} s")
    print("  limit: 1.1 GB with the default budget (PUNCHLET_MEMORY_MB)")


def memory(args, env, work):
    src = os.path.join(args.photos, "24mp")
    files = sorted(f for f in os.listdir(src) if f.lower().endswith(".jpg"))
    memsrc = os.path.join(work, "memsrc")
    os.makedirs(memsrc)
    for f in files:
        shutil.copy(os.path.join(src, f), memsrc)
    print("\n== Peak memory (RSS) of 24 MP batches")
    for count in (2, 100):
        folder = os.path.join(work, f"mem{count}")
        os.makedirs(folder)
        for i in range(count):
            os.link(os.path.join(memsrc, files[i % len(files)]), os.path.join(folder, f"{i:03d}.jpg"))
    for workers in worker_counts():
        for count in (2, 100):
            folder = os.path.join(work, f"mem{count}")
            clear_outputs(folder)
            seconds, rss, _ = run([args.exe, folder], dict(env, PUNCHLET_WORKERS=str(workers)))
            print(f"  {workers} worker(s), batch of {count:3d}: peak RSS {rss:6.1f} MB, "
                  f"{seconds / count * 1000:6.1f} ms/photo")
    print("  limit: 100 MB, flat in batch length")


def single(args, env, work):
    if not have("xvfb-run"):
        return
    one = os.path.join(args.photos, "12mp", "sunset-4272x2848.jpg")
    folder = os.path.join(work, "single")
    os.makedirs(folder)
    shutil.copy(one, folder)
    xenv = dict(env, PUNCHLET_BENCH_QUIT_WHEN_SHOWN="1")
    xenv.pop("QT_QPA_PLATFORM")
    target = os.path.join(folder, os.path.basename(one))
    # The whole process under one long-lived X server: start, read, compose,
    # show, then quit at the first pass of the event loop.
    script = (f'for i in $(seq {args.rounds}); do s=$(date +%s%N); "$0" "$1"; e=$(date +%s%N); '
              f'echo $(( (e - s) / 1000000 )); done')
    out = subprocess.run(["xvfb-run", "-a", "bash", "-c", script, args.exe, target],
                         env=xenv, capture_output=True, text=True)
    shown = [float(x) for x in out.stdout.split()]
    if shown:
        print(f"\n== 12 MP single: start to preview shown {statistics.median(shown):.0f} ms "
              f"(median, whole process, Xvfb)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--photos", default=os.path.join(ROOT, "..", "shared", "photos"))
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "punchlet"))
    parser.add_argument("--classes", default="2mp,12mp,24mp")
    parser.add_argument("--baseline",
                        help="another punchlet build timed alongside (speed, whole, claims)")
    parser.add_argument("--copies", type=int, default=4,
                        help="each photo appears this many times in a class's batch")
    parser.add_argument("--no-magick", action="store_true", help="leave out ImageMagick (slow)")
    parser.add_argument("--startup-runs", type=int, default=21)
    parser.add_argument("--only", default="speed,startup,whole,memory,claims,single",
                        help="which parts to run, comma-separated")
    args = parser.parse_args()
    parts = args.only.split(",")

    print(f"punch_vs_peers: {time.strftime('%Y-%m-%d %H:%M')}, {load()}")
    print(f"punchlet worker counts: {', '.join(map(str, worker_counts()))} "
          f"(PUNCHLET_WORKERS; without it the program uses {default_workers()})")
    work = tempfile.mkdtemp(prefix="punchlet-bench-")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(work, "config"))
    env.pop("PUNCHLET_WORKERS", None)
    try:
        if "startup" in parts:
            startup(args, env, work)
        if "speed" in parts:
            speed(args, env, work)
        if "whole" in parts:
            whole(args, env, work)
        if "memory" in parts:
            memory(args, env, work)
        if "claims" in parts:
            claims(args, env, work)
        if "single" in parts:
            single(args, env, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"\nend: {load()}")


if __name__ == "__main__":
    main()
