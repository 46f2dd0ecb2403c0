#include "point_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "errors.h"
#include "lookdev/look_file.h"
#include "options.h"

namespace hairlab {

namespace {

constexpr int kMaxDepth = 1000000;

} // namespace

Vec3 parseVector(const std::string& option, const std::string& text) {
    std::vector<float> v = parseFloats(option, text, 3, "a vector x,y,z");
    return {v[0], v[1], v[2]};
}

Vec3 parseDirection(const std::string& option, const std::string& text) {
    Vec3 v = parseVector(option, text);
    if (v.x == 0 && v.y == 0 && v.z == 0)
        throw UsageError(option + ": '" + text + "' is a zero vector, which has no direction");
    return harness::normalized(v);
}

Rgb parseRgb(const std::string& option, const std::string& text) {
    std::vector<float> v = parseFloats(option, text, 3, "a colour r,g,b");
    return {v[0], v[1], v[2]};
}

void PointArgs::add(CLI::App& cmd, PointScope scope) {
    scope_ = scope;
    typeOpt_ = cmd.add_option(
        "--type", type_,
        "Material type, e.g. BRDFHair or BRDFHair4 (see hairlab list); required unless --look names it");
    cmd.add_option("--look", look_,
                   "A look file of one material (or pick one with --lock); --set goes over it");
    cmd.add_option("--lock", lock_, "With --look: the look of that lock of the file, from 0");
    cmd.add_option(
           "--set", sets_,
           "Parameter value NAME=VALUE, repeatable. Colours r,g,b or r,g,b,a; a texture parameter given a "
           "value is bound to a constant texture, NAME=strand (colour textures) to the strand record's "
           "colour, "
           "NAME=none leaves it unconnected. Every other texture "
           "parameter is bound to its registered default, as a host's editor creates a material")
        ->allow_extra_args(false);
    cmd.add_flag("--unbound", unbound_,
                 "Leave every texture parameter unconnected unless --set binds it (a bare instance)");
    cmd.add_flag("--unchecked", unchecked_, "Accept parameter values outside their minValue/maxValue hints");
    unitScaleOpt_ = cmd.add_option("--unit-scale", unitScale_,
                                   "Offer the scene units interface with this scale (default: not offered)");
    cmd.add_flag("--json", json_, "Machine-readable output");
    if (scope == PointScope::InstanceOnly) return;

    addDefaulted(cmd, "--dir", dir_, "Ray direction D x,y,z (towards the surface), normalised");
    addDefaulted(cmd, "--tangent", tangent_, "Strand tangent x,y,z in the strand record");
    normalOpt_ = cmd.add_option("--normal", normal_,
                                "Surface normal x,y,z, normalised; default -D with its tangent part removed");
    addDefaulted(cmd, "--h", h_, "Across-strand offset in the strand record");
    addDefaulted(cmd, "--strand-color", strandColor_, "Strand record colour r,g,b");
    addDefaulted(cmd, "--strand-transparency", strandTransparency_, "Strand record transparency r,g,b");
    addDefaulted(cmd, "--strand-index", strandIndex_, "Strand index");
    addDefaulted(cmd, "--strand-length", strandLength_, "Strand length");
    addDefaulted(cmd, "--strand-position", strandPosition_, "Position along the strand, root 0 to tip 1");
    cmd.add_flag("--no-strand-data", noStrandData_, "The context offers no strand-data interface");
    coverageOpt_ =
        cmd.add_option("--coverage", coverage_,
                       "Offer the strand-opacity interface with this coverage (default: not offered)");
    addDefaulted(cmd, "--depth", depth_, "Ray depth, 0 to 1000000");
    addDefaulted(cmd, "--ray-flags", rayFlags_,
                 "Ray flags, decimal or 0x hex (0x8 shadow, 0x10 GI, 0x200 no specular)");
    addDefaulted(cmd, "--context-flags", contextFlags_,
                 "Context flags, decimal or 0x hex (0x1 render elements, 0x20 skip the below-surface test; "
                 "0x20 is a renderer's hair hit)");
    addDefaulted(cmd, "--side", side_, "The mode passed to getBRDF");
    addDefaulted(cmd, "--gi", gi_, "Colour r,g,b of the host's GI source");
    addDefaulted(cmd, "--mis", mis_, "The host's multiple-importance answer, 0 or 1");
}

PointOptions PointArgs::options(Library& library) const {
    PointOptions o = options();
    if (look_.empty()) {
        if (!lock_.empty()) throw UsageError("--lock: goes with --look");
        if (!typeOpt_->count()) throw UsageError("--type is required");
        return o;
    }
    if (unbound_) throw UsageError("--unbound: the look file says which texture slots are connected");
    lookdev::Shot shot = lookdev::loadShot(library, look_, unchecked_);
    int lock = lock_.empty() ? -1 : static_cast<int>(parseUnsigned("--lock", lock_));
    lookdev::Look look = lookdev::pickLook(shot, look_, lock);
    if (!type_.empty() && type_ != look.type)
        throw UsageError("--type: '" + look_ + "' holds a " + look.type + ", not a " + type_);
    o.type = look.type;
    o.unchecked = o.unchecked || shot.unchecked;
    o.bindDefaults = false; // the file names every parameter, unconnected slots included
    harness::ParamSets sets = lookdev::resolve(library, look);
    sets.insert(sets.end(), o.sets.begin(), o.sets.end());
    o.sets = std::move(sets);
    return o;
}

PointOptions PointArgs::options() const {
    PointOptions o;
    o.type = type_;
    o.sets = parseSets("--set", sets_);
    o.unchecked = unchecked_;
    o.bindDefaults = !unbound_;
    if (unitScaleOpt_ && unitScaleOpt_->count()) {
        float s = parseFloat("--unit-scale", unitScale_);
        if (!(s > 0)) throw UsageError("--unit-scale: '" + unitScale_ + "' is not a positive scale");
        o.unitScale = s;
    }
    if (scope_ == PointScope::InstanceOnly) return o;

    o.dir = parseDirection("--dir", dir_);
    o.tangent = parseVector("--tangent", tangent_);
    if (normalOpt_->count()) o.normal = parseDirection("--normal", normal_);
    o.h = parseFloat("--h", h_);
    o.strandColor = parseRgb("--strand-color", strandColor_);
    o.strandTransparency = parseRgb("--strand-transparency", strandTransparency_);
    o.strandIndex = parseInt("--strand-index", strandIndex_);
    o.strandLength = parseFloat("--strand-length", strandLength_);
    o.strandPosition = parseFloat("--strand-position", strandPosition_);
    o.noStrandData = noStrandData_;
    if (coverageOpt_->count()) o.coverage = parseFloat("--coverage", coverage_);
    o.depth = parseInt("--depth", depth_);
    if (o.depth < 0) throw UsageError("--depth: '" + depth_ + "' is negative; a ray depth counts from 0");
    // Continuation rays count on from here; keep that count far from overflow.
    if (o.depth > kMaxDepth)
        throw UsageError("--depth: '" + depth_ + "' is above " + std::to_string(kMaxDepth));
    o.rayFlags = parseInt("--ray-flags", rayFlags_);
    o.contextFlags = parseInt("--context-flags", contextFlags_);
    o.side = parseInt("--side", side_);
    o.gi = parseRgb("--gi", gi_);
    o.mis = parseInt("--mis", mis_);
    if (o.mis != 0 && o.mis != 1) throw UsageError("--mis: '" + mis_ + "' is not 0 or 1");
    return o;
}

std::unique_ptr<harness::ShadingPoint> openPoint(Library& library, const PointOptions& options) {
    if (options.type.empty()) throw UsageError("--type: the type name is empty");
    try {
        library.type(options.type);
    } catch (const UsageError& e) {
        throw UsageError(std::string("--type: ") + e.what());
    }
    return std::make_unique<harness::ShadingPoint>(library, options);
}

std::string formatLanes(std::initializer_list<float> values) {
    std::string out;
    char buf[48];
    for (float v : values) {
        std::snprintf(buf, sizeof buf, "%.9g", double(v));
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

Json jsonNumber(float value) {
    if (!std::isfinite(value)) return nullptr;
    return harness::shortestDecimal(value);
}

Json jsonLanes(std::initializer_list<float> values) {
    Json a = Json::array();
    for (float v : values)
        a.push_back(jsonNumber(v));
    return a;
}

} // namespace hairlab
