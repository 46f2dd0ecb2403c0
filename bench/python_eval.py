"""Throughput of the Python module's eval against the same loop in C++ (BM_Hair4PlaceAndEval),
for 10^6 BRDFHair4 points with one light each and with eight lights each. A benchmark, not a test:

    PYTHONPATH=build/python /usr/bin/python3 bench/python_eval.py [build/hair_bench]
"""
import json
import subprocess
import sys
import time

import numpy as np

import brdf_hair

POINTS = 1_000_000


def python_rate(material, lights):
    t = np.arange(POINTS, dtype=np.float32) % 1024 / 1024
    dirs = np.stack([0.6 * t - 0.3, np.full_like(t, -0.3), np.full_like(t, -0.95)], -1)
    h = 2 * t - 1
    z = 1 - (2 * np.arange(lights) + 1) / 8.0
    r = np.sqrt(1 - z * z)
    phi = 2.3999632 * np.arange(lights)
    light = np.stack([r * np.cos(phi), z, r * np.sin(phi)], -1).astype(np.float32)
    light = np.broadcast_to(light, (POINTS, lights, 3))
    start = time.process_time()
    material.eval(light, dir=dirs, h=h, normal=(0, 0, 1), strand_color=(0.4, 0.3, 0.2), strand_index=17,
                  strand_length=2, strand_position=0.4)
    return POINTS / (time.process_time() - start)


def cpp_rates(bench):
    out = subprocess.run([bench, "--benchmark_filter=BM_Hair4PlaceAndEval", "--benchmark_format=json",
                          "--benchmark_min_time=1"], capture_output=True, text=True, check=True).stdout
    return {int(b["name"].split(":")[-1]): b["items_per_second"] for b in json.loads(out)["benchmarks"]}


def main():
    bench = sys.argv[1] if len(sys.argv) > 1 else "build/hair_bench"
    m = brdf_hair.default_library().material("BRDFHair4")
    cpp = cpp_rates(bench)
    for lights in (1, 8):
        py = python_rate(m, lights)
        print(f"{lights} light(s): Python {py:,.0f} points/s, C++ {cpp[lights]:,.0f} points/s, "
              f"binding overhead {100 * (cpp[lights] / py - 1):+.1f}%")


if __name__ == "__main__":
    main()
