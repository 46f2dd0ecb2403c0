// The brdf_hair Python module's core: the plug-in loaded through getLibDesc by the harness,
// shading points driven over numpy arrays with hairlab's options and bits, and shots rendered
// through the looks layer. Broadcasting and keyword handling live in the Python package; this
// file takes flat arrays of one length (any strides) and loops over them without the GIL.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "harness/error.h"
#include "harness/estimators.h"
#include "harness/library.h"
#include "harness/numbers.h"
#include "harness/shading_point.h"
#include "lookdev/look_file.h"
#include "lookdev/looks.h"
#include "lookdev/shot.h"
#include "quor/gpu.h"

namespace py = pybind11;

namespace {

using harness::InputError;
using harness::PointOptions;
using harness::Rgb;
using harness::Vec3;

// The loaded library. Its registry is read-only once loaded; instances are made and deleted
// under the mutex, since the plug-in's descriptors are shared by every thread.
struct LibraryHandle {
    explicit LibraryHandle(const std::string& path) : library(path), path(path) {}
    harness::Library library;
    std::string path;
    std::mutex mutex;
};
using LibraryPtr = std::shared_ptr<LibraryHandle>;

std::string defaultPluginPath() {
    if (const char* env = std::getenv("HAIRLAB_PLUGIN"); env && *env) return env;
    return BRDF_HAIR_PLUGIN;
}

std::string lanes(const float* v, int n) {
    std::string out;
    char buf[32];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%.9g", double(v[i]));
        out += (i ? "," : "") + std::string(buf);
    }
    return out;
}

// A point's options in arrays of one length P: vectors (P,3), numbers (P,), integers (P,).
struct PointArrays {
    using F1 = py::detail::unchecked_reference<float, 1>;
    using F2 = py::detail::unchecked_reference<float, 2>;
    using I1 = py::detail::unchecked_reference<std::int32_t, 1>;
    std::vector<py::object> keep; // the arrays the references read
    std::optional<F2> dir, tangent, normal, strandColor, strandTransparency, gi;
    std::optional<F1> h, strandLength, strandPosition, coverage;
    std::optional<I1> strandIndex, noStrandData, depth, rayFlags, contextFlags, side, mis;
    py::ssize_t size = 0;

    template <class T, int N>
    void get(std::optional<py::detail::unchecked_reference<T, N>>& out, py::dict d, const char* k) {
        if (!d.contains(k) || d[k].is_none()) return;
        auto a = py::array_t<T, py::array::forcecast>::ensure(d[k]);
        if (!a) throw py::value_error(std::string(k) + ": not an array of numbers");
        keep.push_back(a);
        if (a.ndim() != N || (N == 2 && a.shape(1) != 3))
            throw py::value_error(std::string(k) + ": wrong shape");
        if (a.shape(0) != size) throw py::value_error(std::string(k) + ": wrong length");
        out.emplace(a.template unchecked<N>());
    }
    PointArrays(py::dict d, py::ssize_t n) : size(n) {
        get<float, 2>(dir, d, "dir");
        get<float, 2>(tangent, d, "tangent");
        get<float, 2>(normal, d, "normal");
        get<float, 2>(strandColor, d, "strand_color");
        get<float, 2>(strandTransparency, d, "strand_transparency");
        get<float, 2>(gi, d, "gi");
        get<float, 1>(h, d, "h");
        get<float, 1>(strandLength, d, "strand_length");
        get<float, 1>(strandPosition, d, "strand_position");
        get<float, 1>(coverage, d, "coverage");
        get<std::int32_t, 1>(strandIndex, d, "strand_index");
        get<std::int32_t, 1>(noStrandData, d, "no_strand_data");
        get<std::int32_t, 1>(depth, d, "depth");
        get<std::int32_t, 1>(rayFlags, d, "ray_flags");
        get<std::int32_t, 1>(contextFlags, d, "context_flags");
        get<std::int32_t, 1>(side, d, "side");
        get<std::int32_t, 1>(mis, d, "mis");
    }

