// What the material tests share: the linked library and its types, registered defaults, a
// renderer's hair hit, and values drawn from each parameter's limits (new parameters included).
#pragma once
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "harness/rng.h"
#include "harness/shading_point.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace harness::test {

inline Library& library() {
    static Library lib(getLibDesc());
    return lib;
}

// The types the library registers, in the order it constructs them (BRDFHair first).
inline const std::vector<std::string>& types() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n = library().typeNames(); // enumeration order: newest first
        std::reverse(n.begin(), n.end());
        return n;
    }();
    return names;
}

// The options of a renderer's hair hit: the context skips the below-surface test, as a fibre
// scatters into the whole sphere.
inline PointOptions hairGeometry() {
    PointOptions o;
    o.contextFlags = quor::CTX_SKIP_BELOW_SURFACE;
    return o;
}

// A shaded point of a type with these parameter values at a hair hit of that geometry.
inline std::unique_ptr<ShadingPoint> hairHit(const std::string& type, ParamSets sets = {},
                                             PointOptions geometry = hairGeometry()) {
    geometry.type = type;
    geometry.sets = std::move(sets);
    auto p = std::make_unique<ShadingPoint>(library(), geometry);
    p->shade();
    return p;
}

inline std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

inline ParamSets registeredDefaults(const std::string& type) {
    return harness::registeredDefaults(library(), type);
}

// A value inside [lo, hi] (either may be absent). With extremes: often a limit or 0, else
// uniform inside, and for an open side anything from -1e4 to 1e4. Without: a plausible value,
// inside the limits and from 0 to 2 on an open side, wide ranges favouring their low end.
inline double drawValue(Rng& rng, bool hasLo, double lo, bool hasHi, double hi, bool extremes = true) {
    if (!extremes) {
        double a = hasLo ? lo : 0, b = hasHi ? hi : a + 2, u = rng.uniformDouble();
        return a + (b - a) * (b - a > 100 ? u * u * u * u : u);
    }
    float pick = rng.uniform();
    double a = hasLo ? lo : -1e4, b = hasHi ? hi : 1e4;
    if (pick < 0.15f) return a;
    if (pick < 0.3f) return b;
    if (pick < 0.4f && a <= 0 && b >= 0) return 0;
    if (pick < 0.7f) return a + (std::min(b, a + 2.0) - a) * rng.uniformDouble(); // near the low end
    return a + (b - a) * rng.uniformDouble();
}

// What a host's texture or a scene file can hand a material past any limit.
inline const double kHostileValues[] = {NAN, INFINITY, -INFINITY, 3.40282346e38,
                                        -3.40282346e38}; // ±FLT_MAX as %.9g

// Parameter values for every parameter of a type, drawn from its registered limits; with
// hostile > 0 each float (and each colour channel) is, with that probability, one of
// kHostileValues instead, and each integer the end of the 32-bit range.
inline ParamSets drawParameters(const std::string& type, Rng& rng, bool extremes = true, float hostile = 0) {
    ParamSets sets;
    const quor::QuorParameterListDesc* d = library().host().params(library().type(type));
    for (int i = 0; d && i < d->count(); ++i) {
        const quor::ParamInfo& p = d->param(i);
        double lo = 0, hi = 0;
        bool hasLo = hintLimit(p.hints, "minValue", lo), hasHi = hintLimit(p.hints, "maxValue", hi);
        auto value = [&] {
            if (hostile > 0 && rng.uniform() < hostile) return number(kHostileValues[rng.next() % 5]);
            return number(drawValue(rng, hasLo, lo, hasHi, hi, extremes));
        };
        if (p.kind == quor::ParamKind::Int && hostile > 0 && rng.uniform() < hostile) {
            sets.emplace_back(p.name, rng.uniform() < 0.5f ? "-2147483648" : "2147483647");
            continue;
        }
        switch (p.kind) {
        case quor::ParamKind::Texture:
        case quor::ParamKind::TextureRGB:
            sets.emplace_back(p.name, value() + "," + value() + "," + value());
            break;
        case quor::ParamKind::TextureFloat:
        case quor::ParamKind::Float:
            sets.emplace_back(p.name, value());
            break;
        case quor::ParamKind::Int:
            sets.emplace_back(
                p.name, std::to_string(static_cast<int>(std::lround(drawValue(
                            rng, true, hasLo ? lo : -2, true, hasHi ? std::min(hi, 64.0) : 64, extremes)))));
            break;
        case quor::ParamKind::Bool:
            sets.emplace_back(p.name, rng.uniform() < 0.5f ? "false" : "true");
            break;
        }
    }
    return sets;
}

inline Vec3 randomDirection(Rng& rng) {
    double z = 2.0 * rng.uniformDouble() - 1.0, phi = 2 * M_PI * rng.uniformDouble();
    double r = std::sqrt(std::max(0.0, 1 - z * z));
    return {float(r * std::cos(phi)), float(r * std::sin(phi)), float(z)};
}

inline bool finiteNonNegative(const quor::Color& c) {
    for (float v : {c.r, c.g, c.b, c.a})
        if (!(std::isfinite(v) && v >= 0)) return false;
    return true;
}

} // namespace harness::test
