#include "lookdev/look_file.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "harness/error.h"
#include "harness/names.h"
#include "harness/numbers.h"

namespace lookdev {

using harness::InputError;
namespace fs = std::filesystem;

namespace {

// A float as the shortest decimal that reads back as the same float; non-finite values (which
// only --unchecked lets in) as the text the parameter parser reads.
Json number(float v) {
    if (!std::isfinite(v)) return std::isnan(v) ? "nan" : v > 0 ? "inf" : "-inf";
    return harness::shortestDecimal(v);
}

float unchecked(const std::string& text) {
    if (text == "inf" || text == "-inf" || text == "nan" || text == "-nan")
        return static_cast<float>(std::strtod(text.c_str(), nullptr));
    return harness::parseFloat("value", text);
}

// One parameter's final text (as --set takes it) as JSON of its kind.
Json valueJson(const quor::ParamInfo& p, const std::string* text) {
    using K = quor::ParamKind;
    switch (p.kind) {
    case K::Texture:
    case K::TextureRGB: {
        if (!text || *text == "none") return nullptr;
        if (*text == "strand") return "strand";
        std::vector<std::string> parts = harness::splitCommas(*text);
        Json a = Json::array();
        for (const std::string& part : parts)
            a.push_back(number(unchecked(part)));
        if (p.kind == K::Texture && a.size() == 3) a.push_back(1.0);
        return a;
    }
    case K::TextureFloat:
        if (!text || *text == "none") return nullptr;
        return number(unchecked(*text));
    case K::Float:
        return number(text ? unchecked(*text) : p.floatDefault);
    case K::Int:
        return text ? harness::parseInt("value", *text) : p.intDefault;
    case K::Bool:
        return text ? (*text == "true" || *text == "1" || *text == "on") : p.intDefault != 0;
    }
    return nullptr;
}

std::string relativeTo(const std::string& path, const std::string& folder) {
    if (path.empty()) return path;
    std::error_code ec;
    fs::path rel = fs::relative(fs::absolute(path, ec), fs::absolute(folder, ec), ec);
    return ec || rel.empty() ? fs::absolute(path, ec).string() : rel.string();
}

std::string anchored(const std::string& path, const std::string& folder) {
    if (path.empty() || fs::path(path).is_absolute()) return path;
    return (fs::path(folder) / path).lexically_normal().string();
}

Json optionalRgb(const std::optional<harness::Rgb>& c) {
    if (!c) return nullptr;
    return Json::array({number(c->r), number(c->g), number(c->b)});
}

// Reads one JSON object: every key taken is remembered, the rest are refused by done().
class Reader {
  public:
    Reader(const Json& j, std::string file, std::string path)
        : j_(j), file_(std::move(file)), path_(std::move(path)) {
        if (!j.is_object()) fail(path_, "expected an object, not " + typeName(j));
    }
    [[noreturn]] void fail(const std::string& key, const std::string& why) const {
        throw InputError(file_ + ": key '" + key + "': " + why);
    }
    std::string key(const std::string& k) const { return path_.empty() ? k : path_ + "." + k; }
    const Json* find(const std::string& k) {
        seen_.push_back(k);
        auto it = j_.find(k);
        return it == j_.end() ? nullptr : &*it;
    }
    const Json& need(const std::string& k) {
        const Json* v = find(k);
        if (!v) fail(key(k), "missing");
        return *v;
    }
    // A value of the expected JSON type; absent (or null where allowed) leaves out unchanged.
    template <class T> bool get(const std::string& k, T& out, bool required = false) {
        const Json* v = required ? &need(k) : find(k);
        if (!v || (v->is_null() && !required)) return false;
        bool ok = std::is_same_v<T, bool> ? v->is_boolean()
                  : std::is_same_v<T, std::string>
                      ? v->is_string()
                      : (std::is_integral_v<T> ? v->is_number_integer() : v->is_number());
        if (!ok) fail(key(k), "expected " + expected<T>() + ", not " + typeName(*v));
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            if (v->is_number_unsigned()
                    ? v->get<std::uint64_t>() > std::uint64_t(std::numeric_limits<T>::max())
                    : v->get<long long>() < (long long)std::numeric_limits<T>::min())
                fail(key(k), "expected " + expected<T>() + ", not " + v->dump());
        }
        if constexpr (std::is_floating_point_v<T>) {
            if (std::fabs(v->get<double>()) > std::numeric_limits<float>::max())
                fail(key(k), v->dump() + " is not a number in single-precision range");
        }
        out = v->get<T>();
        return true;
    }
    std::optional<harness::Rgb> rgb(const std::string& k) {
        const Json* v = find(k);
        if (!v || v->is_null()) return std::nullopt;
        if (!v->is_array() || v->size() != 3 || !(*v)[0].is_number() || !(*v)[1].is_number() ||
            !(*v)[2].is_number())
            fail(key(k), "expected a colour [r, g, b], not " + v->dump());
        return harness::Rgb{(*v)[0].get<float>(), (*v)[1].get<float>(), (*v)[2].get<float>()};
    }
    Reader child(const std::string& k) {
        static const Json empty = Json::object();
        const Json* v = find(k);
        return Reader(v ? *v : empty, file_, key(k));
    }
    // Refuses every key not taken, naming the nearest known one.
    void done() const {
        for (auto it = j_.begin(); it != j_.end(); ++it)
            if (std::find(seen_.begin(), seen_.end(), it.key()) == seen_.end())
                throw InputError(file_ + ": unknown key '" + key(it.key()) + "'" +
                                 harness::didYouMean(it.key(), seen_));
    }
    static std::string typeName(const Json& v) {
        return v.is_null()      ? "null"
               : v.is_boolean() ? "a boolean"
               : v.is_number()  ? "a number"
               : v.is_string()  ? "a string"
               : v.is_array()   ? "an array"
                                : "an object";
    }

