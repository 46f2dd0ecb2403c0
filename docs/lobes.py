"""Renders docs/lobes.png, the README's figure: the lobes of the four materials at their registered
defaults, seen 30 degrees out of the plane across the fibre.

    PYTHONPATH=build/python /usr/bin/python3 docs/lobes.py [OUTPUT.png]
"""
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import brdf_hair  # noqa: E402
from brdf_hair import plot  # noqa: E402


def main(out):
    lib = brdf_hair.default_library()
    types = [t["name"] for t in sorted(lib.types, key=lambda t: t["id"])]
    fig = plt.figure(figsize=(12, 3.2 * len(types)))
    for row, type in enumerate(types):
        plot.draw_lobes(fig.add_subplot(len(types), 2, 2 * row + 1, projection="polar"),
                        fig.add_subplot(len(types), 2, 2 * row + 2), lib.material(type), view_angle=30)
    fig.tight_layout()
    fig.savefig(out, dpi=80)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "lobes.png"))
