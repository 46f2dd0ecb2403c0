"""brdf_hair: the hair materials from Python.

The plug-in is loaded through getLibDesc exactly as hairlab loads it; shading points take
hairlab's point options (as keyword arguments, each a scalar or a numpy array, broadcast
together) and give the bits hairlab prints; shots render to numpy arrays.
"""
import json
import os
import re
import threading

import numpy as np

from . import _core

__all__ = ["Library", "Material", "Shot", "render", "presets", "parse_hints", "default_library"]

_NUMERIC_HINTS = {"minValue", "maxValue", "softMinValue", "softMaxValue"}
_HINT_ITEM = re.compile(r"(\w+)=\(([^)]*)\)")


def parse_hints(text):
    """The fields of a hint text ("displayName=(Melanin), minValue=(0), ..."), limits as floats,
    enable=(::name=value) as a (name, value) pair. An item written without '=' (such as
    "maxValue(100000)") is no field, as a host's editor reads it."""
    fields = {}
    for key, value in _HINT_ITEM.findall(text or ""):
        if key in _NUMERIC_HINTS:
            try:
                value = float(value)
            except ValueError:
                pass
        elif key == "enable" and value.startswith("::") and "=" in value:
            name, _, want = value[2:].partition("=")
            value = (name, want)
        fields[key] = value
    return fields


def _value_text(value):
    """A parameter value as hairlab's --set takes it."""
    if value is None:
        return "none"
    if isinstance(value, (bool, np.bool_)):
        return "true" if value else "false"
    if isinstance(value, str):
        return value
    if isinstance(value, (tuple, list, np.ndarray)):
        return ",".join(_value_text(v) for v in value)
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    return repr(float(value))


class Library:
    """A plug-in library, loaded with dlopen through getLibDesc: path, else $HAIRLAB_PLUGIN,
    else the libbrdf_hair.so this module was built with."""

    def __init__(self, path=None):
        self.path = path or _core.default_plugin_path()
        self._lib = _core.Library(self.path)
        self.name = self._lib.name
        self.description = self._lib.description
        self.types = self._lib.types()
        for t in self.types:
            for p in t["parameters"]:
                p["hints"] = parse_hints(p["hints_text"])
        self._by_name = {t["name"]: t for t in self.types}

    def type(self, name):
        return self._by_name[name]

    def material(self, type, unbound=False, unchecked=False, unit_scale=None, **values):
        """A material of a type, validated as hairlab validates --type/--set: texture parameters
        bound to their registered defaults unless unbound; a value outside a parameter's limits
        refused unless unchecked. Refusals raise ValueError with hairlab's line."""
        return Material(self, type, values, unbound, unchecked, unit_scale)


_default = None
_default_lock = threading.Lock()


def presets():
    """The BRDFHair4 colour presets, as hairlab presets lists them: name, description and the
    values each sets (numbers and colour lists, ready for Shot(values=...))."""
    def value(text):
        parts = [float(p) for p in text.split(",")]
        return parts if len(parts) > 1 else parts[0]
    return [{"name": n, "description": d, "values": {k: value(v) for k, v in sets}}
            for n, d, sets in _core.presets()]


def default_library():
    """The library loaded from the default path, once."""
    global _default
    with _default_lock:
        if _default is None:
            _default = Library()
        return _default


# Point options: name -> (dtype, trailing shape). Defaults are hairlab's (the core applies them
# to an option that is not given).
_POINT = {
    "dir": (np.float32, (3,)),
    "tangent": (np.float32, (3,)),
    "normal": (np.float32, (3,)),
    "h": (np.float32, ()),
    "strand_color": (np.float32, (3,)),
    "strand_transparency": (np.float32, (3,)),
    "strand_index": (np.int32, ()),
    "strand_length": (np.float32, ()),
    "strand_position": (np.float32, ()),
    "no_strand_data": (np.int32, ()),
    "coverage": (np.float32, ()),
    "depth": (np.int32, ()),
    "ray_flags": (np.int32, ()),
    "context_flags": (np.int32, ()),
    "side": (np.int32, ()),
    "gi": (np.float32, (3,)),
    "mis": (np.int32, ()),
}