  private:
    template <class T> static std::string expected() {
        if constexpr (std::is_same_v<T, bool>)
            return "a boolean";
        else if constexpr (std::is_same_v<T, std::string>)
            return "a string";
        else if constexpr (std::is_integral_v<T>)
            return "an integer";
        else
            return "a number";
    }
    const Json& j_;
    std::string file_, path_;
    std::vector<std::string> seen_;
};

// A path the shot reads must be a readable file.
void checkReadable(const Reader& r, const std::string& key, const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) r.fail(key, "cannot read '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) r.fail(key, "'" + path + "' is not a regular file");
}

Look readLook(Library& library, Reader r, bool unchecked) {
    Look look;
    r.get("type", look.type, true);
    r.get("label", look.label);
    std::uint64_t id = 0;
    quor::PluginDesc* desc = nullptr;
    try {
        desc = library.type(look.type);
    } catch (const InputError& e) {
        r.fail(r.key("type"), e.what());
    }
    if (r.get("id", id) && id != std::uint64_t(desc->getPluginTypeId()))
        r.fail(r.key("id"), "the file's " + look.type + " is type " + std::to_string(id) +
                                ", this library's is " + std::to_string(desc->getPluginTypeId()));
    const Json& params = r.need("parameters");
    if (!params.is_object())
        r.fail(r.key("parameters"), "expected an object, not " + Reader::typeName(params));
    harness::Instance probe(library, look.type);
    std::vector<std::string> names = parameterNames(library, look.type);
    ParamSets saved;
    for (auto it = params.begin(); it != params.end(); ++it) {
        const std::string key = r.key("parameters." + it.key());
        if (std::find(names.begin(), names.end(), it.key()) == names.end())
            r.fail(r.key("parameters"), "unknown parameter '" + it.key() + "' for " + look.type +
                                            harness::didYouMean(it.key(), names));
        if (it->is_object() || (it->is_array() && std::any_of(it->begin(), it->end(), [](const Json& e) {
                                    return !e.is_number() && !e.is_string();
                                })))
            r.fail(key,
                   "expected a number, a boolean, a colour array, \"strand\" or null, not " + it->dump());
        std::string text = valueText(*it);
        try {
            probe.set(it.key(), text, unchecked);
        } catch (const InputError& e) {
            std::string what = e.what(), prefix = "--set " + it.key() + ": ";
            r.fail(key, what.rfind(prefix, 0) == 0 ? what.substr(prefix.size()) : what);
        }
        saved.emplace_back(it.key(), text);
    }
    look.saved = std::move(saved);
    r.done();
    return look;
}

SweepAxis readSweep(Reader r) {
    SweepAxis axis;
    const Json* presets = r.find("presets");
    if (presets) {
        if (!presets->is_array()) r.fail(r.key("presets"), "expected an array of preset names");
        axis.name = "preset";
        for (const Json& p : *presets) {
            if (!p.is_string()) r.fail(r.key("presets"), "expected an array of preset names");
            try {
                axis.presets.push_back(presetOrRefuse("preset", p.get<std::string>()).name);
            } catch (const InputError& e) {
                r.fail(r.key("presets"), e.what());
            }
        }
    } else {
        r.get("parameter", axis.name, true);
        r.get("from", axis.from, true);
        r.get("to", axis.to, true);
        r.get("count", axis.count, true);
        if (axis.count < 1 || axis.count > kMaxLocks)
            r.fail(r.key("count"),
                   std::to_string(axis.count) + " is outside [1, " + std::to_string(kMaxLocks) + "]");
    }
    r.done();
    return axis;
}

// JSON indented by two, with arrays of plain values on one line (colours read as [r, g, b, a]).
void pretty(const Json& j, std::string& out, int depth) {
    const std::string pad(2 * depth + 2, ' '), close(2 * depth, ' ');
    bool flat =
        j.is_array() && std::none_of(j.begin(), j.end(), [](const Json& e) { return e.is_structured(); });
    if (!j.is_structured() || j.empty() || flat) {
        if (!flat || j.empty()) {
            out += j.dump();
            return;
        }
        out += "[";
        for (std::size_t i = 0; i < j.size(); ++i)
            out += (i ? ", " : "") + j[i].dump();
        out += "]";
        return;
    }
    out += j.is_array() ? "[\n" : "{\n";
    bool first = true;
    for (auto it = j.begin(); it != j.end(); ++it, first = false) {
        out += (first ? "" : ",\n") + pad;
        if (j.is_object()) out += Json(it.key()).dump() + ": ";
        pretty(*it, out, depth + 1);
    }
    out += "\n" + close + (j.is_array() ? "]" : "}");
}

} // namespace

