#!/usr/bin/env python3
"""Starts `tandorfile --start-check` RUNS times and reports the milliseconds from the start to the first
painted window and to the painted main window, with cold settings (a fresh HOME) and warm ones (the
same HOME again). Usage: startup_probe.py PROGRAM RUNS PLATFORM"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def start(program, platform, home):
    env = {"HOME": home, "PATH": "/usr/bin:/bin", "QT_QPA_PLATFORM": platform,
           "XDG_RUNTIME_DIR": home}
    for name in ("DISPLAY", "XAUTHORITY"):
        if name in os.environ:
            env[name] = os.environ[name]
    t0 = time.time_ns() // 1000
    out = subprocess.run([program, "--start-check"], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, timeout=60)
    painted = [line.split(" ", 2) for line in out.stdout.splitlines() if line.startswith("painted ")]
    if out.returncode != 0 or not painted:
        sys.exit("start-check failed:\n" + out.stdout)
    first = (int(painted[0][1]) - t0) / 1000
    main = (int(painted[-1][1]) - t0) / 1000
    return first, main, [p[2] for p in painted]


def report(label, values):
    print(f"  {label:<34} median {statistics.median(values):7.1f} ms   min {min(values):7.1f}   "
          f"max {max(values):7.1f}")


def main():
    program, runs, platform = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    cold_first, cold_main, warm_main = [], [], []
    windows = None
    for _ in range(runs):
        home = tempfile.mkdtemp(prefix="tandor-startup-")
        os.chmod(home, 0o700)
        try:
            first, main_window, windows = start(program, platform, home)
            cold_first.append(first)
            cold_main.append(main_window)
            warm_main.append(start(program, platform, home)[1])
        finally:
            shutil.rmtree(home, ignore_errors=True)
    print(f"{platform}: {runs} runs; cold start paints {' -> '.join(repr(w) for w in windows)}")
    report("cold: first painted window", cold_first)
    report("cold: main window painted", cold_main)
    report("warm: main window painted", warm_main)


if __name__ == "__main__":
    main()
