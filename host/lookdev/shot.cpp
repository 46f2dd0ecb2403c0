#include "lookdev/shot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "harness/error.h"
#include "harness/names.h"
#include "harness/numbers.h"

namespace lookdev {

using harness::InputError;

namespace {

std::string label4(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", double(v));
    return buf;
}

bool has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names)
        s += (s.empty() ? "" : ", ") + n;
    return s;
}

// The distinct types of the looks, in order, and every parameter name they have.
void typesAndNames(Library& library, const std::vector<Look>& looks, std::vector<std::string>& types,
                   std::vector<std::string>& names) {
    for (const Look& l : looks) {
        if (has(types, l.type)) continue;
        types.push_back(l.type);
        for (const std::string& n : parameterNames(library, l.type))
            if (!has(names, n)) names.push_back(n);
    }
}

// Refuses a parameter name none of the types has, naming the nearest one there is.
void checkName(const std::string& what, const std::string& name, const std::vector<std::string>& known,
               const std::vector<std::string>& types) {
    if (!has(known, name))
        throw InputError(what + ": unknown parameter '" + name + "' for " + joined(types) +
                         harness::didYouMean(name, known));
}

// Refuses an output the render could not write, before any rendering: an empty path, a value
// that is an option, an unknown extension, a folder that is missing or not writable, a path
// that names a folder. The system's reason goes into the message.
void checkOutput(const std::string& what, const std::string& path) {
    if (path.empty() || path[0] == '-') checkWritable(what, path);
    const std::vector<std::string>& extensions = quor::render::imageExtensions();
    std::string ext = lowerExtension(path);
    if (!has(extensions, ext))
        throw InputError(what + ": '" + path + "' has " +
                         (ext.empty() ? "no extension" : "the unknown extension " + ext) +
                         " (known: " + joined(extensions) + ")");
    checkWritable(what, path);
}

} // namespace

void checkWritable(const std::string& what, const std::string& path) {
    if (path.empty()) throw InputError(what + ": empty path");
    if (path[0] == '-')
        throw InputError(what + ": '" + path + "' looks like an option; write ./" + path +
                         " for such a file");
    const std::string ext = lowerExtension(path);
    std::size_t slash = path.find_last_of('/');
    if (path.size() - (slash == std::string::npos ? 0 : slash + 1) == ext.size())
        throw InputError(what + ": '" + path + "' has no file name before the extension " + ext);
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    auto refuse = [&](const std::string& why, int error) {
        throw InputError(what + ": cannot write '" + path + "': " + why + std::strerror(error));
    };
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) refuse("folder '" + dir + "': ", errno);
    if (!S_ISDIR(st.st_mode)) refuse("'" + dir + "': ", ENOTDIR);
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) refuse("", EISDIR);
    // Opening is the only test the system answers truthfully (permissions, read-only mounts,
    // special folders); a file made only for the test is removed again.
    bool existed = stat(path.c_str(), &st) == 0;
    // Without blocking: a FIFO nobody reads is refused (ENXIO) instead of waiting for a reader.
    int fd = open(path.c_str(), (existed ? O_WRONLY : (O_WRONLY | O_CREAT | O_EXCL)) | O_NONBLOCK, 0644);
    if (fd < 0) refuse("", errno);
    close(fd);
    if (!existed) unlink(path.c_str());
}