std::string valueText(const Json& v) {
    if (v.is_null()) return "none";
    if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
    if (v.is_number_integer()) return std::to_string(v.get<long long>());
    if (v.is_number()) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v.get<double>());
        return buf;
    }
    if (v.is_string()) return v.get<std::string>();
    std::string s;
    for (const Json& e : v)
        s += (s.empty() ? "" : ",") + valueText(e);
    return s;
}

Json shotToJson(Library& library, const Shot& shot, const std::string& folder) {
    Json looks = Json::array();
    for (const Look& look : shot.looks) {
        ParamSets sets = resolve(library, look);
        std::map<std::string, const std::string*> last;
        for (auto& [name, value] : sets)
            last[name] = &value;
        quor::PluginDesc* desc = library.type(look.type);
        const quor::QuorParameterListDesc* d = library.host().params(desc);
        Json params = Json::object();
        for (int i = 0; d && i < d->count(); ++i) {
            const quor::ParamInfo& p = d->param(i);
            auto it = last.find(p.name);
            params[p.name] = valueJson(p, it == last.end() ? nullptr : it->second);
        }
        looks.push_back({{"type", look.type},
                         {"id", desc->getPluginTypeId()},
                         {"label", look.label},
                         {"parameters", params}});
    }
    Json sweeps = Json::array();
    for (const SweepAxis& a : shot.sweeps) {
        if (a.name == "preset")
            sweeps.push_back({{"presets", a.presets}});
        else
            sweeps.push_back(
                {{"parameter", a.name}, {"from", number(a.from)}, {"to", number(a.to)}, {"count", a.count}});
    }
    const Groom& g = shot.groom;
    Json outputs = Json::array();
    for (const std::string& o : shot.render.outputs)
        outputs.push_back(relativeTo(o, folder));
    return {{"format", kLookFormat},
            {"library", library.lib()->getLibName()},
            {"subject", subjectName(shot.subject)},
            {"unchecked", shot.unchecked},
            {"looks", looks},
            {"sweeps", sweeps},
            {"groom",
             {{"strands", g.strands ? Json(*g.strands) : Json(nullptr)},
              {"seed", g.seed},
              {"lock", g.wavy ? "wavy" : "straight"},
              {"strand_color", optionalRgb(g.strandColor)},
              {"strand_transparency", optionalRgb(g.strandTransparency)},
              {"file", g.file.empty() ? Json(nullptr) : Json(relativeTo(g.file, folder))}}},
            {"camera",
             {{"orbit", number(shot.camera.azimuth)},
              {"elevation", number(shot.camera.elevation)},
              {"zoom", number(shot.camera.zoom)}}},
            {"lighting",
             {{"environment", shot.lighting.environment.empty()
                                  ? Json(nullptr)
                                  : Json(relativeTo(shot.lighting.environment, folder))},
              {"lights", lightsText(shot.lighting.lights)},
              {"env_rotate", number(shot.lighting.envRotate)},
              {"env_intensity", number(shot.lighting.envIntensity)},
              {"exposure", number(shot.lighting.exposure)},
              {"backdrop", shot.lighting.backdrop}}},
            {"render",
             {{"width", shot.render.width},
              {"height", shot.render.height},
              {"spp", shot.render.spp},
              {"threads", shot.render.threads},
              {"seed", shot.render.seed},
              {"labels", shot.render.labels},
              {"adaptive", shot.render.adaptive},
              {"adaptive_threshold", number(shot.render.adaptiveThreshold)},
              {"outputs", outputs}}}};
}

