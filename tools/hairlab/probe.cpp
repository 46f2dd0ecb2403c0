#include "probe.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>

#include "errors.h"

namespace hairlab {

namespace {

// --- value parsing -------------------------------------------------------------------------

bool parseFloat(const std::string& s, float& out, bool allowNonFinite) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    float v = std::strtof(s.c_str(), &end);
    if (end != s.c_str() + s.size() || errno == ERANGE) return false;
    if (!allowNonFinite && !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool parseInt(const std::string& s, int& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    // Decimal, or hex with 0x; a leading zero does not mean octal.
    bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    long v = std::strtol(s.c_str(), &end, hex ? 16 : 10);
    if (end != s.c_str() + s.size() || errno == ERANGE || v < std::numeric_limits<int>::min() ||
        v > std::numeric_limits<int>::max())
        return false;
    out = static_cast<int>(v);
    return true;
}

std::vector<std::string> splitCommas(const std::string& s) {
    std::vector<std::string> parts;
    std::string cur;
    std::istringstream in(s);
    while (std::getline(in, cur, ',')) parts.push_back(cur);
    if (!s.empty() && s.back() == ',') parts.push_back("");
    return parts;
}

// A numeric limit from the hints, such as "minValue=(0)"; absent when the hint is missing or
// written without "=".
bool hintLimit(const char* hints, const char* key, double& out) {
    if (!hints) return false;
    std::string h(hints), k = std::string(key) + "=(";
    for (std::size_t pos = h.find(k); pos != std::string::npos; pos = h.find(k, pos + 1)) {
        if (pos > 0 && std::isalpha(static_cast<unsigned char>(h[pos - 1]))) continue;  // softMinValue
        std::size_t start = pos + k.size(), close = h.find(')', start);
        if (close == std::string::npos) return false;
        char* end = nullptr;
        std::string num = h.substr(start, close - start);
        out = std::strtod(num.c_str(), &end);
        return end == num.c_str() + num.size() && !num.empty();
    }
    return false;
}

void checkRange(const quor::ParamInfo& info, const std::string& name, const std::vector<float>& values) {
    double lo, hi;
    bool hasLo = hintLimit(info.hints, "minValue", lo), hasHi = hintLimit(info.hints, "maxValue", hi);
    for (float v : values) {
        if ((hasLo && !(v >= lo)) || (hasHi && !(v <= hi))) {
            std::ostringstream msg;
            msg << "--set " << name << ": value " << v << " is outside the allowed range";
            if (hasLo) msg << " [" << lo;
            else msg << " (-inf";
            if (hasHi) msg << ", " << hi << "]";
            else msg << ", inf)";
            msg << " (use --unchecked to allow it)";
            throw UsageError(msg.str());
        }
    }
}

float norm3(const Vec3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

quor::Vector toVector(const Vec3& v) { return {v.x, v.y, v.z, 0}; }

Vec3 normalized(const Vec3& v) {
    float n = norm3(v);
    return n > 0 ? Vec3{v.x / n, v.y / n, v.z / n} : v;
}

// Two unit vectors perpendicular to d (any pair).
void perpendiculars(const Vec3& d, Vec3& a, Vec3& b) {
    Vec3 ref = std::fabs(d.x) < 0.9f ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    a = normalized({d.y * ref.z - d.z * ref.y, d.z * ref.x - d.x * ref.z, d.x * ref.y - d.y * ref.x});
    b = {d.y * a.z - d.z * a.y, d.z * a.x - d.x * a.z, d.x * a.y - d.y * a.x};
}

} // namespace

void setParameter(quor::QuorPluginInterface& plugin, const quor::QuorParameterListDesc& desc, const std::string& name,
                  const std::string& value, bool unchecked) {
    int index = desc.indexOf(name.c_str());
    quor::QuorParameter* param = plugin.getParameter(name.c_str());
    if (index < 0 || !param) throw UsageError("--set: unknown parameter '" + name + "'");
    const quor::ParamInfo& info = desc.param(index);
    auto bad = [&](const char* what) {
        throw UsageError("--set " + name + ": '" + value + "' is not " + what);
    };
    switch (info.kind) {
    case quor::ParamKind::Texture:
    case quor::ParamKind::TextureRGB: {
        if (value == "none") {
            param->clearTexture();
            return;
        }
        auto parts = splitCommas(value);
        if (parts.size() != 3 && parts.size() != 4) bad("a colour r,g,b or r,g,b,a (or none)");
        float c[4] = {0, 0, 0, 1};
        for (std::size_t i = 0; i < parts.size(); ++i)
            if (!parseFloat(parts[i], c[i], unchecked)) bad("a colour r,g,b or r,g,b,a (or none)");
        if (!unchecked) checkRange(info, name, {c[0], c[1], c[2]});
        param->setConstantColor({c[0], c[1], c[2], c[3]});
        return;
    }
    case quor::ParamKind::TextureFloat: {
        if (value == "none") {
            param->clearTexture();
            return;
        }
        float v;
        if (!parseFloat(value, v, unchecked)) bad("a number (or none)");
        if (!unchecked) checkRange(info, name, {v});
        param->setConstantFloat(v);
        return;
    }
    case quor::ParamKind::Float: {
        float v;
        if (!parseFloat(value, v, unchecked)) bad("a number");
        if (!unchecked) checkRange(info, name, {v});
        param->setFloat(v);
        return;
    }
    case quor::ParamKind::Int: {
        int v;
        if (!parseInt(value, v)) bad("an integer");
        if (!unchecked) checkRange(info, name, {static_cast<float>(v)});
        param->setInt(v);
        return;
    }
    case quor::ParamKind::Bool: {
        if (value == "true" || value == "1" || value == "on") param->setInt(1);
        else if (value == "false" || value == "0" || value == "off") param->setInt(0);
        else bad("a boolean (true/false)");
        return;
    }
    }
}

ProbePoint::ProbePoint(quor::PluginDesc* desc, quor::QuorParameterListDesc* params, const PointOptions& options)
    : options_(options), desc_(desc) {
    const PointOptions& o = options_;
    float dlen = norm3(o.dir);
    if (!(dlen > 0) || !std::isfinite(dlen)) throw UsageError("--dir: the ray direction must be a non-zero vector");
    if (!std::isfinite(norm3(o.tangent))) throw UsageError("--tangent: components must be finite");

    instance_ = desc->newPlugin(nullptr);
    if (!instance_) throw UsageError(std::string("type '") + desc->getName() + "' cannot be instantiated by this library");
    plugin_ = static_cast<quor::QuorPluginInterface*>(instance_->getInterface(quor::EXT_QUOR_PLUGIN));
    bsdfIface_ = static_cast<quor::BSDFInterface*>(instance_->getInterface(quor::EXT_BSDF));
    if (!plugin_ || !bsdfIface_) {
        desc->deletePlugin(instance_);
        throw UsageError(std::string("type '") + desc->getName() + "' is not a material");
    }
    try {
        if (params)
            for (auto& [name, value] : o.sets) setParameter(*plugin_, *params, name, value, o.unchecked);
    } catch (...) {
        desc->deletePlugin(instance_);
        throw;
    }

    scene_.hasUnits = o.unitScale.has_value();
    scene_.scale = o.unitScale.value_or(1.0);
    renderer_.threadCount = 1;
    renderer_.scene = &scene_;
    plugin_->renderBegin(&renderer_);
    plugin_->frameBegin(&renderer_);

    Vec3 D = normalized(o.dir);
    Vec3 T = normalized(o.tangent);
    Vec3 n;
    if (o.normal) {
        n = normalized(*o.normal);
    } else {
        float k = -(D.x * T.x + D.y * T.y + D.z * T.z);
        n = normalized({-D.x - k * T.x, -D.y - k * T.y, -D.z - k * T.z});
    }

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

ProbePoint::~ProbePoint() {
    if (bsdf_) bsdfIface_->deleteBSDF(ctx_, bsdf_);
    plugin_->renderEnd(&renderer_);
    desc_->deletePlugin(instance_);
}

quor::BRDFSampler* ProbePoint::shade() {
    if (bsdf_) bsdfIface_->deleteBSDF(ctx_, bsdf_);
    brdf_ = nullptr;
    bsdf_ = bsdfIface_->newBSDF(ctx_, 0);
    if (bsdf_) brdf_ = bsdf_->getBRDF(options_.side);
    return brdf_;
}

quor::QuorContext& ProbePoint::newRayContext(float xi1, float xi2, float xi3) {
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

quor::PluginDesc* findType(quor::PluginLibDesc* lib, const char* name) {
    struct Find final : quor::PluginDescCallback {
        const char* name;
        quor::PluginDesc* found = nullptr;
        int onPluginDesc(quor::PluginDesc* d) override {
            if (std::strcmp(d->getName(), name) == 0) found = d;
            return found ? 0 : 1;
        }
    } find;
    find.name = name;
    lib->enumPluginDescs(&find);
    return find.found;
}

TypedPoint::TypedPoint(quor::PluginLibDesc* lib, const char* type, PointOptions options) {
    desc = findType(lib, type);
    if (!desc) throw UsageError(std::string("unknown type '") + type + "'");
    desc->registerPlugin(&host);
    options.type = type;
    probe = std::make_unique<ProbePoint>(desc, host.params(desc), options);
    probe->shade();
}

// --- furnace -------------------------------------------------------------------------------

namespace {

struct Rng {
    std::uint64_t s;
    explicit Rng(std::uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    double next() {  // splitmix64
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return (z >> 11) * (1.0 / 9007199254740992.0);
    }
};

double radicalInverse(int base, std::uint64_t i) {
    double inv = 1.0 / base, f = inv, r = 0;
    while (i) {
        r += f * static_cast<double>(i % base);
        i /= base;
        f *= inv;
    }
    return r;
}

struct Accumulator {
    double sum[3] = {0, 0, 0}, sumSq[3] = {0, 0, 0};
    long n = 0;
    void add(double r, double g, double b) {
        double v[3] = {r, g, b};
        for (int i = 0; i < 3; ++i) {
            sum[i] += v[i];
            sumSq[i] += v[i] * v[i];
        }
        ++n;
    }
    void result(Rgb& mean, Rgb& err) const {
        double m[3], e[3];
        for (int i = 0; i < 3; ++i) {
            m[i] = sum[i] / n;
            double var = n > 1 ? std::max(0.0, (sumSq[i] - n * m[i] * m[i]) / (n - 1)) : 0.0;
            e[i] = std::sqrt(var / n);
        }
        mean = {float(m[0]), float(m[1]), float(m[2])};
        err = {float(e[0]), float(e[1]), float(e[2])};
    }
};

double wrap01(double x) { return x - std::floor(x); }

} // namespace

FurnaceResult furnace(ProbePoint& point, int samples, std::uint64_t seed) {
    FurnaceResult out;
    samples = std::max(samples, 4);
    quor::QuorContext& ctx = point.context();
    ctx.lightMIS = 0;
    // So large that a weight pL²/(pB² + pL²) is 1 in single precision, yet pL² stays finite.
    const float lightProb = 1e18f;
    Rng rng(seed);

    // (1/π)·∫ eval dω over the sphere, stratified in (cos θ, φ) on the world axes.
    quor::BRDFSampler* brdf = point.shade();
    if (!brdf) return out;
    int nz = std::max(1, static_cast<int>(std::sqrt(samples / 2.0)));
    int nphi = std::max(1, samples / nz);
    Accumulator evalAcc;
    for (int iz = 0; iz < nz; ++iz) {
        for (int ip = 0; ip < nphi; ++ip) {
            double z = -1.0 + 2.0 * (iz + rng.next()) / nz;
            double phi = 2.0 * M_PI * (ip + rng.next()) / nphi;
            double r = std::sqrt(std::max(0.0, 1.0 - z * z));
            quor::Vector L{float(r * std::cos(phi)), float(r * std::sin(phi)), float(z), 0};
            quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
            quor::Color f = brdf->eval(ctx, L, light, unshadowed, lightProb, quor::EVAL_DIFFUSE | quor::EVAL_SPECULAR);
            evalAcc.add(4.0 * f.r, 4.0 * f.g, 4.0 * f.b);  // 4π / π
        }
    }
    evalAcc.result(out.eval, out.evalStderr);

    // Mean path weight of sampleRay over a shifted Halton sequence; a refused sample counts 0.
    double shift[4] = {rng.next(), rng.next(), rng.next(), rng.next()};
    Accumulator sampleAcc;
    bool any = false;
    for (int i = 0; i < samples; ++i) {
        std::uint64_t k = static_cast<std::uint64_t>(i) + 1;
        float u = float(wrap01(radicalInverse(2, k) + shift[0]));
        float a = float(wrap01(radicalInverse(3, k) + shift[1]));
        float b = float(wrap01(radicalInverse(5, k) + shift[2]));
        float c = float(wrap01(radicalInverse(7, k) + shift[3]));
        quor::QuorContext& nc = point.newRayContext(a, b, c);
        float r = brdf->sampleRay(ctx, nc, u, 0);
        if (r > 0) {
            any = true;
            sampleAcc.add(nc.pathWeight.r, nc.pathWeight.g, nc.pathWeight.b);
        } else {
            sampleAcc.add(0, 0, 0);
        }
    }
    out.sampled = any;
    if (any) sampleAcc.result(out.sampledMean, out.sampledStderr);
    return out;
}

} // namespace hairlab