namespace {

int lockCount(const std::vector<SweepAxis>& axes) {
    std::uint64_t n = 1;
    for (const SweepAxis& a : axes)
        n *= a.name == "preset" ? a.presets.size() : std::size_t(a.count);
    return static_cast<int>(std::min<std::uint64_t>(n, 1u << 30));
}

// The instance of every look, in order. A swept value that is refused is named by --sweep.
std::vector<std::unique_ptr<harness::Instance>> makeInstances(Library& library, const Shot& shot,
                                                              const Where& where) {
    std::vector<std::unique_ptr<harness::Instance>> instances;
    for (std::size_t i = 0; i < shot.looks.size(); ++i) {
        const Look& look = shot.looks[i];
        try {
            library.type(look.type);
        } catch (const InputError& e) {
            throw InputError(where.look(i, "type", "--type") + ": " + e.what());
        }
        try {
            instances.push_back(std::make_unique<harness::Instance>(library, look.type,
                                                                    resolve(library, look), shot.unchecked));
        } catch (const InputError& e) {
            std::string what = e.what();
            for (auto& [name, value] : look.swept)
                if (what.rfind("--set " + name + ":", 0) == 0) what = "--sweep " + what.substr(6);
            throw InputError(what);
        }
    }
    return instances;
}

void checkSubject(const Shot& shot, const Where& where) {
    const Subject s = shot.subject;
    if ((s == Subject::Sweep) != !shot.sweeps.empty())
        throw InputError(where.plain(kSweeps, s == Subject::Sweep
                                                  ? "--scene sweep needs --sweep NAME=FROM:TO:COUNT"
                                                  : "--sweep goes with --scene sweep"));
    if (shot.sweeps.size() > 2) throw InputError(where(kSweeps) + ": at most two (columns and rows)");
    if ((s == Subject::Groom) != !shot.groom.file.empty())
        throw InputError(where.plain(kGroomFile, s == Subject::Groom
                                                     ? "--scene groom needs --groom FILE.hair"
                                                     : "--groom FILE.hair goes with --scene groom"));
    if (s == Subject::Furnace) {
        const Lighting& l = shot.lighting;
        const quor::render::StudioRig studio;
        const Field* f =
            !l.environment.empty() ? &kEnvironment
            : l.envRotate != 0     ? &kEnvRotate
            : l.envIntensity != 1  ? &kEnvIntensity
            : l.lights.key != studio.key || l.lights.rim != studio.rim || l.lights.fill != studio.fill
                ? &kLights
                : nullptr;
        if (f) throw InputError(where(*f) + ": the furnace stays a uniform white environment");
    }
    if (shot.looks.empty()) throw InputError(where(kLooks) + ": the shot has no look");
    const int locks = s == Subject::Sweep ? lockCount(shot.sweeps) : 1;
    if (s == Subject::Sweep && locks > kMaxLocks)
        throw InputError(where(kSweeps) + ": " + std::to_string(locks) + " locks is more than " +
                         std::to_string(kMaxLocks));
    if (s != Subject::Sheet && shot.looks.size() != std::size_t(locks))
        throw InputError(where(kLooks) + ": a " + subjectName(s) + " shot has " + std::to_string(locks) +
                         " look" + (locks == 1 ? "" : "s") + ", not " + std::to_string(shot.looks.size()));
}

void checkSettings(const Shot& shot, const Where& where) {
    const RenderSettings& r = shot.render;
    harness::checkIn(where(kWidth), r.width, 1, kMaxSide);
    harness::checkIn(where(kHeight), r.height, 1, kMaxSide);
    harness::checkIn(where(kSpp), r.spp, 1, kMaxSpp);
    harness::checkIn(where(kThreads), r.threads, 0, kMaxThreads);
    harness::checkIn(where(kAdaptiveThreshold), r.adaptiveThreshold, kMinAdaptiveThreshold,
                     kMaxAdaptiveThreshold);
    std::uint64_t pixels = std::uint64_t(r.width) * r.height;
    if (pixels > kMaxPixels)
        throw InputError("--width × --height: " + std::to_string(pixels) + " pixels is more than " +
                         std::to_string(kMaxPixels));
    if (pixels * r.spp > kMaxCameraSamples)
        throw InputError("--width × --height × --spp: " + std::to_string(pixels * r.spp) +
                         " camera samples is more than " + std::to_string(kMaxCameraSamples));
    harness::checkIn(where(kOrbit), shot.camera.azimuth, -kMaxOrbit, kMaxOrbit);
    harness::checkIn(where(kElevation), shot.camera.elevation, -kMaxElevation, kMaxElevation);
    harness::checkIn(where(kZoom), shot.camera.zoom, kMinZoom, kMaxZoom);
    if (!(shot.lighting.exposure > 0 && std::isfinite(shot.lighting.exposure)))
        throw InputError(where(kExposure) + ": " + harness::shortestText(shot.lighting.exposure) +
                         " is not positive");
    const Lighting& l = shot.lighting;
    for (float f : {l.lights.key, l.lights.rim, l.lights.fill})
        harness::checkIn(where(kLights), f, 0.0f, kMaxLightFactor);
    harness::checkIn(where(kEnvRotate), l.envRotate, -kMaxEnvRotate, kMaxEnvRotate);
    harness::checkIn(where(kEnvIntensity), l.envIntensity, 0.0f, kMaxLightFactor);
    if (shot.groom.strands) harness::checkIn(where(kStrands), *shot.groom.strands, 1, kMaxStrands);
    for (const std::string& out : r.outputs)
        checkOutput(where(kOutputs), out);
}

void checkSweeps(Library& library, const Shot& shot, const Where& where) {
    std::vector<std::string> types, known;
    typesAndNames(library, shot.looks, types, known);
    for (const SweepAxis& axis : shot.sweeps) {
        if (axis.name == "preset") {
            if (types[0] != kPresetType)
                throw InputError(where(kSweeps) + ": the presets are for " + kPresetType + ", not " +
                                 types[0]);
            continue;
        }
        checkName(where(kSweeps), axis.name, known, types);
        for (const Look& l : shot.looks)
            for (auto& [name, value] : l.values)
                if (name == axis.name)
                    throw InputError("--set " + name + ": the parameter is swept by --sweep");
    }
}

} // namespace