def _array(name, value, dtype, tail):
    a = np.asarray(value)
    if dtype is np.int32:
        if a.dtype.kind not in "biu":
            raise ValueError(f"{name}: expected integers, not {a.dtype}")
        a = a.astype(np.int64)
        if a.size and (a.min() < -(2**31) or a.max() > 2**32 - 1):
            raise ValueError(f"{name}: outside the 32-bit range")
        a = a.astype(np.uint32).view(np.int32) if a.size and a.max() > 2**31 - 1 else a.astype(np.int32)
    else:
        a = a.astype(np.float32, copy=False)  # a broadcast view stays a view
    if tail and (a.ndim == 0 or a.shape[-1] != tail[0]):
        raise ValueError(f"{name}: expected shape (..., 3), not {a.shape}")
    return a


def _points(kwargs, extra=()):
    """Point arrays from keyword arguments, with their broadcast shape (the extra arrays, given
    as (name, array, tail-length) triples, take part in the broadcast)."""
    arrays = {}
    for name, value in kwargs.items():
        if name not in _POINT:
            import difflib

            near = difflib.get_close_matches(name, list(_POINT), 1)
            hint = f" (did you mean '{near[0]}'?)" if near else ""
            raise ValueError(f"unknown point option '{name}'{hint}")
        if value is None:
            continue
        dtype, tail = _POINT[name]
        arrays[name] = _array(name, value, dtype, tail)
    shapes = [a.shape[: a.ndim - len(_POINT[n][1])] for n, a in arrays.items()]
    shapes += [a.shape[: a.ndim - t] for _, a, t in extra]
    try:
        shape = np.broadcast_shapes(*shapes) if shapes else ()
    except ValueError as e:
        raise ValueError(f"point options do not broadcast together: {e}") from None
    return arrays, shape


def _flat(a, shape, tail):
    n = int(np.prod(shape, dtype=np.int64))
    return np.broadcast_to(a, tuple(shape) + tuple(tail)).reshape((n,) + tuple(tail))


def _flat_points(arrays, shape):
    return {k: _flat(a, shape, _POINT[k][1]) for k, a in arrays.items()}


class Material:
    """One material: a type and its parameter values. Every call makes its own instance and
    shading point, so materials may be used from several threads at once."""

    def __init__(self, library, type, values, unbound=False, unchecked=False, unit_scale=None):
        self.library = library
        self.type = type
        self.values = dict(values)
        sets = [(k, _value_text(v)) for k, v in values.items()]
        self._m = _core.Material(library._lib, type, sets, unbound, unchecked, unit_scale)

    def __repr__(self):
        return f"Material({self.type!r}, {self.values!r})"

    def eval(self, light, light_color=(1, 1, 1), light_prob=1.0, flags=3, **point):
        """eval of every point for its light(s): (..., 4) float32. light is (..., 3); when it has
        more leading axes than the point options, its last leading axis holds several lights of
        each point (set up once per point) and the result is (..., L, 4)."""
        light = _array("light", light, np.float32, (3,))
        arrays, pshape = _points(point, [("light_color", _array("light_color", light_color, np.float32, (3,)), 1),
                                         ("light_prob", np.asarray(light_prob, np.float32), 0),
                                         ("flags", _array("flags", flags, np.int32, ()), 0)])
        lead = light.shape[:-1]
        if len(lead) > len(pshape):
            shape, nl = np.broadcast_shapes(pshape, lead[:-1]), lead[-1]
            lights = np.broadcast_to(light, shape + (nl, 3)).reshape(-1, nl, 3)
            out_shape = shape + (nl, 4)
        else:
            shape = np.broadcast_shapes(pshape, lead)
            lights = _flat(light, shape, (3,))[:, None, :]
            out_shape = shape + (4,)
        lc = _flat(_array("light_color", light_color, np.float32, (3,)), shape, (3,))
        lp = _flat(np.asarray(light_prob, np.float32), shape, ())
        fl = _flat(_array("flags", flags, np.int32, ()), shape, ())
        r = self._m.eval(_flat_points(arrays, shape), lights, lc, lp, fl)
        return r.reshape(out_shape)

    def colors(self, **point):
        """The sampler's transparency, opacity and light multiplier (weight 1) per point."""
        arrays, shape = _points(point)
        n = int(np.prod(shape, dtype=np.int64))
        r = self._m.colors(_flat_points(arrays, shape), n)
        return {k: v.reshape(tuple(shape) + (4,)) for k, v in r.items()}

    def sample(self, u, xi=(0.5, 0.5, 0.5), mode=0, **point):
        """sampleRay per point: dict of direction (..., 3), weight (..., 4), probability, result
        and valid (a refused sample: valid False and NaN values)."""
        u = np.asarray(u, np.float32)
        xi = _array("xi", xi, np.float32, (3,))
        arrays, shape = _points(point, [("u", u, 0), ("xi", xi, 1)])
        r = self._m.sample(_flat_points(arrays, shape), _flat(u, shape, ()), _flat(xi, shape, (3,)), int(mode))
        tails = {"direction": (3,), "weight": (4,)}
        return {k: v.reshape(tuple(shape) + tails.get(k, ())) for k, v in r.items()}

    def furnace(self, samples=1 << 21, seed=1, **point):
        """Directional albedo of one point two ways (harness furnace): eval, eval_stderr,
        sampled and sampled_stderr (None for a material that does not sample)."""
        arrays, shape = _points(point)
        if shape != ():
            raise ValueError("furnace: the point options must be scalars (one point)")
        r = self._m.furnace(_flat_points(arrays, (1,)), int(samples), int(seed))
        return r

    def gpu(self, kind="MaterialDescriptor"):
        """(text, result) of getRTSource for that kind."""
        return self._m.gpu(kind)

    def gpu_text(self, kind="MaterialDescriptor"):
        return self._m.gpu(kind)[0]