    static Vec3 vec(const F2& a, py::ssize_t i) { return {a(i, 0), a(i, 1), a(i, 2)}; }
    static Rgb rgb(const std::optional<F2>& a, py::ssize_t i) {
        return a ? Rgb{(*a)(i, 0), (*a)(i, 1), (*a)(i, 2)} : Rgb{};
    }

    // The options of point i, refused as hairlab refuses them (same option names, same line).
    void at(py::ssize_t i, PointOptions& o) const {
        auto finite = [](const char* what, const float* v, int n) {
            for (int k = 0; k < n; ++k)
                if (!std::isfinite(v[k])) harness::parseFloat(what, lanes(v, n)); // throws its line
        };
        auto direction = [&](const char* what, const F2& a) {
            Vec3 v = vec(a, i);
            finite(what, &v.x, 3);
            if (v.x == 0 && v.y == 0 && v.z == 0)
                throw InputError(std::string(what) + ": '" + lanes(&v.x, 3) +
                                 "' is a zero vector, which has no direction");
            return harness::normalized(v);
        };
        auto number = [&](const char* what, const std::optional<F1>& a, float fallback) {
            if (!a) return fallback;
            float v = (*a)(i);
            finite(what, &v, 1);
            return v;
        };
        auto color = [&](const char* what, const std::optional<F2>& a) {
            Rgb c = rgb(a, i);
            finite(what, &c.r, 3);
            return c;
        };
        auto integer = [&](const std::optional<I1>& a, int fallback) { return a ? int((*a)(i)) : fallback; };
        o.dir = dir ? direction("--dir", *dir) : Vec3{0, 0, -1};
        if (tangent) {
            o.tangent = vec(*tangent, i);
            finite("--tangent", &o.tangent.x, 3);
        }
        o.normal.reset();
        if (normal) o.normal = direction("--normal", *normal);
        o.h = number("--h", h, 0);
        o.strandColor = color("--strand-color", strandColor);
        o.strandTransparency = color("--strand-transparency", strandTransparency);
        o.strandIndex = integer(strandIndex, 0);
        o.strandLength = number("--strand-length", strandLength, 1);
        o.strandPosition = number("--strand-position", strandPosition, 0.5f);
        o.noStrandData = integer(noStrandData, 0) != 0;
        o.coverage.reset();
        if (coverage) o.coverage = number("--coverage", coverage, 1);
        o.depth = integer(depth, 0);
        if (o.depth < 0)
            throw InputError("--depth: '" + std::to_string(o.depth) +
                             "' is negative; a ray depth counts from 0");
        if (o.depth > 1000000)
            throw InputError("--depth: '" + std::to_string(o.depth) + "' is above 1000000");
        o.rayFlags = integer(rayFlags, 0);
        o.contextFlags = integer(contextFlags, 0x20);
        o.side = integer(side, 0);
        o.gi = color("--gi", gi);
        o.mis = integer(mis, 0);
        if (o.mis != 0 && o.mis != 1)
            throw InputError("--mis: '" + std::to_string(o.mis) + "' is not 0 or 1");
    }
    // Every point checked before any work.
    void check() const {
        PointOptions o;
        for (py::ssize_t i = 0; i < size; ++i)
            at(i, o);
    }
};

// A validated material: the options every call makes its own instance and point from.
class Material {
  public:
    Material(LibraryPtr lib, PointOptions options) : lib_(std::move(lib)), options_(std::move(options)) {
        if (options_.type.empty()) throw InputError("--type: the type name is empty");
        try {
            lib_->library.type(options_.type);
        } catch (const InputError& e) {
            throw InputError(std::string("--type: ") + e.what());
        }
        open(); // refuses bad parameters now, as hairlab does before any work
    }
    const std::string& type() const { return options_.type; }
    const harness::ParamSets& sets() const { return options_.sets; }
    LibraryPtr library() const { return lib_; }