const std::vector<std::string>& subjectNames() {
    static const std::vector<std::string> names = {"sheet", "sweep", "swatch", "ball", "groom", "furnace"};
    return names;
}

std::string subjectName(Subject subject) { return subjectNames()[static_cast<std::size_t>(subject)]; }

std::optional<Subject> subjectFromName(const std::string& name) {
    const auto& names = subjectNames();
    auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) return std::nullopt;
    return static_cast<Subject>(it - names.begin());
}

std::string Where::operator()(const Field& f) const {
    return file.empty() ? f.option : file + ": key '" + f.key + "'";
}

std::string Where::plain(const Field& f, const std::string& message) const {
    return file.empty() ? message : (*this)(f) + ": " + message;
}

std::string Where::look(std::size_t index, const std::string& key, const std::string& option) const {
    return file.empty() ? option : file + ": key 'looks[" + std::to_string(index) + "]." + key + "'";
}

quor::render::StudioRig parseLights(const std::string& what, const std::string& text) {
    if (text == "studio") return {};
    quor::render::StudioRig rig{0, 0, 0};
    if (text == "none") return rig;
    std::vector<std::string> seen;
    for (const std::string& part : harness::splitCommas(text)) {
        const std::size_t eq = part.find('=');
        const std::string name = part.substr(0, eq);
        float* f = name == "key" ? &rig.key : name == "rim" ? &rig.rim : name == "fill" ? &rig.fill : nullptr;
        if (!f)
            throw InputError(what + ": '" + name + "' is not a light (studio, none, or key, rim, fill with " +
                             "optional =FACTOR)" + harness::didYouMean(name, {"key", "rim", "fill"}));
        if (has(seen, name)) throw InputError(what + ": the " + name + " light is named twice");
        seen.push_back(name);
        *f = eq == std::string::npos ? 1.0f : harness::parseFloat(what + " " + name, part.substr(eq + 1));
        harness::checkIn(what + " " + name, *f, 0.0f, kMaxLightFactor);
    }
    return rig;
}

std::string lightsText(const quor::render::StudioRig& rig) {
    if (rig.key == 1 && rig.rim == 1 && rig.fill == 1) return "studio";
    std::string text;
    for (auto [name, f] :
         {std::pair{"key", rig.key}, std::pair{"rim", rig.rim}, std::pair{"fill", rig.fill}}) {
        if (!(f > 0)) continue;
        if (!text.empty()) text += ',';
        text += name;
        if (f != 1) text.append("=").append(harness::shortestText(f));
    }
    return text.empty() ? "none" : text;
}

