#!/usr/bin/python3
"""Measures every BRDFHair4 colour preset against the natural hair colour of its name.

Each preset's swatch is rendered under the studio lights; the mean colour of its hair pixels
(coverage above 0.95, un-premultiplied) is taken relative to a lossless lock (melanin 0, dye
white, no diffuse, 1000 bounces) under the same lights, the white standard a spectrophotometer
measures hair against, and converted to CIE L*C*h (sRGB primaries, D65). The script prints a
table and exits 1 when any preset leaves its range.

--depths NAME ... instead finds, for each preset, the smallest trace depth whose swatch keeps 95%
of the luminance it has at 1000 bounces: how the light presets' depths were chosen.

Usage: preset_colours.py [--size WxH] [--spp N] [--depths NAME ...]
(PYTHONPATH must reach the built brdf_hair module, e.g. build/python.)
"""
import argparse
import sys

import numpy as np

import brdf_hair

# Target ranges: (L* low, high), (C* low, high), (hue low, high in degrees, or None where the
# chroma is too low for a hue to mean anything). Drawn from spectrophotometric surveys of natural
# hair in CIE L*a*b*: Vaughn, van Oorschot and Baindur-Hudson, "Hair color measurement and
# variation", Am. J. Phys. Anthropol. 137 (2008), 132 people of European ancestry; and Lozano,
# Saunier, Panhard and Loussouarn, "The diversity of the human hair colour assessed by visual
# scales and instrumental measurements. A worldwide survey", Int. J. Cosmet. Sci. 39 (2017),
# 2057 people from 23 regions. Both find natural colours ordered mainly by L* and b*, black near
# L* 15-20 with almost no chroma, blondes up to L* 60 and beyond with b* near 20, and red hair
# apart by a* (hue near 50 degrees). The bands are ours, from those spreads, widened for light
# that a rendered lock sends back along with its fibres' colour (highlights, shadows between
# strands). White and platinum, which the surveys barely sample, are bounded by the white
# standard above and the palest blonde below.
RANGES = {
    "black": ((12, 24), (0, 6), None),
    "dark-brown": ((17, 28), (2, 10), (30, 80)),
    "brown": ((22, 34), (6, 18), (40, 75)),
    "light-brown": ((28, 42), (10, 24), (50, 80)),
    "dark-blonde": ((36, 52), (14, 28), (60, 85)),
    "blonde": ((48, 68), (16, 32), (70, 90)),
    "platinum": ((68, 95), (5, 18), (75, 100)),
    "auburn": ((22, 36), (12, 28), (35, 60)),
    "red": ((28, 45), (20, 40), (40, 62)),
    "ginger": ((35, 55), (25, 45), (50, 70)),
    "grey": ((35, 60), (0, 10), None),
    "white": ((75, 100), (0, 12), None),
}

LOSSLESS = {"melanin": 0, "pheomelanin": 0, "dye_color": [1, 1, 1], "diffuse_amount": 0, "trace_depth": 1000}
SRGB_TO_XYZ = np.array([[0.4124564, 0.3575761, 0.1804375],
                        [0.2126729, 0.7151522, 0.0721750],
                        [0.0193339, 0.1191920, 0.9503041]])
D65 = SRGB_TO_XYZ @ np.ones(3)


def hair_mean(values, size, spp):
    """The mean linear RGB of the swatch's hair pixels."""
    shot = brdf_hair.Shot(subject="swatch", values=values, width=size[0], height=size[1], spp=spp)
    rgba = brdf_hair.render(shot)["rgba"]
    hair = rgba[..., 3] > 0.95
    if not hair.any():
        raise SystemExit("preset_colours: the swatch shows no hair at this size")
    return rgba[hair, :3].sum(axis=0) / rgba[hair, 3].sum()


def luminance(rgb):
    return float(SRGB_TO_XYZ[1] @ rgb)


def lch(rgb, white_luminance):
    """CIE L*, C*, h of a linear sRGB colour relative to a white of that luminance."""
    xyz = SRGB_TO_XYZ @ np.asarray(rgb, float) / white_luminance / D65
    f = np.where(xyz > (6 / 29) ** 3, np.cbrt(xyz), xyz / (3 * (6 / 29) ** 2) + 4 / 29)
    a, b = 500 * (f[0] - f[1]), 200 * (f[1] - f[2])
    return 116 * f[1] - 16, float(np.hypot(a, b)), float(np.degrees(np.arctan2(b, a)) % 360)


def within(value, band):
    return band is None or band[0] <= value <= band[1]


def check(presets, size, spp):
    white = luminance(hair_mean(LOSSLESS, size, spp))
    failed = []
    print(f"{'preset':12s} {'L*':>6s} {'C*':>6s} {'hue':>6s}  target L*, C*, hue")
    for p in presets:
        L, C, h = lch(hair_mean(p["values"], size, spp), white)
        (lr, cr, hr) = RANGES[p["name"]]
        ok = within(L, lr) and within(C, cr) and within(h, hr)
        hue = "any" if hr is None else f"{hr[0]}-{hr[1]}"
        print(f"{p['name']:12s} {L:6.1f} {C:6.1f} {h:6.1f}  {lr[0]}-{lr[1]}, {cr[0]}-{cr[1]}, {hue}"
              f"{'' if ok else '   OUT OF RANGE'}")
        if not ok:
            failed.append(p["name"])
    if failed:
        print("preset_colours: outside their range: " + ", ".join(failed), file=sys.stderr)
    return 1 if failed else 0


def depths(presets, names, size, spp):
    by_name = {p["name"]: p for p in presets}
    for name in names:
        if name not in by_name:
            raise SystemExit(f"preset_colours: unknown preset '{name}'")
        values = dict(by_name[name]["values"])
        converged = luminance(hair_mean({**values, "trace_depth": 1000}, size, spp))
        for depth in (10, 15, 20, 30, 40, 50, 60, 70, 80, 100, 120, 150, 200, 300, 500, 1000):
            kept = luminance(hair_mean({**values, "trace_depth": depth}, size, spp)) / converged
            if kept >= 0.95:
                break
        print(f"{name}: trace_depth {depth} keeps {kept:.3f} of the converged luminance")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", default="60x80", help="swatch picture WxH (default 60x80)")
    parser.add_argument("--spp", type=int, default=8, help="samples per pixel (default 8)")
    parser.add_argument("--depths", nargs="+", metavar="NAME", help="find the trace depth these presets need")
    args = parser.parse_args()
    try:
        size = tuple(int(v) for v in args.size.lower().split("x"))
        if len(size) != 2 or min(size) < 8 or args.spp < 1:
            raise ValueError
    except ValueError:
        raise SystemExit(f"preset_colours: --size '{args.size}' --spp {args.spp}: expected WxH of 8 or more "
                         "and a positive sample count")
    presets = brdf_hair.presets()
    missing = sorted({p["name"] for p in presets} ^ set(RANGES))
    if missing:
        raise SystemExit("preset_colours: presets and ranges differ: " + ", ".join(missing))
    if args.depths:
        return depths(presets, args.depths, size, args.spp)
    return check(presets, size, args.spp)


if __name__ == "__main__":
    sys.exit(main())