    // A point of a fresh instance (each call owns its instance and render state).
    std::shared_ptr<harness::ShadingPoint> open() const {
        std::lock_guard<std::mutex> lock(lib_->mutex);
        auto* p = new harness::ShadingPoint(lib_->library, options_);
        LibraryPtr keep = lib_;
        return std::shared_ptr<harness::ShadingPoint>(p, [keep](harness::ShadingPoint* q) {
            std::lock_guard<std::mutex> l(keep->mutex);
            delete q;
        });
    }
    // The point's own fields (no sets: place() keeps the instance's).
    static PointOptions pointOnly() { return PointOptions{}; }

  private:
    LibraryPtr lib_;
    PointOptions options_;
};

void fill4(float* out, const quor::Color& c) { out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = c.a; }

py::array_t<float> evalPoints(const Material& m, py::dict points, py::array_t<float> lights,
                              py::array_t<float> lightColor, py::array_t<float> lightProb,
                              py::array_t<std::int32_t> flags) {
    const py::ssize_t n = lights.shape(0), nl = lights.ndim() == 3 ? lights.shape(1) : 0;
    if (lights.ndim() != 3 || lights.shape(2) != 3) throw py::value_error("light: wrong shape");
    PointArrays pa(points, n);
    auto L = lights.unchecked<3>();
    auto lc = lightColor.unchecked<2>();
    auto lp = lightProb.unchecked<1>();
    auto fl = flags.unchecked<1>();
    py::array_t<float> result({n, nl, py::ssize_t(4)});
    float* out = result.mutable_data();
    {
        py::gil_scoped_release free;
        pa.check();
        for (py::ssize_t i = 0; i < n; ++i) {
            for (py::ssize_t k = 0; k < nl; ++k) {
                Vec3 v{L(i, k, 0), L(i, k, 1), L(i, k, 2)};
                if (!(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)))
                    harness::parseFloat("--light", lanes(&v.x, 3));
                if (v.x == 0 && v.y == 0 && v.z == 0)
                    throw InputError("--light: '" + lanes(&v.x, 3) +
                                     "' is a zero vector, which has no direction");
            }
            if (!(lp(i) >= 0)) {
                float p = lp(i);
                if (std::isfinite(p)) throw InputError("--light-prob: '" + lanes(&p, 1) + "' is negative");
                harness::parseFloat("--light-prob", lanes(&p, 1));
            }
        }
        auto point = m.open();
        PointOptions o = Material::pointOnly();
        // Each light normalised as hairlab normalises it, once while it repeats from point to point
        // (a light array broadcast over the points).
        std::vector<Vec3> raw(nl, Vec3{0, 0, 0}), unit(nl);
        auto direction = [&](py::ssize_t i, py::ssize_t k) {
            const Vec3 v{L(i, k, 0), L(i, k, 1), L(i, k, 2)};
            if (std::memcmp(&v, &raw[k], sizeof v) != 0) raw[k] = v, unit[k] = harness::normalized(v);
            return unit[k];
        };
        for (py::ssize_t i = 0; i < n; ++i) {
            pa.at(i, o);
            point->place(o);
            quor::BRDFSampler* brdf = point->shade();
            for (py::ssize_t k = 0; k < nl; ++k) {
                float* r = out + (i * nl + k) * 4;
                if (!brdf) {
                    r[0] = r[1] = r[2] = r[3] = 0;
                    continue;
                }
                const Vec3 l = direction(i, k);
                quor::Color light{lc(i, 0), lc(i, 1), lc(i, 2), lc(i, 2)}, unshadowed = light;
                fill4(r, brdf->eval(point->context(), harness::toVector(l), light, unshadowed, lp(i), fl(i)));
            }
        }
    }
    return result;
}

py::dict colorPoints(const Material& m, py::dict points, py::ssize_t n) {
    PointArrays pa(points, n);
    py::array_t<float> t({n, py::ssize_t(4)}), op({n, py::ssize_t(4)}), lm({n, py::ssize_t(4)});
    float *pt = t.mutable_data(), *po = op.mutable_data(), *pl = lm.mutable_data();
    {
        py::gil_scoped_release free;
        pa.check();
        auto point = m.open();
        PointOptions o = Material::pointOnly();
        for (py::ssize_t i = 0; i < n; ++i) {
            pa.at(i, o);
            point->place(o);
            quor::BRDFSampler* brdf = point->shade();
            quor::Color zero{0, 0, 0, 0}, weight{1, 1, 1, 1};
            fill4(pt + 4 * i, brdf ? brdf->getTransparency() : zero);
            fill4(po + 4 * i, brdf ? brdf->getOpacity() : zero);
            fill4(pl + 4 * i, brdf ? brdf->getLightMultiplier(weight) : zero);
        }
    }
    py::dict d;
    d["transparency"] = t, d["opacity"] = op, d["light_multiplier"] = lm;
    return d;
}