std::vector<float> SweepAxis::values() const {
    std::vector<float> v;
    for (int i = 0; i < count; ++i)
        v.push_back(count == 1 ? from : static_cast<float>(from + (double(to) - from) * i / (count - 1)));
    return v;
}

std::vector<std::string> SweepAxis::labels() const {
    if (name == "preset") return presets;
    std::vector<std::string> out;
    for (float v : values())
        out.push_back(name + " " + label4(v));
    return out;
}

SweepAxis parseSweep(const std::string& text) {
    std::size_t eq = text.find('=');
    const std::string form = "--sweep: '" + text + "' is not NAME=FROM:TO:COUNT or preset=NAME,...";
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) throw InputError(form);
    SweepAxis axis;
    axis.name = text.substr(0, eq);
    const std::string spec = text.substr(eq + 1);
    if (axis.name == "preset") {
        for (const std::string& n : spec == "all" ? presetNames() : harness::splitCommas(spec))
            axis.presets.push_back(presetOrRefuse("--sweep", n).name);
        return axis;
    }
    std::vector<std::string> parts;
    for (std::size_t at = 0;;) {
        std::size_t colon = spec.find(':', at);
        parts.push_back(spec.substr(at, colon == std::string::npos ? std::string::npos : colon - at));
        if (colon == std::string::npos) break;
        at = colon + 1;
    }
    if (parts.size() != 3) throw InputError(form);
    const std::string what = "--sweep " + axis.name;
    axis.from = harness::parseFloat(what, parts[0]);
    axis.to = harness::parseFloat(what, parts[1]);
    std::uint64_t count = parts[2].empty() ? 0 : harness::parseUnsigned(what, parts[2]);
    if (count < 1 || count > std::uint64_t(kMaxLocks))
        throw InputError(what + ": the count '" + parts[2] + "' is outside [1, " + std::to_string(kMaxLocks) +
                         "]");
    axis.count = static_cast<int>(count);
    return axis;
}

std::vector<Look> sheetLooks(Library& library, bool curated) {
    std::vector<Look> looks;
    for (const std::string& t : sheetTypes(library)) {
        Look look;
        look.type = t;
        look.curated = curated;
        const Preset* c = curated ? curatedLook(t) : nullptr;
        look.label = t + (c ? "\n" + c->name : curated ? "" : "\nregistered defaults");
        looks.push_back(std::move(look));
    }
    return looks;
}

std::vector<Look> sweepLooks(const Look& base, const std::vector<SweepAxis>& axes) {
    // One axis's parameter sets and labels, lock by lock.
    auto expand = [](const SweepAxis* axis, std::vector<ParamSets>& sets, std::vector<std::string>& labels) {
        if (!axis) {
            sets = {{}}, labels = {""};
            return;
        }
        labels = axis->labels();
        if (axis->name == "preset")
            for (const std::string& p : axis->presets)
                sets.push_back(presetOrRefuse("--sweep", p).sets);
        else
            for (float v : axis->values())
                sets.push_back({{axis->name, harness::shortestText(v)}});
    };
    std::vector<ParamSets> across, down;
    std::vector<std::string> acrossLabels, downLabels;
    expand(axes.empty() ? nullptr : &axes[0], across, acrossLabels);
    expand(axes.size() > 1 ? &axes[1] : nullptr, down, downLabels);
    std::vector<Look> looks;
    for (std::size_t r = 0; r < down.size(); ++r) {
        for (std::size_t c = 0; c < across.size(); ++c) {
            Look look = base;
            look.swept = across[c];
            look.swept.insert(look.swept.end(), down[r].begin(), down[r].end());
            look.label = acrossLabels[c] + (downLabels[r].empty() ? "" : ", " + downLabels[r]);
            looks.push_back(std::move(look));
        }
    }
    return looks;
}

