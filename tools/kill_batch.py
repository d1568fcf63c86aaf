#!/usr/bin/env python3
"""Kills batch runs at random moments and counts what they leave behind.

Usage: tools/kill_batch.py [--program build/punchlet] [--rounds 200] [--pictures 12]

Each round punches a folder of pictures, sends SIGKILL after a random delay
(0 to the time a whole batch takes), then looks at the folder: an output must
be a complete JPEG (it ends with the end-of-image marker and decodes), and no
temporary file may be left. Outputs are removed before the next round.
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def make_pictures(folder, count):
    for i in range(count):
        subprocess.run(["convert", "-size", "1600x1200", "plasma:fractal", "-quality", "92",
                        os.path.join(folder, f"p{i:02}.jpg")], check=True)


def complete_jpeg(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 4 or not data.startswith(b"\xff\xd8") or not data.endswith(b"\xff\xd9"):
        return False
    return subprocess.run(["identify", "-regard-warnings", path], capture_output=True).returncode == 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/punchlet")
    parser.add_argument("--rounds", type=int, default=200)
    parser.add_argument("--pictures", type=int, default=12)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    random.seed(args.seed)
    program = os.path.abspath(args.program)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["QT_QPA_PLATFORM"] = "offscreen"

    work = tempfile.mkdtemp(prefix="kill-batch-")
    env["XDG_CONFIG_HOME"] = os.path.join(work, "config")
    folder = os.path.join(work, "pictures")
    os.makedirs(folder)
    make_pictures(folder, args.pictures)
    sources = set(os.listdir(folder))

    start = time.monotonic()
    subprocess.run([program, folder], env=env, check=True)
    full = time.monotonic() - start
    for name in set(os.listdir(folder)) - sources:
        os.remove(os.path.join(folder, name))

    kills = complete = leftovers = partial = 0
    for _ in range(args.rounds):
        run = subprocess.Popen([program, folder], env=env, stderr=subprocess.DEVNULL)
        time.sleep(random.uniform(0, full))
        if run.poll() is None:
            run.send_signal(signal.SIGKILL)
            kills += 1
        run.wait()
        for name in sorted(set(os.listdir(folder)) - sources):
            path = os.path.join(folder, name)
            if name.startswith("加工済") and complete_jpeg(path):
                complete += 1
            elif name.startswith("加工済"):
                partial += 1
                print("partial output:", name, os.path.getsize(path), file=sys.stderr)
            else:
                leftovers += 1
                print("left behind:", name, file=sys.stderr)
            os.remove(path)

    shutil.rmtree(work)
    print(f"batch of {args.pictures} takes {full:.2f} s; {args.rounds} rounds, {kills} killed "
          f"mid-batch; {complete} complete outputs, {partial} partial outputs, "
          f"{leftovers} temporary files left")
    return 0 if partial == 0 and leftovers == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
