"""The Python module against hairlab: same bits, same refusals, same pictures."""
import json
import os
import subprocess
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import brdf_hair

HAIRLAB = os.environ.get("HAIRLAB_EXE", "hairlab")
LIB = brdf_hair.default_library()
TYPES = [t["name"] for t in LIB.types]
text = brdf_hair._value_text  # a value as hairlab's options take it


def hairlab(*args, check=True):
    r = subprocess.run([HAIRLAB, *map(str, args)], capture_output=True, text=True)
    assert not check or r.returncode == 0, r.stderr
    return r


def f32(values):
    return np.asarray(values, dtype=np.float64).astype(np.float32)


def unit(v):
    return np.asarray(v, np.float64) / np.linalg.norm(v)


def seeded_points(seed, n):
    """Points as hairlab option texts and as module keyword arguments (the same float32 values)."""
    rng = np.random.default_rng(seed)
    for _ in range(n):
        p = {"dir": f32(unit(rng.normal(size=3))), "tangent": f32(unit(rng.normal(size=3))),
             "h": np.float32(rng.uniform(-1, 1)), "strand_color": f32(rng.uniform(0, 1, 3)),
             "strand_index": int(rng.integers(0, 1000)), "strand_position": np.float32(rng.uniform()),
             "depth": int(rng.integers(0, 3))}
        yield p, [a for k, v in p.items() for a in ("--" + k.replace("_", "-"), text(v))]


LOOKS = {"BRDFHair": {"specular_power": 12}, "BRDFHair2": {"r_mult": 1.5}, "BRDFHair3": {"primary_glossiness": 0.6},
         "BRDFHair4": {"melanin": 0.2, "dye_color": (1, 0.7, 0.5)}}


@pytest.mark.parametrize("type", TYPES)
def test_eval_and_sample_give_hairlab_bits(type):
    m = LIB.material(type, **LOOKS[type])
    opts = ["--type", type, *[a for k, v in LOOKS[type].items() for a in ("--set", f"{k}={text(v)}")]]
    lights = f32([unit([0.2, 0.9, 0.3]), unit([-0.5, -0.1, 0.8]), unit([0.1, 0.2, -1])])
    for p, args in seeded_points(len(type), 6):
        out = json.loads(hairlab("eval", *opts, *args, "--json",
                                 *[a for L in lights for a in ("--light", text(L))]).stdout)
        got = m.eval(lights, **p)
        assert got.dtype == np.float32 and got.shape == (3, 4)
        np.testing.assert_array_equal(got.view(np.uint32), f32([r["color"] for r in out["results"]]).view(np.uint32))
        for key in ("transparency", "opacity", "light_multiplier"):
            np.testing.assert_array_equal(m.colors(**p)[key], f32(out[key]))
        u, xi = np.float32(0.37), f32([0.21, 0.62, 0.83])
        s = json.loads(hairlab("sample", *opts, *args, "--u", text(u), "--xi", text(xi), "--json").stdout)
        r = m.sample(u, xi, **p)
        assert bool(r["valid"]) == (s["result"] != 0)
        if s["result"] != 0:
            np.testing.assert_array_equal(r["direction"], f32(s["direction"]))
            np.testing.assert_array_equal(r["weight"], f32(s["weight"]))
            assert r["probability"] == np.float32(s["probability"])


def test_arguments_broadcast():
    m = LIB.material("BRDFHair4")
    dirs = f32([unit([0.1 * i, -0.3, -1]) for i in range(5)])[:, None, :]  # (5, 1, 3)
    h = np.linspace(-0.9, 0.9, 4, dtype=np.float32)  # (4,)
    light = f32(unit([0.3, 0.8, 0.5]))
    r = m.eval(light, dir=dirs, h=h)
    assert r.shape == (5, 4, 4)
    # Every entry is the point evaluated alone.
    assert np.array_equal(r[3, 2], m.eval(light, dir=dirs[3, 0], h=h[2]))
    # Several lights of each point: the light array's extra leading axis.
    r2 = m.eval(np.broadcast_to(f32([unit([0.3, 0.8, 0.5]), unit([0, 0, 1])]), (4, 2, 3)), h=h)
    assert r2.shape == (4, 2, 4) and np.array_equal(r2[:, 0], m.eval(light, h=h))
    s = m.sample(np.linspace(0, 0.99, 6, dtype=np.float32), dir=dirs[:2])
    assert s["direction"].shape == (2, 6, 3) and s["weight"].shape == (2, 6, 4) and s["valid"].shape == (2, 6)
    assert s["valid"].any() and np.allclose(np.linalg.norm(s["direction"][s["valid"]], axis=-1), 1, atol=1e-5)
    assert m.eval(light).shape == (4,)