void applyToLooks(Library& library, Shot& shot, const std::string& preset, const ParamSets& values) {
    std::vector<std::string> types, known;
    typesAndNames(library, shot.looks, types, known);
    for (auto& [name, value] : values)
        checkName("--set", name, known, types);
    const Preset* p = preset.empty() ? nullptr : &presetOrRefuse("--preset", preset);
    if (p && !has(types, kPresetType))
        throw InputError(std::string("--preset: the presets are for ") + kPresetType + ", not " +
                         joined(types));
    for (Look& look : shot.looks) {
        if (p && look.type == kPresetType) {
            look.preset = p->name;
            if (shot.subject == Subject::Sheet) look.label += ", " + p->name;
        }
        std::vector<std::string> own = parameterNames(library, look.type);
        for (auto& set : values) // explicit values last: they win over defaults, looks and presets
            if (has(own, set.first)) look.values.push_back(set);
    }
}

namespace {

// Every check of validate; the instances it had to make to check the values are kept for compose.
std::vector<std::unique_ptr<harness::Instance>> checked(Library& library, const Shot& shot,
                                                        const Where& where) {
    checkSubject(shot, where);
    checkSettings(shot, where);
    auto instances = makeInstances(library, shot, where);
    checkSweeps(library, shot, where);
    if ((shot.subject == Subject::Sheet || shot.subject == Subject::Sweep) && shot.render.labels) {
        try {
            quor::render::checkLabelFont();
        } catch (const std::runtime_error& e) {
            throw InputError(e.what());
        }
    }
    return instances;
}

// A sheet's or sweep's labels. A grid of two sweeps is labelled by axis: each row's value under
// its first lock, each column's under its lock in the bottom row, so that no label has to hold both.
std::vector<std::string> lockLabels(const Shot& shot) {
    std::vector<std::string> labels;
    const std::vector<std::string> across = shot.sweeps.size() == 2 ? shot.sweeps[0].labels()
                                                                    : std::vector<std::string>{},
                                   down = shot.sweeps.size() == 2 ? shot.sweeps[1].labels()
                                                                  : std::vector<std::string>{};
    for (std::size_t i = 0; i < shot.looks.size() && shot.render.labels; ++i) {
        if (across.empty()) {
            labels.push_back(shot.looks[i].label);
            continue;
        }
        const std::size_t col = i % across.size(), r = i / across.size();
        std::string label = col == 0 ? down[r] : "";
        if (r + 1 == down.size()) label += (label.empty() ? "" : "\n") + across[col];
        labels.push_back(label);
    }
    return labels;
}

} // namespace

void validate(Library& library, const Shot& shot, const Where& where) { checked(library, shot, where); }

void restyle(Library& library, Composition& c, const Shot& shot, const Where& where) {
    std::vector<std::unique_ptr<harness::Instance>> instances = checked(library, shot, where);
    if (instances.size() != c.instances.size() || static_cast<int>(instances.size()) != c.scene.groupCount())
        throw std::logic_error("restyle: the shot has another number of locks than the scene");
    for (std::size_t i = 0; i < instances.size(); ++i)
        c.scene.setGroupInstance(static_cast<int>(i), instances[i]->base());
    c.instances = std::move(instances);
    if (shot.subject == Subject::Sheet || shot.subject == Subject::Sweep) c.labels = lockLabels(shot);
}