class Frame(dict):
    """A rendered frame: float32 arrays by name (rgba premultiplied HxWx4, backdrop HxWx3, each
    filled render channel HxWx3), with the render's statistics as attributes."""

    def __init__(self, images, stats):
        super().__init__(images)
        self.stats = dict(stats)
        for k, v in stats.items():
            setattr(self, k, v)


def _defaults_json(library, type):
    return {p["name"]: (list(p["default"]) if isinstance(p["default"], tuple) else p["default"])
            for p in library.type(type)["parameters"]}


class Shot:
    """A whole picture in the look-file format: Shot(subject="swatch", type="BRDFHair4",
    values={...}, width=..., height=..., spp=..., ...), Shot.load(path), shot.save(path)."""

    def __init__(self, subject="swatch", type="BRDFHair4", values=None, looks=None, sweeps=(), width=640,
                 height=360, spp=16, threads=0, seed=1, adaptive=True, adaptive_threshold=0.02, strands=None, groom_seed=7, lock="straight",
                 strand_color=None, strand_transparency=None, groom=None, camera_orbit=0.0,
                 camera_elevation=0.0, camera_zoom=1.0, environment=None, exposure=1.0, backdrop=False,
                 unchecked=False, library=None, _handle=None):
        self.library = library or default_library()
        if _handle is not None:
            self._h = _handle
            return
        if looks is None:
            if subject == "sheet":
                order = sorted(self.library.types, key=lambda t: t["id"])
                looks = [{"type": t["name"], "label": t["name"]} for t in order]
            else:
                looks = [{"type": type, "values": values or {}}]
        file_looks = []
        for look in looks:
            params = _defaults_json(self.library, look["type"])
            for k, v in (look.get("values") or {}).items():
                params[k] = list(v) if isinstance(v, (tuple, np.ndarray)) else v
            file_looks.append({"type": look["type"], "label": look.get("label", ""), "parameters": params})
        doc = {
            "format": 1,
            "subject": subject,
            "unchecked": bool(unchecked),
            "looks": file_looks,
            "sweeps": list(sweeps),
            "groom": {"strands": strands, "seed": groom_seed, "lock": lock,
                      "strand_color": None if strand_color is None else list(strand_color),
                      "strand_transparency": None if strand_transparency is None else list(strand_transparency),
                      "file": groom},
            "camera": {"orbit": camera_orbit, "elevation": camera_elevation, "zoom": camera_zoom},
            "lighting": {"environment": environment, "exposure": exposure, "backdrop": bool(backdrop)},
            "render": {"width": width, "height": height, "spp": spp, "threads": threads, "seed": seed,
                       "adaptive": bool(adaptive), "adaptive_threshold": adaptive_threshold, "outputs": []},
        }
        self._h = _core.Shot.from_json(self.library._lib, json.dumps(doc), "Shot", os.getcwd())

    @classmethod
    def load(cls, path, library=None, unchecked=False):
        library = library or default_library()
        return cls(library=library, _handle=_core.Shot.load(library._lib, os.fspath(path), unchecked))

    def save(self, path):
        self._h.save(os.fspath(path))

    def to_dict(self):
        return json.loads(self._h.to_json())


def render(shot, spp=None, size=None, threads=None):
    """Renders a shot (settings overridden where given; size is (width, height)) and returns a
    Frame of float32 arrays. The GIL is released while it renders."""
    h = shot._h
    if spp is not None or size is not None or threads is not None:
        h = h.with_settings(spp, None if size is None else tuple(size), threads)
    r = h.render()
    return Frame(r["images"], r["stats"])
