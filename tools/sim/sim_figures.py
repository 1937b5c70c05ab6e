#!/usr/bin/python3
"""Prints round-trip figures of t5170-sim on its pty: poll latency and
measurements per second with --fast. Usage: sim_figures.py [path/to/t5170-sim]"""
import os
import select
import statistics
import subprocess
import sys
import time
import tty

exe = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "../../build/bin/t5170-sim")
p = subprocess.Popen([exe, "--fast"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
try:
    dev = p.stdout.readline().split()[-1]
    fd = os.open(dev, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)

    def read_exactly(n):
        got = b""
        while len(got) < n:
            if not select.select([fd], [], [], 5)[0]:
                sys.exit("t5170-sim did not answer")
            got += os.read(fd, 256)
        return got

    lat = []
    for _ in range(2000):
        t = time.perf_counter()
        os.write(fd, b"\x55")
        read_exactly(1)
        lat.append((time.perf_counter() - t) * 1e6)
    lat.sort()
    print(f"poll round trip (2000): median {statistics.median(lat):.0f} us, "
          f"p99 {lat[int(len(lat) * 0.99)]:.0f} us")

    t = time.perf_counter()
    for _ in range(500):
        os.write(fd, b"\x58")
        read_exactly(12)  # 5D 60 63 uu uu 64 rr rr rr rr 5E 5B
        os.write(fd, b"\x5c")
    print(f"resistance measurements with --fast: {500 / (time.perf_counter() - t):.0f} per second")
finally:
    p.terminate()
    p.wait()