std::unique_ptr<Composition> compose(Library& library, const Shot& shot, const Where& where) {
    namespace r = quor::render;
    auto c = std::make_unique<Composition>();
    c->instances = checked(library, shot, where);
    const Subject s = shot.subject;
    std::vector<r::Strand> groom;
    r::Environment env;
    try {
        if (s == Subject::Groom) groom = r::readHairFile(shot.groom.file);
        if (s == Subject::Groom && groom.empty())
            throw InputError("--groom: '" + shot.groom.file + "' has no strand of two points or more");
        if (!shot.lighting.environment.empty()) env = r::Environment::load(shot.lighting.environment);
    } catch (const r::HairFileError& e) {
        throw InputError(e.what());
    } catch (const InputError&) {
        throw;
    } catch (const std::runtime_error& e) {
        throw InputError(e.what());
    }
    std::vector<quor::PluginBase*> row;
    for (auto& inst : c->instances)
        row.push_back(inst->base());

    r::HairStyle style;
    style.seed = shot.groom.seed;
    style.wavy = shot.groom.wavy;
    if (s == Subject::Ball || s == Subject::Furnace) style.strands = r::kBallStrands;
    if (s == Subject::Furnace) style.color = {1, 1, 1};
    if (shot.groom.strands) style.strands = *shot.groom.strands;
    if (auto& sc = shot.groom.strandColor) style.color = {sc->r, sc->g, sc->b};
    if (auto& st = shot.groom.strandTransparency) style.transparency = {st->r, st->g, st->b};
    // A groom file's strands without a colour array of their own take the given colour.
    if (shot.groom.strandColor)
        for (r::Strand& strand : groom)
            if (strand.colors.empty()) strand.color = style.color;

    const RenderSettings& rs = shot.render;
    if (s == Subject::Sheet || s == Subject::Sweep) {
        // The second sweep makes rows; a sheet or one sweep is laid out in the columns that
        // give the biggest locks for the picture's aspect (a lock's cell is 1.25 wide, 3.1 tall).
        const int n = static_cast<int>(row.size());
        c->columns = s == Subject::Sweep ? lockCount({shot.sweeps[0]}) : n;
        if (shot.sweeps.size() < 2) {
            float best = 0;
            for (int cols = 1; cols <= n; ++cols) {
                int rows = (n + cols - 1) / cols;
                float size = std::min(float(rs.width) / (cols * 1.25f), float(rs.height) / (rows * 3.1f));
                if (size > best) best = size, c->columns = cols;
            }
        }
    }
    if (s == Subject::Sheet || s == Subject::Sweep) {
        r::buildContactSheet(c->scene, row, c->columns, style);
        c->labels = lockLabels(shot);
        if (!shot.render.labels) c->scene.labelSpace = 0;
    }
    if (s == Subject::Swatch) r::buildSwatch(c->scene, row[0], style);
    if (s == Subject::Ball) r::buildBall(c->scene, row[0], style);
    if (s == Subject::Groom) r::buildGroom(c->scene, row[0], groom);
    if (s == Subject::Furnace) r::buildFurnace(c->scene, row[0], style);
    if (!shot.lighting.environment.empty()) c->scene.env = std::move(env);
    c->scene.env.transform(shot.lighting.envRotate, shot.lighting.envIntensity);
    c->scene.rig = shot.lighting.lights;
    r::frame(c->scene, rs.width, rs.height, shot.camera);

    c->outputs = rs.outputs.empty() ? std::vector<std::string>{"hair.png"} : rs.outputs;
    c->options.width = rs.width;
    c->options.height = rs.height;
    c->options.spp = rs.spp;
    c->options.threads = rs.threads;
    c->options.seed = rs.seed;
    c->options.adaptive = rs.adaptive;
    c->options.adaptiveThreshold = rs.adaptiveThreshold;
    for (const std::string& out : c->outputs)
        c->options.channels = c->options.channels || lowerExtension(out) == ".exr";
    c->write.exposure = shot.lighting.exposure;
    c->write.backdrop = shot.lighting.backdrop;
    return c;
}

quor::render::FrameResult Composition::render() {
    quor::render::FrameResult frame;
    {
        quor::render::Renderer renderer(scene, options);
        frame = renderer.renderFrame();
    }
    if (labelled()) quor::render::drawLabels(frame, scene, labels);
    return frame;
}

void Composition::writeOutputs(const quor::render::FrameResult& frame) const {
    for (const std::string& out : outputs)
        quor::render::writeImage(out, frame, write);
}

} // namespace lookdev