py::dict samplePoints(const Material& m, py::dict points, py::array_t<float> u, py::array_t<float> xi,
                      int mode) {
    const py::ssize_t n = u.shape(0);
    PointArrays pa(points, n);
    auto U = u.unchecked<1>();
    auto X = xi.unchecked<2>();
    py::array_t<float> result(n), dir({n, py::ssize_t(3)}), weight({n, py::ssize_t(4)}), prob(n);
    py::array_t<bool> valid(n);
    float *pr = result.mutable_data(), *pd = dir.mutable_data(), *pw = weight.mutable_data(),
          *pp = prob.mutable_data();
    bool* pv = valid.mutable_data();
    {
        py::gil_scoped_release free;
        pa.check();
        for (py::ssize_t i = 0; i < n; ++i) {
            float v = U(i);
            if (!(v >= 0 && v <= 2)) harness::parseFloatIn("--u", lanes(&v, 1), 0, 2);
            float x[3] = {X(i, 0), X(i, 1), X(i, 2)};
            for (float e : x)
                if (!(e >= 0 && e <= 1))
                    throw InputError("--xi: '" + lanes(x, 3) + "' is outside " + harness::rangeText(0, 1));
        }
        auto point = m.open();
        PointOptions o = Material::pointOnly();
        const float nan = NAN;
        for (py::ssize_t i = 0; i < n; ++i) {
            pa.at(i, o);
            point->place(o);
            quor::BRDFSampler* brdf = point->shade();
            quor::QuorContext& next = point->newRayContext(X(i, 0), X(i, 1), X(i, 2));
            float r = brdf ? brdf->sampleRay(point->context(), next, U(i), mode) : 0.0f;
            bool ray = r != 0.0f;
            quor::Vector d = next.ray ? next.ray->dir : next.rayDir;
            const quor::Color& w = next.pathWeight;
            pr[i] = r;
            pv[i] = ray;
            pd[3 * i] = ray ? d.x : nan, pd[3 * i + 1] = ray ? d.y : nan, pd[3 * i + 2] = ray ? d.z : nan;
            if (ray)
                fill4(pw + 4 * i, w);
            else
                pw[4 * i] = pw[4 * i + 1] = pw[4 * i + 2] = pw[4 * i + 3] = nan;
            pp[i] = ray ? next.pathProb : nan;
        }
    }
    py::dict d;
    d["result"] = result, d["direction"] = dir, d["weight"] = weight, d["probability"] = prob,
    d["valid"] = valid;
    return d;
}

py::dict furnacePoint(const Material& m, py::dict points, std::int64_t samples, std::uint64_t seed) {
    PointArrays pa(points, 1);
    if (samples < 4 || samples > (1 << 26))
        harness::parseUnsignedIn("--samples", std::to_string(samples), 4, 1 << 26);
    harness::FurnaceResult r;
    {
        py::gil_scoped_release free;
        PointOptions o = Material::pointOnly();
        pa.at(0, o);
        auto point = m.open();
        point->place(o);
        if (!point->shade()) throw InputError("type '" + m.type() + "' handed out no sampler for this point");
        r = harness::furnace(*point, static_cast<int>(samples), seed);
    }
    auto rgb = [](const Rgb& c) { return py::make_tuple(c.r, c.g, c.b); };
    py::dict d;
    d["eval"] = rgb(r.eval), d["eval_stderr"] = rgb(r.evalStderr);
    d["sampled"] = r.sampled ? py::object(rgb(r.sampledMean)) : py::none();
    d["sampled_stderr"] = r.sampled ? py::object(rgb(r.sampledStderr)) : py::none();
    d["refused"] = r.refused;
    return d;
}