Shot shotFromJson(Library& library, const Json& json, const std::string& file, const std::string& folder) {
    Shot shot;
    Reader r(json, file, "");
    int format = 0;
    r.get("format", format, true);
    if (format < 1) r.fail("format", std::to_string(format) + " is not a format version");
    if (format > kLookFormat)
        r.fail("format", "version " + std::to_string(format) + " is newer than this build reads (" +
                             std::to_string(kLookFormat) + ")");
    std::string library_name, subject;
    r.get("library", library_name);
    r.get("subject", subject, true);
    if (auto s = subjectFromName(subject))
        shot.subject = *s;
    else
        r.fail("subject", "'" + subject + "' is not one of sheet, sweep, swatch, ball, groom, furnace" +
                              harness::didYouMean(subject, subjectNames()));
    r.get("unchecked", shot.unchecked);

    const Json& looks = r.need("looks");
    if (!looks.is_array()) r.fail("looks", "expected an array of looks, not " + Reader::typeName(looks));
    for (std::size_t i = 0; i < looks.size(); ++i)
        shot.looks.push_back(
            readLook(library, Reader(looks[i], file, "looks[" + std::to_string(i) + "]"), shot.unchecked));
    if (const Json* sweeps = r.find("sweeps")) {
        if (!sweeps->is_array()) r.fail("sweeps", "expected an array of sweep axes");
        for (std::size_t i = 0; i < sweeps->size(); ++i)
            shot.sweeps.push_back(readSweep(Reader((*sweeps)[i], file, "sweeps[" + std::to_string(i) + "]")));
    }

    Reader g = r.child("groom");
    int strands = 0;
    if (g.get("strands", strands)) shot.groom.strands = strands;
    g.get("seed", shot.groom.seed);
    std::string lock = "straight";
    g.get("lock", lock);
    if (lock != "straight" && lock != "wavy") g.fail(g.key("lock"), "'" + lock + "' is not straight or wavy");
    shot.groom.wavy = lock == "wavy";
    shot.groom.strandColor = g.rgb("strand_color");
    shot.groom.strandTransparency = g.rgb("strand_transparency");
    if (g.get("file", shot.groom.file)) {
        shot.groom.file = anchored(shot.groom.file, folder);
        checkReadable(g, g.key("file"), shot.groom.file);
    }
    g.done();

    Reader c = r.child("camera");
    c.get("orbit", shot.camera.azimuth);
    c.get("elevation", shot.camera.elevation);
    c.get("zoom", shot.camera.zoom);
    c.done();

    Reader l = r.child("lighting");
    if (l.get("environment", shot.lighting.environment)) {
        shot.lighting.environment = anchored(shot.lighting.environment, folder);
        checkReadable(l, l.key("environment"), shot.lighting.environment);
    }
    std::string lights;
    if (l.get("lights", lights)) {
        try {
            shot.lighting.lights = parseLights("lights", lights);
        } catch (const InputError& e) {
            l.fail(l.key("lights"), e.what());
        }
    }
    l.get("env_rotate", shot.lighting.envRotate);
    l.get("env_intensity", shot.lighting.envIntensity);
    l.get("exposure", shot.lighting.exposure);
    l.get("backdrop", shot.lighting.backdrop);
    l.done();

    Reader s = r.child("render");
    s.get("width", shot.render.width);
    s.get("height", shot.render.height);
    s.get("spp", shot.render.spp);
    s.get("threads", shot.render.threads);
    s.get("seed", shot.render.seed);
    s.get("labels", shot.render.labels);
    s.get("adaptive", shot.render.adaptive);
    s.get("adaptive_threshold", shot.render.adaptiveThreshold);
    if (const Json* outs = s.find("outputs")) {
        if (!outs->is_array() ||
            std::any_of(outs->begin(), outs->end(), [](const Json& o) { return !o.is_string(); }))
            s.fail(s.key("outputs"), "expected an array of file names");
        for (const Json& o : *outs)
            shot.render.outputs.push_back(anchored(o.get<std::string>(), folder));
    }
    s.done();
    r.done();
    return shot;
}

