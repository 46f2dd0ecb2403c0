// What the page's editor and plots are built from: the types with their hints parsed, and lobe
// curves of a material computed through the harness.
#include <cmath>
#include <cstdlib>

#include "commands.h"
#include "errors.h"
#include "harness/estimators.h"
#include "lookdev/looks.h"
#include "serve_api.h"

namespace hairlab {

namespace {

bool numeric(const std::string& key) {
    return key == "minValue" || key == "maxValue" || key == "softMinValue" || key == "softMaxValue";
}

// "::name=value" as {"parameter": name, "value": value}; null for another form.
OrderedJson enableCondition(const std::string& text) {
    std::size_t eq = text.find('=');
    if (text.rfind("::", 0) != 0 || eq == std::string::npos) return nullptr;
    std::string value = text.substr(eq + 1);
    char* end = nullptr;
    double number = std::strtod(value.c_str(), &end);
    OrderedJson v = end && *end == 0 && !value.empty() ? OrderedJson(number) : OrderedJson(value);
    return {{"parameter", text.substr(2, eq - 2)}, {"value", v}};
}

} // namespace

OrderedJson parseHints(const char* hints) {
    OrderedJson out = OrderedJson::object();
    if (!hints) return out;
    const std::string s = hints;
    std::size_t at = 0;
    while (at < s.size()) {
        while (at < s.size() && (s[at] == ',' || s[at] == ' '))
            ++at;
        if (at >= s.size()) break;
        std::size_t open = s.find('(', at), close = s.find(')', at);
        if (open == std::string::npos || close == std::string::npos || close < open) {
            out["unparsed"].push_back(s.substr(at));
            break;
        }
        std::string key = s.substr(at, open - at), value = s.substr(open + 1, close - open - 1);
        at = close + 1;
        if (key.empty() || key.back() != '=') {
            out["unparsed"].push_back(key + "(" + value + ")");
            continue;
        }
        key.pop_back();
        char* end = nullptr;
        double number = std::strtod(value.c_str(), &end);
        if (numeric(key) && end && *end == 0 && !value.empty())
            out[key] = number;
        else if (key == "enable")
            out[key] = enableCondition(value);
        else
            out[key] = value;
    }
    return out;
}

OrderedJson typesJson(harness::Library& library) {
    OrderedJson j = describeLibrary(library);
    for (auto& t : j["plugins"]) {
        const std::string type = t["name"].get<std::string>();
        // The type's own item, "[gpuSupport=(...)]", ends its description.
        const std::string d = t["description"].is_string() ? t["description"].get<std::string>() : "";
        const std::size_t open = d.rfind('[');
        const std::string item =
            open == std::string::npos ? "" : d.substr(open + 1, d.find(']', open) - open - 1);
        t["type_hints"] = parseHints(item.c_str());
        for (auto& p : t["parameters"])
            p["hint"] = parseHints(p["hints"].is_string() ? p["hints"].get<std::string>().c_str() : nullptr);
        const lookdev::Preset* curated = lookdev::curatedLook(type);
        t["curated"] = curated ? OrderedJson(curated->sets) : OrderedJson(nullptr);
    }
    j["presets"] = OrderedJson::array();
    for (const lookdev::Preset& p : lookdev::colorPresets())
        j["presets"].push_back({{"name", p.name}, {"description", p.description}, {"sets", p.sets}});
    j["preset_type"] = lookdev::kPresetType;
    return j;
}

namespace {

// The parameters that carry each lobe of a model: a lobe alone is the material with the others'
// parameters at zero.
struct Lobe {
    const char* name;
    const char* parameter;
};
std::vector<Lobe> lobesOf(const std::string& type) {
    if (type == "BRDFHair") return {{"specular", "specular_color_tex"}, {"diffuse", "diffuse_color_tex"}};
    if (type == "BRDFHair2")
        return {{"R", "r_mult"}, {"TT", "tt_mult"}, {"TRT", "trt_mult"}, {"diffuse", "diffuse_mult"}};
    if (type == "BRDFHair3")
        return {{"R", "primary_specular_amount"},
                {"TT", "transmission_amount"},
                {"TRT", "secondary_specular_amount"},
                {"diffuse", "diffuse_amount"}};
    if (type == "BRDFHair4")
        return {{"R", "primary_tint"},
                {"TT", "transmission_tint"},
                {"TRT", "secondary_tint"},
                {"diffuse", "diffuse_amount"}};
    return {};
}

// Zero in the parameter's kind: black for a colour, 0 for a number.
std::string zeroOf(harness::Library& library, const std::string& type, const std::string& name) {
    const quor::QuorParameterListDesc* params = library.host().params(library.type(type));
    for (int k = 0; params && k < params->count(); ++k) {
        const quor::ParamInfo& p = params->param(k);
        if (p.name != name) continue;
        return p.kind == quor::ParamKind::Texture || p.kind == quor::ParamKind::TextureRGB ? "0,0,0" : "0";
    }
    return "";
}

harness::Vec3 direction(float theta, float phi, const harness::Vec3& n, const harness::Vec3& b) {
    const float ct = std::cos(theta), st = std::sin(theta), cp = std::cos(phi), sp = std::sin(phi);
    return {ct * (cp * n.x + sp * b.x), st + ct * (cp * n.y + sp * b.y), ct * (cp * n.z + sp * b.z)};
}

float luminance(const quor::Color& c) { return 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b; }

constexpr float kDeg = 3.14159265f / 180;

} // namespace

OrderedJson lobesJson(harness::Library& library, const lookdev::Shot& shot, int lock) {
    if (lock < 0 || lock >= static_cast<int>(shot.looks.size()))
        throw UsageError("lock: " + std::to_string(lock) + " is not a lock of the shot (0 to " +
                         std::to_string(shot.looks.size() - 1) + ")");
    const lookdev::Look& look = shot.looks[static_cast<std::size_t>(lock)];
    // The strand hangs along +y; the eye sits at the camera's orbit and elevation.
    const float az = shot.camera.azimuth * kDeg, el = shot.camera.elevation * kDeg;
    const harness::Vec3 eye{std::sin(az) * std::cos(el), std::sin(el), std::cos(az) * std::cos(el)};
    const harness::Vec3 n{std::sin(az), 0, std::cos(az)}, b{std::cos(az), 0, -std::sin(az)};
    harness::PointOptions base;
    base.type = look.type;
    base.sets = lookdev::resolve(library, look);
    base.unchecked = true; // the values were checked when they were set
    base.dir = {-eye.x, -eye.y, -eye.z};
    base.tangent = {0, 1, 0};

    std::vector<std::pair<std::string, harness::PointOptions>> curves{{"sum", base}};
    const std::vector<Lobe> lobes = lobesOf(look.type);
    for (const Lobe& lobe : lobes) {
        harness::PointOptions only = base;
        for (const Lobe& other : lobes)
            if (other.parameter != lobe.parameter)
                only.sets.emplace_back(other.parameter, zeroOf(library, look.type, other.parameter));
        curves.emplace_back(lobe.name, only);
    }
    OrderedJson out = {{"type", look.type}, {"theta_view", shot.camera.elevation}};
    OrderedJson azimuthal = OrderedJson::object(), front = OrderedJson::object(),
                back = OrderedJson::object();
    for (auto& [name, options] : curves) {
        harness::ShadingPoint point(library, options);
        point.shade();
        auto eval = [&](float theta, float phi) {
            harness::Vec3 w = direction(theta, phi, n, b);
            return std::max(0.0f, luminance(point.eval(harness::toVector(w))));
        };
        for (int i = 0; i < 72; ++i)
            azimuthal[name].push_back(eval(-el, i * 5 * kDeg));
        for (int i = 0; i <= 90; ++i) {
            front[name].push_back(eval((-89 + 2 * i) * kDeg * 0.9999f, 0));
            back[name].push_back(eval((-89 + 2 * i) * kDeg * 0.9999f, 180 * kDeg));
        }
        if (name != "sum") continue;
        harness::FurnaceResult f = harness::furnace(point, 4096, 1);
        auto rgb = [](const harness::Rgb& c) { return OrderedJson::array({c.r, c.g, c.b}); };
        out["albedo"] = {{"eval", rgb(f.eval)},
                         {"eval_stderr", rgb(f.evalStderr)},
                         {"sampled", f.sampled ? rgb(f.sampledMean) : OrderedJson(nullptr)},
                         {"sampled_stderr", f.sampled ? rgb(f.sampledStderr) : OrderedJson(nullptr)}};
    }
    out["lobes"] = OrderedJson::array({"sum"});
    for (const Lobe& lobe : lobes)
        out["lobes"].push_back(lobe.name);
    // What no lobe parameter carries (multiple scattering, glints): the sum less the lobes.
    if (!lobes.empty()) {
        for (OrderedJson* curve : {&azimuthal, &front, &back}) {
            OrderedJson& c = *curve;
            for (std::size_t i = 0; i < c["sum"].size(); ++i) {
                double rest = c["sum"][i].get<double>();
                for (const Lobe& lobe : lobes)
                    rest -= c[lobe.name][i].get<double>();
                c["other"].push_back(std::max(0.0, rest));
            }
        }
        out["lobes"].push_back("other");
    }
    out["azimuthal"] = {{"theta", -shot.camera.elevation}, {"phi_step", 5}, {"values", azimuthal}};
    out["longitudinal"] = {{"theta_from", -89}, {"theta_step", 2}, {"front", front}, {"back", back}};
    return out;
}

} // namespace hairlab
