#include "harness/shading_point.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "harness/error.h"
#include "harness/numbers.h"

namespace harness {

namespace {

// A numeric limit from the hints, such as "minValue=(0)", with its text as written. A hint
// without "=", such as "maxValue(100000)", is no limit: a host's editor does not read it either.
bool hintLimit(const char* hints, const char* key, double& out, std::string& text) {
    if (!hints) return false;
    std::string h(hints), k = std::string(key) + "=(";
    for (std::size_t pos = h.find(k); pos != std::string::npos; pos = h.find(k, pos + 1)) {
        if (pos > 0 && std::isalpha(static_cast<unsigned char>(h[pos - 1]))) continue; // softMinValue
        std::size_t start = pos + k.size(), close = h.find(')', start);
        if (close == std::string::npos) return false;
        char* end = nullptr;
        text = h.substr(start, close - start);
        out = std::strtod(text.c_str(), &end);
        return end == text.c_str() + text.size() && !text.empty();
    }
    return false;
}

// The float a limit would be stored as (infinite beyond the float range).
float nearestFloat(double limit) {
    constexpr double kMax = std::numeric_limits<float>::max();
    return limit > kMax ? INFINITY : limit < -kMax ? -INFINITY : static_cast<float>(limit);
}

// Values are compared with the float nearest each limit, the value the parameter would hold:
// a limit typed as written (minValue=(0.0001)) passes, whichever way the float rounds.
void checkRange(const quor::ParamInfo& info, const std::string& name, const std::vector<float>& values) {
    double lo, hi;
    std::string loText, hiText;
    bool hasLo = hintLimit(info.hints, "minValue", lo, loText),
         hasHi = hintLimit(info.hints, "maxValue", hi, hiText);
    for (float v : values) {
        if ((hasLo && !(v >= nearestFloat(lo))) || (hasHi && !(v <= nearestFloat(hi)))) {
            throw InputError("--set " + name + ": value " + shortestText(v) +
                             " is outside the allowed range " + (hasLo ? "[" + loText : "(-inf") + ", " +
                             (hasHi ? hiText + "]" : "inf)") + " (use --unchecked to allow it)");
        }
    }
}

// A float as typed: checked values through the one parser, unchecked ones may be inf or nan.
float parseValue(const std::string& what, const std::string& text, bool unchecked) {
    if (unchecked && (text == "inf" || text == "-inf" || text == "nan" || text == "-nan"))
        return static_cast<float>(std::strtod(text.c_str(), nullptr));
    return parseFloat(what, text);
}

// Two unit vectors perpendicular to d (any pair).
void perpendiculars(const Vec3& d, Vec3& a, Vec3& b) {
    Vec3 ref = std::fabs(d.x) < 0.9f ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    a = normalized({d.y * ref.z - d.z * ref.y, d.z * ref.x - d.x * ref.z, d.x * ref.y - d.y * ref.x});
    b = {d.y * a.z - d.z * a.y, d.z * a.x - d.x * a.z, d.x * a.y - d.y * a.x};
}

} // namespace

bool hintLimit(const char* hints, const char* key, double& out) {
    std::string text;
    return hintLimit(hints, key, out, text);
}

Vec3 normalized(const Vec3& v) {
    double n = std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
    return n > 0 && std::isfinite(n) ? Vec3{float(v.x / n), float(v.y / n), float(v.z / n)} : v;
}

ParamSets registeredDefaults(Library& library, const std::string& type) {
    auto number = [](float v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.9g", double(v));
        return std::string(buf);
    };
    ParamSets sets;
    const quor::QuorParameterListDesc* d = library.host().params(library.type(type));
    for (int i = 0; d && i < d->count(); ++i) {
        const quor::ParamInfo& p = d->param(i);
        if (p.kind == quor::ParamKind::TextureFloat) sets.emplace_back(p.name, number(p.floatDefault));
        if (p.kind == quor::ParamKind::Texture || p.kind == quor::ParamKind::TextureRGB)
            sets.emplace_back(p.name, number(p.colorDefault.r) + "," + number(p.colorDefault.g) + "," +
                                          number(p.colorDefault.b));
    }
    return sets;
}

const char* kindName(quor::ParamKind k) {
    switch (k) {
    case quor::ParamKind::Texture:
        return "texture";
    case quor::ParamKind::TextureRGB:
        return "texture_rgb";
    case quor::ParamKind::TextureFloat:
        return "texture_float";
    case quor::ParamKind::Float:
        return "float";
    case quor::ParamKind::Int:
        return "int";
    case quor::ParamKind::Bool:
        return "bool";
    }
    return "?";
}

void setParameter(quor::QuorPluginInterface& plugin, const quor::QuorParameterListDesc& desc,
                  const std::string& name, const std::string& value, bool unchecked) {
    int index = desc.indexOf(name.c_str());
    quor::QuorParameter* param = plugin.getParameter(name.c_str());
    if (index < 0 || !param) throw InputError("--set: unknown parameter '" + name + "'");
    const quor::ParamInfo& info = desc.param(index);
    const std::string what = "--set " + name;
    auto bad = [&](const char* expected) { throw InputError(what + ": '" + value + "' is not " + expected); };
    auto number = [&](const std::string& text, const char* expected) {
        try {
            return parseValue(what, text, unchecked);
        } catch (const InputError&) {
            bad(expected);
        }
        return 0.0f;
    };
    switch (info.kind) {
    case quor::ParamKind::Texture:
    case quor::ParamKind::TextureRGB: {
        if (value == "none") return param->clearTexture();
        if (value == "strand") return param->setTexture(&quor::StrandColorTexture::shared());
        const char* shape = "a colour r,g,b or r,g,b,a, strand or none";
        std::vector<std::string> parts = splitCommas(value);
        if (parts.size() != 3 && parts.size() != 4) bad(shape);
        float c[4] = {0, 0, 0, 1};
        for (std::size_t i = 0; i < parts.size(); ++i)
            c[i] = number(parts[i], shape);
        if (!unchecked) checkRange(info, name, {c[0], c[1], c[2]});
        return param->setConstantColor({c[0], c[1], c[2], c[3]});
    }
    case quor::ParamKind::TextureFloat: {
        if (value == "none") return param->clearTexture();
        if (value == "strand")
            throw InputError(what + ": 'strand' (the strand record's colour) binds only colour textures");
        float v = number(value, "a number (or none)");
        if (!unchecked) checkRange(info, name, {v});
        return param->setConstantFloat(v);
    }
    case quor::ParamKind::Float: {
        float v = number(value, "a number");
        if (!unchecked) checkRange(info, name, {v});
        return param->setFloat(v);
    }
    case quor::ParamKind::Int: {
        int v = 0;
        try {
            v = parseInt(what, value);
        } catch (const InputError&) {
            bad("an integer");
        }
        if (!unchecked) checkRange(info, name, {static_cast<float>(v)});
        return param->setInt(v);
    }
    case quor::ParamKind::Bool: {
        if (value == "true" || value == "1" || value == "on") return param->setInt(1);
        if (value == "false" || value == "0" || value == "off") return param->setInt(0);
        bad("a boolean (true/false)");
    }
    }
}

// --- Instance ---------------------------------------------------------------------------------

Instance::Instance(Library& library, const std::string& type, const ParamSets& sets, bool unchecked)
    : desc_(library.type(type)), params_(library.host().params(desc_)) {
    base_ = desc_->newPlugin(nullptr);
    if (!base_) throw InputError("type '" + type + "' cannot be instantiated by this library");
    plugin_ = static_cast<quor::QuorPluginInterface*>(base_->getInterface(quor::EXT_QUOR_PLUGIN));
    bsdf_ = static_cast<quor::BSDFInterface*>(base_->getInterface(quor::EXT_BSDF));
    try {
        if (!plugin_ || !bsdf_) throw InputError("type '" + type + "' is not a material");
        for (auto& [name, value] : sets)
            set(name, value, unchecked);
    } catch (...) {
        desc_->deletePlugin(base_);
        throw;
    }
}

Instance::~Instance() { desc_->deletePlugin(base_); }

void Instance::set(const std::string& name, const std::string& value, bool unchecked) {
    if (!params_) throw InputError("--set: type '" + std::string(desc_->getName()) + "' has no parameters");
    setParameter(*plugin_, *params_, name, value, unchecked);
}

bool Instance::gpuSource(const char* kind, std::string& text, int& result) const {
    auto* rt = static_cast<quor::RTMtlInterface*>(base_->getInterface(quor::EXT_RTMTL));
    if (!rt) return false;
    quor::ShaderSource source;
    quor::OCLData data;
    result = rt->getRTSource(0, 0, kind, source, &data);
    text = source.text();
    return true;
}

// --- ShadingPoint -----------------------------------------------------------------------------

namespace {
ParamSets instanceSets(Library& library, const PointOptions& o) {
    if (!o.bindDefaults) return o.sets;
    ParamSets sets = registeredDefaults(library, o.type);
    sets.insert(sets.end(), o.sets.begin(), o.sets.end());
    return sets;
}
} // namespace

ShadingPoint::ShadingPoint(Library& library, const PointOptions& options)
    : options_(options), owned_(std::make_unique<Instance>(
                             library, options.type, instanceSets(library, options), options.unchecked)),
      instance_(*owned_) {
    start();
}

ShadingPoint::ShadingPoint(Instance& instance, const PointOptions& options)
    : options_(options), instance_(instance) {
    start();
}

void ShadingPoint::start() {
    scene_.hasUnits = options_.unitScale.has_value();
    scene_.scale = options_.unitScale.value_or(1.0);
    renderer_.threadCount = 1;
    renderer_.scene = &scene_;
    instance_.plugin().renderBegin(&renderer_);
    instance_.plugin().frameBegin(&renderer_);
    place(options_);
}

void ShadingPoint::place(const PointOptions& o) {
    Vec3 D = normalized(o.dir), T = normalized(o.tangent);
    if (!(std::fabs(D.x) + std::fabs(D.y) + std::fabs(D.z) > 0))
        throw InputError("--dir: the ray direction must be a non-zero vector");
    Vec3 n;
    if (o.normal) {
        n = normalized(*o.normal);
    } else {
        float k = -(D.x * T.x + D.y * T.y + D.z * T.z);
        n = normalized({-D.x - k * T.x, -D.y - k * T.y, -D.z - k * T.z});
    }
    if (bsdf_) instance_.bsdf().deleteBSDF(ctx_, bsdf_);
    bsdf_ = nullptr;
    brdf_ = nullptr;
    if (&o != &options_) {
        // The instance keeps its type and parameters, the render its unit scale.
        ParamSets sets = std::move(options_.sets);
        std::string type = std::move(options_.type);
        std::optional<double> unitScale = options_.unitScale;
        options_ = o;
        options_.sets = std::move(sets);
        options_.type = std::move(type);
        options_.unitScale = unitScale;
    }

    strand_.record = quor::StrandRecord{};
    strand_.record.color[0] = o.strandColor.r;
    strand_.record.color[1] = o.strandColor.g;
    strand_.record.color[2] = o.strandColor.b;
    strand_.record.transparency[0] = o.strandTransparency.r;
    strand_.record.transparency[1] = o.strandTransparency.g;
    strand_.record.transparency[2] = o.strandTransparency.b;
    strand_.shadowTransparency = {o.strandTransparency.r, o.strandTransparency.g, o.strandTransparency.b};
    strand_.record.tangent = toVector(T);
    strand_.record.h = o.h;
    strand_.index = o.strandIndex;
    strand_.length = o.strandLength;
    strand_.position = o.strandPosition;
    strand_.hasStrandData = !o.noStrandData;
    strand_.hasCoverage = o.coverage.has_value();
    strand_.coverage = o.coverage.value_or(1.0f);

    ctx_ = quor::QuorContext();
    ctx_.threadIndex = 0;
    ctx_.rayDir = toVector(D);
    ctx_.normal = toVector(n);
    Vec3 a, b;
    perpendiculars(D, a, b);
    ctx_.dirDiff[0] = {a.x * 1e-3f, a.y * 1e-3f, a.z * 1e-3f, 0};
    ctx_.dirDiff[1] = {b.x * 1e-3f, b.y * 1e-3f, b.z * 1e-3f, 0};
    ctx_.posDiff[0] = {a.x * 1e-2f, a.y * 1e-2f, a.z * 1e-2f, 0};
    ctx_.posDiff[1] = {b.x * 1e-2f, b.y * 1e-2f, b.z * 1e-2f, 0};
    ctx_.rayFlags = o.rayFlags;
    ctx_.contextFlags = o.contextFlags;
    ctx_.rayDepth = o.depth;
    ctx_.surfaceData = &strand_;
    ctx_.settings = &settings_;
    ctx_.gi = {o.gi.r, o.gi.g, o.gi.b, o.gi.b};
    ctx_.lightMIS = o.mis;
}

ShadingPoint::~ShadingPoint() {
    if (bsdf_) instance_.bsdf().deleteBSDF(ctx_, bsdf_);
    instance_.plugin().frameEnd(&renderer_);
    instance_.plugin().renderEnd(&renderer_);
}

quor::BRDFSampler* ShadingPoint::shade() {
    if (bsdf_) instance_.bsdf().deleteBSDF(ctx_, bsdf_);
    brdf_ = nullptr;
    bsdf_ = instance_.bsdf().newBSDF(ctx_, 0);
    if (bsdf_) brdf_ = bsdf_->getBRDF(options_.side);
    return brdf_;
}

quor::QuorContext& ShadingPoint::newRayContext(float xi1, float xi2, float xi3) {
    newCtx_ = quor::QuorContext();
    newCtx_.threadIndex = ctx_.threadIndex;
    newCtx_.rayDepth = ctx_.rayDepth + 1;
    newCtx_.hitPoint = ctx_.hitPoint;
    newCtx_.settings = &settings_;
    newCtx_.dmc[1] = xi1;
    newCtx_.dmc[2] = xi2;
    newCtx_.dmc[3] = xi3;
    ray_ = quor::RayRecord{};
    ray_.tmax = 0;
    newCtx_.ray = &ray_;
    return newCtx_;
}

quor::Color ShadingPoint::eval(const quor::Vector& light, float lightProb, int flags) {
    quor::Color color{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
    if (!brdf_) return {0, 0, 0, 0};
    return brdf_->eval(ctx_, light, color, unshadowed, lightProb, flags);
}

float ShadingPoint::sample(float u, float xi1, float xi2, float xi3) {
    quor::QuorContext& nc = newRayContext(xi1, xi2, xi3);
    return brdf_ ? brdf_->sampleRay(ctx_, nc, u, quor::SAMPLE_MODE_PATH) : 0.0f;
}

} // namespace harness
