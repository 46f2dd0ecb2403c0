#!/usr/bin/python3
"""Latency of hairlab serve (a benchmark, not a test): from a parameter change to the first picture
(the draft) of the new version at 640x360, median and 90th percentile over 20 changes, and the time to 16
samples per pixel against `hairlab render --spp 16` of the same shot.
Usage: bench/serve_latency.py [path/to/hairlab]"""
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "serve"))
if len(sys.argv) > 1:
    os.environ["HAIRLAB"] = sys.argv[1]
import serve_support  # noqa: E402

SHOT = ["--scene", "swatch", "--res", "640x360", "--spp", "16"]


def until(server, samples, version):
    """Waits for a picture of version with at least samples per pixel (0: the draft will do)."""
    while True:
        s = server.json("GET", "/api/status")
        if s["version"] == version and s["picture"] == version and s["samples"] >= samples:
            return
        time.sleep(0.002)


def main():
    hairlab = os.environ.get("HAIRLAB", serve_support.HAIRLAB)
    with serve_support.Server(*SHOT) as server:
        until(server, 16, server.json("GET", "/api/status")["version"])
        first, full = [], []
        for i in range(20):
            t0 = time.perf_counter()
            v = server.json("POST", "/api/param", {"lock": 0, "name": "melanin", "value": 0.3 + 0.02 * i})["version"]
            until(server, 0, v)
            first.append(time.perf_counter() - t0)
            until(server, 16, v)
            full.append(time.perf_counter() - t0)
    with serve_support.tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([hairlab, "render", *SHOT, "-q", "-o", os.path.join(tmp, "b.png")],
                             capture_output=True, text=True, check=True).stdout
    batch = float(re.search(r"render ([0-9.]+) s", out).group(1))
    q = statistics.quantiles(first, n=10)
    print(f"first picture after a change: median {statistics.median(first) * 1000:.0f} ms, "
          f"p90 {q[8] * 1000:.0f} ms (20 changes, 640x360)")
    print(f"16 spp after a change: median {statistics.median(full):.2f} s; hairlab render --spp 16: "
          f"{batch:.2f} s (render time, scene build excluded); ratio {statistics.median(full) / batch:.2f}")


if __name__ == "__main__":
    main()
