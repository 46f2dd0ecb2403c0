"""Lobe and albedo plots of a material (matplotlib, imported only when this module is).

The fibre runs along +y; the viewer looks at it from view_angle degrees out of the plane across
the fibre. Values are averaged over the width of the fibre (h from -1 to 1), as a strand seen
from afar shows them.
"""
import os

import matplotlib

if "MPLBACKEND" not in os.environ and not os.environ.get("DISPLAY"):
    matplotlib.use("Agg")  # no display: draw to files
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

__all__ = ["LOBES", "lobe_curves", "draw_lobes", "lobes", "albedo"]

_BLACK = (0, 0, 0)

# The lobes each model has, as parameter values that leave one of them (and the eval flags that
# keep it); the total is the material as given.
LOBES = {
    "BRDFHair": {"specular": ({}, 2), "diffuse": ({}, 1)},
    "BRDFHair2": {
        "R": ({"tt_mult": 0, "trt_mult": 0}, 2),
        "TT": ({"r_mult": 0, "trt_mult": 0}, 2),
        "TRT": ({"r_mult": 0, "tt_mult": 0}, 2),
        "diffuse": ({}, 1),
    },
    "BRDFHair3": {
        "primary": ({"secondary_specular_amount": 0, "transmission_amount": 0}, 2),
        "secondary": ({"primary_specular_amount": 0, "transmission_amount": 0}, 2),
        "transmission": ({"primary_specular_amount": 0, "secondary_specular_amount": 0}, 2),
        "diffuse": ({}, 1),
    },
    "BRDFHair4": {
        "R": ({"secondary_tint": _BLACK, "transmission_tint": _BLACK, "glint_strength": 0}, 2),
        "TT": ({"primary_tint": _BLACK, "secondary_tint": _BLACK, "glint_strength": 0}, 2),
        "TRT": ({"primary_tint": _BLACK, "transmission_tint": _BLACK, "glint_strength": 0}, 2),
        "diffuse": ({}, 1),
    },
}


def _directions(theta, phi):
    """Unit directions at longitudinal angle theta (from the plane across the fibre) and azimuth
    phi (0 towards the viewer), both in radians."""
    theta, phi = np.broadcast_arrays(theta, phi)
    return np.stack([np.cos(theta) * np.sin(phi), np.sin(theta), np.cos(theta) * np.cos(phi)], -1).astype(np.float32)


def _mean_over_width(material, values, flags, lights, view_angle, widths):
    view = np.radians(view_angle)
    ray = -_directions(view, 0.0)  # towards the fibre
    h = np.linspace(-1, 1, widths, dtype=np.float32)[:, None]
    m = material.library.material(material.type, **{**material.values, **values})
    f = m.eval(np.broadcast_to(lights, (widths,) + lights.shape), dir=ray, tangent=(0, 1, 0), h=h, flags=flags)
    return f[..., :3].mean(axis=-1).mean(axis=0)  # luminance-free grey: the mean of r, g and b


def lobe_curves(material, view_angle=30.0, azimuths=181, elevations=91, widths=16):
    """The plot data: azimuth (radians) and the azimuthal distribution on the specular cone for
    each lobe and the total; elevation (radians) and the longitudinal profile (averaged over
    the azimuth) likewise."""
    phi = np.linspace(-np.pi, np.pi, azimuths)
    theta = np.radians(np.linspace(-90, 90, elevations))
    cone = _directions(-np.radians(view_angle), phi)
    grid = _directions(theta[:, None], np.linspace(-np.pi, np.pi, 32, endpoint=False)[None, :]).reshape(-1, 3)
    curves = {"azimuth": phi, "elevation": theta, "azimuthal": {}, "longitudinal": {}}
    wanted = [("total", ({}, 3))] + list(LOBES.get(material.type, {}).items())
    for name, (values, flags) in wanted:
        curves["azimuthal"][name] = _mean_over_width(material, values, flags, cone, view_angle, widths)
        lon = _mean_over_width(material, values, flags, grid, view_angle, widths)
        curves["longitudinal"][name] = lon.reshape(elevations, -1).mean(axis=1)
    return curves


def draw_lobes(polar, line, material, view_angle=30.0, **kw):
    """Draws the lobe curves of a material into a polar and a plain Axes."""
    c = lobe_curves(material, view_angle, **kw)
    for name in c["azimuthal"]:
        style = {"color": "black", "linewidth": 2} if name == "total" else {"linewidth": 1}
        polar.plot(c["azimuth"], c["azimuthal"][name], label=name, **style)
        line.plot(np.degrees(c["elevation"]), c["longitudinal"][name], label=name, **style)
    polar.set_theta_zero_location("N")
    polar.set_title(f"{material.type}: azimuth, light on the specular cone", fontsize=9)
    line.set_xlabel("light elevation (degrees)")
    line.set_ylabel("eval, mean over azimuth and width", fontsize=8)
    line.set_title(f"{material.type}: longitudinal profile", fontsize=9)
    line.legend(fontsize=8)


def lobes(material, view_angle=30.0, **kw):
    """A Figure: the azimuthal distribution as a polar plot and the longitudinal profile, each
    lobe the model has (isolated by its parameters) and the total."""
    fig = plt.figure(figsize=(9, 4))
    draw_lobes(fig.add_subplot(1, 2, 1, projection="polar"), fig.add_subplot(1, 2, 2), material, view_angle, **kw)
    fig.suptitle(f"view {view_angle:g} degrees out of the plane across the fibre", fontsize=9)
    fig.tight_layout()
    return fig


def albedo(material, angles=9, samples=1 << 16, h=0.3):
    """A Figure: the directional albedo against the view angle, by evaluation and (for a
    material that samples) by sampling, with two standard errors."""
    view = np.linspace(-80, 80, angles)
    rows = []
    for a in view:
        d = -_directions(np.radians(a), 0.0)
        rows.append(material.furnace(samples=samples, dir=d, tangent=(0, 1, 0), h=h))
    fig, ax = plt.subplots(figsize=(5, 3.5))
    for key, err, label in (("eval", "eval_stderr", "by evaluation"), ("sampled", "sampled_stderr", "by sampling")):
        if rows[0][key] is None:
            continue
        mean = np.array([np.mean(r[key][:3]) for r in rows])
        stderr = np.array([np.mean(r[err][:3]) for r in rows])
        ax.errorbar(view, mean, yerr=2 * stderr, label=label, capsize=2)
    ax.set_xlabel("view angle out of the plane across the fibre (degrees)")
    ax.set_ylabel("directional albedo")
    ax.set_title(material.type)
    ax.legend(fontsize=8)
    fig.tight_layout()
    return fig