py::tuple gpuText(const Material& m, const std::string& kind) {
    auto point = m.open();
    std::string text;
    int result = 0;
    if (!point->instance().gpuSource(kind.c_str(), text, result))
        throw InputError("type '" + m.type() + "' has no GPU material interface (EXT_RTMTL)");
    return py::make_tuple(text, result);
}

py::object text(const char* s) { return s ? py::object(py::str(s)) : py::none(); }

py::list describeTypes(LibraryHandle& h) {
    py::list types;
    quor::QuorPluginHost& host = h.library.host();
    for (int i = 0; i < host.count(); ++i) {
        quor::PluginDesc* d = host.desc(i);
        py::list params;
        if (const quor::QuorParameterListDesc* pl = host.params(d)) {
            for (int k = 0; k < pl->count(); ++k) {
                const quor::ParamInfo& p = pl->param(k);
                const quor::Color& c = p.colorDefault;
                py::object def;
                switch (p.kind) {
                case quor::ParamKind::Texture:
                    def = py::make_tuple(harness::shortestDecimal(c.r), harness::shortestDecimal(c.g),
                                         harness::shortestDecimal(c.b), harness::shortestDecimal(c.a));
                    break;
                case quor::ParamKind::TextureRGB:
                    def = py::make_tuple(harness::shortestDecimal(c.r), harness::shortestDecimal(c.g),
                                         harness::shortestDecimal(c.b));
                    break;
                case quor::ParamKind::TextureFloat:
                case quor::ParamKind::Float:
                    def = py::float_(harness::shortestDecimal(p.floatDefault));
                    break;
                case quor::ParamKind::Int:
                    def = py::int_(p.intDefault);
                    break;
                case quor::ParamKind::Bool:
                    def = py::bool_(p.intDefault != 0);
                    break;
                }
                py::dict e;
                e["name"] = p.name, e["kind"] = harness::kindName(p.kind), e["default"] = def;
                e["description"] = text(p.description), e["hints_text"] = text(p.hints);
                params.append(e);
            }
        }
        py::dict t;
        t["name"] = d->getName(), t["id"] = d->getPluginTypeId(),
        t["description"] = text(d->getDescription());
        t["parameters"] = params;
        types.append(t);
    }
    return types;
}

// A shot with the library it names types of.
struct ShotHandle {
    LibraryPtr lib;
    lookdev::Shot shot;
};