# Each refusal is one line with the given words; a material's refusal is also hairlab eval's for the same options.
@pytest.mark.parametrize("call, fragment, cli", [
    (lambda m: LIB.material("BRDFHair5"), "", ["--type", "BRDFHair5"]),
    (lambda m: LIB.material("BRDFHair4", melanim=0.3), "", ["--type", "BRDFHair4", "--set", "melanim=0.3"]),
    (lambda m: LIB.material("BRDFHair4", melanin=2), "", ["--type", "BRDFHair4", "--set", "melanin=2.0"]),
    (lambda m: LIB.material("BRDFHair4", dye_color=(1, 2)), "", ["--type", "BRDFHair4", "--set", "dye_color=1,2"]),
    (lambda m: LIB.material("BRDFHair3", trace_depth=1), "", ["--type", "BRDFHair3", "--set", "trace_depth=1"]),
    (lambda m: m.eval((0, 0, 1), dirr=(0, 0, -1)), "did you mean 'dir'", None),
    (lambda m: m.eval((0, 0, 1), dir=np.zeros((3, 2))), "shape", None),
    (lambda m: m.eval(np.zeros((2, 3)), h=np.zeros(3)), "broadcast", None),
    (lambda m: m.eval((0, 0, 1), depth=0.5), "integers", None),
    (lambda m: m.furnace(h=np.zeros(2)), "scalars", None),
    (lambda m: LIB.material("BRDFHair").gpu_text(), "no GPU material interface", None),
])
def test_refusals_are_one_line(call, fragment, cli):
    with pytest.raises(ValueError, match=fragment) as e:
        call(LIB.material("BRDFHair4"))
    message = str(e.value)
    assert "\n" not in message
    if cli:  # hairlab prefixes its own name and command: the rest is the same line.
        r = hairlab("eval", *cli, "--light", "0,0,1", check=False)
        assert r.returncode == 2 and r.stderr.strip().endswith(message), (r.returncode, r.stderr, message)


def test_types_carry_parsed_hints():
    melanin = next(p for p in LIB.type("BRDFHair4")["parameters"] if p["name"] == "melanin")
    assert melanin["kind"] == "texture_float" and melanin["default"] == pytest.approx(0.3)
    assert melanin["hints"]["minValue"] == 0.0 and melanin["hints"]["maxValue"] == 1.0
    assert melanin["hints"]["startTab"] == "Quor Hair Next" and melanin["hints"]["gpuSupport"] == "full"
    listed = json.loads(hairlab("list", "--json").stdout)["plugins"]
    assert [(t["name"], t["id"]) for t in listed] == [(t["name"], t["id"]) for t in LIB.types]
    assert brdf_hair.parse_hints("enable=(::use_x=1), maxValue(3)") == {"enable": ("use_x", "1")}


def test_furnace_of_a_lossless_fibre_is_one():
    r = LIB.material("BRDFHair4", melanin=0, diffuse_amount=0).furnace(samples=1 << 16, h=0.3)
    assert r["sampled"] is not None
    assert np.allclose(r["sampled"][:3], 1, atol=4 * max(r["sampled_stderr"][:3]) + 0.02)
    assert np.allclose(r["eval"][:3], r["sampled"][:3], atol=0.05)


SMALL_SHOT = dict(subject="swatch", type="BRDFHair4", values={"melanin": 0.4}, width=64, height=48, spp=2, strands=400)


def test_render_equals_hairlabs_exr(tmp_path):
    oiio = pytest.importorskip("OpenImageIO")
    shot = brdf_hair.Shot(**SMALL_SHOT)
    look = tmp_path / "look.json"
    shot.save(look)
    again = brdf_hair.Shot.load(look)
    assert again.to_dict() == shot.to_dict()
    frame = brdf_hair.render(again)
    assert frame["rgba"].shape == (48, 64, 4) and frame["rgba"].dtype == np.float32
    hairlab("render", "-q", "--look", look, "-o", tmp_path / "out.exr")
    exr = oiio.ImageBuf(str(tmp_path / "out.exr"))
    names = list(exr.spec().channelnames)
    rgba = exr.get_pixels(oiio.FLOAT)[..., [names.index(c) for c in ("R", "G", "B", "A")]]
    np.testing.assert_array_equal(rgba, frame["rgba"].astype(np.float16).astype(np.float32))  # the EXR keeps halves
    assert frame.stats["spp"] == 2 and frame.mean_samples == 2 and frame.shading_points > 0


def test_two_threads_render_at_once():
    shot = brdf_hair.Shot(**dict(SMALL_SHOT, values={"melanin": 0.1}))
    alone = brdf_hair.render(shot, threads=1)["rgba"]
    with ThreadPoolExecutor(2) as pool:
        for r in pool.map(lambda _: brdf_hair.render(shot, threads=1)["rgba"], range(2)):
            np.testing.assert_array_equal(r, alone)


def test_plots_draw_without_a_display(tmp_path):
    plot = pytest.importorskip("brdf_hair.plot")
    for type in TYPES:
        fig = plot.lobes(LIB.material(type), view_angle=20)
        fig.savefig(tmp_path / f"{type}.png")
        assert len(fig.axes) == 2 and fig.axes[0].name == "polar" and all(len(ax.lines) >= 1 for ax in fig.axes)
    plot.albedo(LIB.material("BRDFHair4"), angles=5, samples=1 << 12).savefig(tmp_path / "albedo.png")
    assert (tmp_path / "albedo.png").stat().st_size > 1000