void saveShot(Library& library, const Shot& shot, const std::string& path) {
    std::string folder = fs::path(path).parent_path().string();
    std::string text;
    pretty(shotToJson(library, shot, folder.empty() ? "." : folder), text, 0);
    text += "\n";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw InputError("--save-look: cannot write '" + path + "': " + std::strerror(errno));
}

Shot loadShot(Library& library, const std::string& path, bool unchecked) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        throw InputError("--look: cannot read '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw InputError("--look: '" + path + "' is not a regular file");
    if (st.st_size > (16 << 20)) throw InputError("--look: '" + path + "' is larger than 16 MiB");
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (!in) throw InputError("--look: cannot read '" + path + "': " + std::strerror(errno));
    Json json;
    try {
        json = Json::parse(buffer.str());
    } catch (const Json::parse_error& e) {
        std::string what = e.what();
        std::size_t at = what.find("] ");
        throw InputError(path + ": not JSON: " + (at == std::string::npos ? what : what.substr(at + 2)));
    }
    // Values are checked against their limits as the file is read; --unchecked lets them pass.
    if (unchecked && json.is_object()) json["unchecked"] = true;
    std::string folder = fs::path(path).parent_path().string();
    Shot shot = shotFromJson(library, json, path, folder.empty() ? "." : folder);
    validate(library, shot, Where{path});
    return shot;
}

Look pickLook(const Shot& shot, const std::string& file, int lock) {
    const int n = static_cast<int>(shot.looks.size());
    if (lock < 0 && n == 1) return shot.looks[0];
    if (lock < 0)
        throw InputError("--look: '" + file + "' holds " + std::to_string(n) +
                         " looks; pick one with --lock N (0 to " + std::to_string(n - 1) + ")");
    if (lock >= n)
        throw InputError("--lock: " + std::to_string(lock) + " is outside [0, " + std::to_string(n - 1) +
                         "] ('" + file + "' holds " + std::to_string(n) + " look" + (n == 1 ? "" : "s") +
                         ")");
    return shot.looks[static_cast<std::size_t>(lock)];
}

} // namespace lookdev