py::dict renderShot(const ShotHandle& s) {
    quor::render::FrameResult frame;
    {
        py::gil_scoped_release free;
        std::unique_ptr<lookdev::Composition> comp;
        {
            std::lock_guard<std::mutex> lock(s.lib->mutex);
            comp = lookdev::compose(s.lib->library, s.shot);
        }
        frame = comp->render();
        std::lock_guard<std::mutex> lock(s.lib->mutex);
        comp.reset();
    }
    auto image = [](const quor::render::Image& im) {
        py::array_t<float> a({py::ssize_t(im.height), py::ssize_t(im.width), py::ssize_t(im.channels)});
        std::copy(im.data.begin(), im.data.end(), a.mutable_data());
        return a;
    };
    py::dict images;
    images["rgba"] = image(frame.hair);
    images["backdrop"] = image(frame.backdrop);
    for (const auto& [alias, im] : frame.channels)
        images[py::str(quor::render::channelName(alias))] = image(im);
    py::dict stats;
    stats["seconds"] = frame.seconds, stats["cpu_seconds"] = frame.cpuSeconds;
    stats["shading_points"] = frame.shadingPoints, stats["rays"] = frame.rays,
    stats["threads"] = frame.threads;
    stats["mean_samples"] = frame.meanSamples;
    stats["spp"] = s.shot.render.spp, stats["width"] = s.shot.render.width,
    stats["height"] = s.shot.render.height, stats["seed"] = s.shot.render.seed;
    py::dict d;
    d["images"] = images, d["stats"] = stats;
    return d;
}

} // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "brdf_hair's compiled core; use the brdf_hair package";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const InputError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });
    m.def("default_plugin_path", &defaultPluginPath);
    m.def("presets", [] {
        py::list out;
        for (const lookdev::Preset& p : lookdev::colorPresets())
            out.append(py::make_tuple(p.name, p.description, p.sets));
        return out;
    });

    py::class_<LibraryHandle, LibraryPtr>(m, "Library")
        .def(py::init([](const std::string& path) { return std::make_shared<LibraryHandle>(path); }))
        .def_readonly("path", &LibraryHandle::path)
        .def_property_readonly("name",
                               [](LibraryHandle& h) { return std::string(h.library.lib()->getLibName()); })
        .def_property_readonly("description",
                               [](LibraryHandle& h) { return text(h.library.lib()->getLibDescription()); })
        .def("types", &describeTypes);

    py::class_<Material, std::shared_ptr<Material>>(m, "Material")
        .def(py::init([](LibraryPtr lib, const std::string& type, const harness::ParamSets& sets,
                         bool unbound, bool unchecked, std::optional<double> unitScale) {
            PointOptions o;
            o.type = type;
            o.sets = sets;
            o.bindDefaults = !unbound;
            o.unchecked = unchecked;
            if (unitScale) {
                if (!(*unitScale > 0)) {
                    char buf[32];
                    std::snprintf(buf, sizeof buf, "%.9g", *unitScale);
                    throw InputError(std::string("--unit-scale: '") + buf + "' is not a positive scale");
                }
                o.unitScale = static_cast<float>(*unitScale);
            }
            return std::make_shared<Material>(std::move(lib), std::move(o));
        }))
        .def_property_readonly("type", &Material::type)
        .def_property_readonly("sets", &Material::sets)
        .def("eval", &evalPoints)
        .def("colors", &colorPoints)
        .def("sample", &samplePoints)
        .def("furnace", &furnacePoint)
        .def("gpu", &gpuText);

    py::class_<ShotHandle, std::shared_ptr<ShotHandle>>(m, "Shot")
        .def_static("load",
                    [](LibraryPtr lib, const std::string& path, bool unchecked) {
                        auto s = std::make_shared<ShotHandle>();
                        s->lib = lib;
                        std::lock_guard<std::mutex> lock(lib->mutex);
                        s->shot = lookdev::loadShot(lib->library, path, unchecked);
                        return s;
                    })
        .def_static(
            "from_json",
            [](LibraryPtr lib, const std::string& json, const std::string& file, const std::string& folder) {
                auto s = std::make_shared<ShotHandle>();
                s->lib = lib;
                lookdev::Json j;
                try {
                    j = lookdev::Json::parse(json);
                } catch (const std::exception&) {
                    throw InputError(file + ": not JSON");
                }
                std::lock_guard<std::mutex> lock(lib->mutex);
                s->shot = lookdev::shotFromJson(lib->library, j, file, folder);
                lookdev::validate(lib->library, s->shot, lookdev::Where{file});
                return s;
            })
        .def("save",
             [](ShotHandle& s, const std::string& path) {
                 std::lock_guard<std::mutex> lock(s.lib->mutex);
                 lookdev::saveShot(s.lib->library, s.shot, path);
             })
        .def("to_json",
             [](ShotHandle& s) {
                 std::lock_guard<std::mutex> lock(s.lib->mutex);
                 return lookdev::shotToJson(s.lib->library, s.shot).dump();
             })
        .def("with_settings",
             [](const ShotHandle& s, std::optional<int> spp, std::optional<std::pair<int, int>> size,
                std::optional<int> threads) {
                 auto c = std::make_shared<ShotHandle>(s);
                 if (spp) c->shot.render.spp = *spp;
                 if (size) c->shot.render.width = size->first, c->shot.render.height = size->second;
                 if (threads) c->shot.render.threads = *threads;
                 std::lock_guard<std::mutex> lock(s.lib->mutex);
                 lookdev::validate(s.lib->library, c->shot);
                 return c;
             })
        .def_property_readonly("library", [](const ShotHandle& s) { return s.lib; })
        .def("render", &renderShot);
}
