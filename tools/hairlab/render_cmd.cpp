// hairlab render: draws a scene of hair with the stand-in path tracer and writes it through
// OpenImageIO by the extension of -o. The default scene is the look-development sheet: one lock
// per material type under the same lights, oldest model first, each in the look that shows its
// character and labelled with it; a sweep is a contact sheet of one lock per value. Every
// instance starts from its registered defaults, as a host's editor creates a material.
// Everything the command could refuse is checked before rendering.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "harness/names.h"
#include "harness/presets.h"
#include "harness/shading_point.h"
#include "point_options.h"
#include "quor/params.h"
#include "render/render.h"

namespace hairlab {

namespace {

struct RenderArgs {
    std::string scene = "sheet";
    std::string type;
    std::vector<std::string> sets, sweeps;
    std::string preset;
    bool unchecked = false, unbound = false, defaults = false, quiet = false;
    std::string width = "640", height = "360", res, spp = "16", threads = "0", seed = "1";
    std::vector<std::string> outputs;
    std::string strands, strandColor, strandTransparency, exposure = "1";
    std::string groom, groomSeed = "7", lock = "straight", env;
    std::string orbit = "0", elevation = "0", zoom = "1";
    bool backdrop = false;
};

// Caps that keep one job within minutes and memory of a workstation.
constexpr int kMaxSide = 8192;
constexpr std::uint64_t kMaxPixels = 4096ull * 4096; // 16.7 Mpx
constexpr int kMaxSpp = 4096;
constexpr std::uint64_t kMaxCameraSamples = 1ull << 30; // width × height × spp
constexpr int kMaxStrands = 200000;
constexpr int kMaxThreads = 256;
constexpr int kMaxLocks = 64; // of a sweep

// One lock of the picture: its material and the words under it.
struct Lock {
    std::string type;
    harness::ParamSets sets;
    std::string label;
    bool swept = false;
};

// One axis of a sweep: the parameter sets of each value and their labels.
struct Sweep {
    std::string name;
    std::vector<harness::ParamSets> sets;
    std::vector<std::string> labels;
};

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

// "NAME=A:B:N" (N values from A to B) or "preset=NAME,NAME,..." ("preset=all": every preset).
Sweep parseSweep(const std::string& text) {
    std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
        throw UsageError("--sweep: '" + text + "' is not NAME=FROM:TO:COUNT or preset=NAME,...");
    Sweep sw;
    sw.name = text.substr(0, eq);
    const std::string spec = text.substr(eq + 1);
    if (sw.name == "preset") {
        std::vector<std::string> names = spec == "all" ? harness::presetNames() : harness::splitCommas(spec);
        for (const std::string& n : names) {
            const harness::Preset* p = harness::findPreset(n);
            if (!p) {
                std::string near = harness::nearestName(n, harness::presetNames());
                throw UsageError("--sweep: unknown preset '" + n + "'" +
                                 (near.empty() ? "" : " (did you mean " + near + "?)") +
                                 "; 'hairlab presets' lists them");
            }
            sw.sets.push_back(p->sets);
            sw.labels.push_back(p->name);
        }
        return sw;
    }
    std::vector<std::string> parts;
    for (std::size_t at = 0;;) {
        std::size_t colon = spec.find(':', at);
        parts.push_back(spec.substr(at, colon == std::string::npos ? std::string::npos : colon - at));
        if (colon == std::string::npos) break;
        at = colon + 1;
    }
    if (parts.size() != 3)
        throw UsageError("--sweep: '" + text + "' is not NAME=FROM:TO:COUNT or preset=NAME,...");
    double from = parseFloat("--sweep " + sw.name, parts[0]), to = parseFloat("--sweep " + sw.name, parts[1]);
    std::uint64_t count = parts[2].empty() ? 0 : parseUnsigned("--sweep " + sw.name, parts[2]);
    if (count < 1 || count > std::uint64_t(kMaxLocks))
        throw UsageError("--sweep " + sw.name + ": the count '" + parts[2] + "' is outside [1, " +
                         std::to_string(kMaxLocks) + "]");
    for (std::uint64_t i = 0; i < count; ++i) {
        double v = count == 1 || i == 0 ? from
                   : i + 1 == count     ? to
                                        : from + (to - from) * double(i) / double(count - 1);
        // The value as the exact float in its shortest round-trip text; only the label rounds.
        char exact[32];
        auto [end, ec] = std::to_chars(exact, exact + sizeof exact, static_cast<float>(v));
        sw.sets.push_back({{sw.name, std::string(exact, ec == std::errc() ? end : exact)}});
        sw.labels.push_back(sw.name + " " + number(v));
    }
    return sw;
}

// Parameter names of a type as registered.
std::vector<std::string> parameterNames(harness::Library& library, const std::string& type) {
    std::vector<std::string> names;
    const quor::QuorParameterListDesc* d = library.host().params(library.type(type));
    for (int i = 0; d && i < d->count(); ++i)
        names.push_back(d->param(i).name);
    return names;
}

// Refuses a parameter name none of the types has, suggesting the nearest one there is.
void checkName(const std::string& option, const std::string& name, const std::vector<std::string>& known,
               const std::string& types) {
    if (std::find(known.begin(), known.end(), name) != known.end()) return;
    std::string near = harness::nearestName(name, known);
    throw UsageError(option + ": unknown parameter '" + name + "' for " + types +
                     (near.empty() ? "" : " (did you mean " + near + "?)"));
}

int bounded(const std::string& option, const std::string& text, int lo, int hi) {
    if (text.empty()) throw UsageError(option + ": empty value");
    std::uint64_t v = parseUnsigned(option, text);
    if (v < std::uint64_t(lo) || v > std::uint64_t(hi))
        throw UsageError(option + ": '" + text + "' is outside [" + std::to_string(lo) + ", " +
                         std::to_string(hi) + "]");
    return static_cast<int>(v);
}

std::string lowerExtension(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Refuses an output the render could not write, before any rendering: an empty path, a value
// that is an option, an unknown extension, a folder that is missing or not writable, a path
// that names a folder. The system's reason goes into the message.
void checkOutput(const std::string& path, const std::vector<std::string>& extensions) {
    if (path.empty()) throw UsageError("-o: empty path");
    if (path[0] == '-')
        throw UsageError("-o: '" + path + "' looks like an option; write ./" + path + " for such a file");
    std::string ext = lowerExtension(path);
    if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) {
        std::string known;
        for (const std::string& e : extensions)
            known += (known.empty() ? "" : ", ") + e;
        throw UsageError("-o: '" + path + "' has " +
                         (ext.empty() ? "no extension" : "the unknown extension " + ext) +
                         " (known: " + known + ")");
    }
    std::size_t slash = path.find_last_of('/');
    if (path.size() - (slash == std::string::npos ? 0 : slash + 1) == ext.size())
        throw UsageError("-o: '" + path + "' has no file name before the extension " + ext);
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    auto refuse = [&](const std::string& what, int error) {
        throw UsageError("-o: cannot write '" + path + "': " + what + std::strerror(error));
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

} // namespace

Action addRenderCommand(CLI::App& app) {
    auto* cmd =
        app.add_subcommand("render", "Render hair with the stand-in path tracer (EXR, PNG, TIFF or JPEG)");
    auto a = std::make_shared<RenderArgs>();
    cmd->add_option("--scene", a->scene,
                    "sheet (one labelled lock per material type in its curated look, default), sweep (a "
                    "labelled lock per --sweep value), swatch (one lock), ball (curly hair ball), groom (the "
                    "strands of --groom), furnace (hair ball in a uniform white environment)");
    cmd->add_option("--type", a->type,
                    "Material type of sweep, swatch, ball, groom and furnace; default BRDFHair4");
    cmd->add_option("--set", a->sets,
                    "Parameter value NAME=VALUE, repeatable (as in hairlab eval); on a sheet or sweep it "
                    "applies to every lock whose type has the parameter")
        ->allow_extra_args(false);
    cmd->add_option("--sweep", a->sweeps,
                    "With --scene sweep: NAME=FROM:TO:COUNT (COUNT values, one lock each) or "
                    "preset=NAME,NAME,... (or preset=all); a second --sweep makes the rows of a grid")
        ->allow_extra_args(false);
    cmd->add_option("--preset", a->preset,
                    "A BRDFHair4 colour preset (see hairlab presets) applied to every BRDFHair4 lock; --set "
                    "wins over it");
    cmd->add_flag("--defaults", a->defaults,
                  "Sheet: every material with its registered defaults instead of its curated look");
    cmd->add_flag("--unbound", a->unbound,
                  "Leave texture parameters unconnected unless --set binds them (a bare instance) instead "
                  "of binding their registered defaults");
    cmd->add_flag("--unchecked", a->unchecked,
                  "Accept parameter values outside their minValue/maxValue hints");
    cmd->add_option("--width", a->width, "Image width in pixels, 1 to 8192; default 640");
    cmd->add_option("--height", a->height, "Image height in pixels, 1 to 8192; default 360");
    cmd->add_option("--res", a->res, "Image size WIDTHxHEIGHT, in place of --width and --height");
    cmd->add_flag("-q,--quiet", a->quiet, "No progress bar and no legend; only the summary line");
    cmd->add_option("--spp", a->spp, "Samples per pixel, 1 to 4096; default 16");
    cmd->add_option(
        "--threads", a->threads,
        "Render threads, 0 for all cores, at most 256; never more than the cores there are; default 0");
    cmd->add_option("--seed", a->seed, "Seed of the sample points; default 1");
    cmd->add_option(
        "-o,--output", a->outputs,
        "Output file, repeatable (one render, several files): .exr (linear half RGBA, the backdrop "
        "and every filled render channel as named layers), .png/.tif (tone-mapped sRGB, alpha = hair "
        "coverage), .jpg (over the environment); default hair.png");
    cmd->add_option("--strands", a->strands,
                    "Strands per lock or ball, 1 to 200000; default 10000 (ball and furnace 20000)");
    cmd->add_option("--groom", a->groom, "A .hair file for --scene groom (framed automatically)");
    cmd->add_option("--groom-seed", a->groomSeed,
                    "Seed of the procedural groom, apart from --seed; default 7");
    cmd->add_option("--lock", a->lock, "Lock of sheet, sweep and swatch: straight (default) or wavy");
    cmd->add_option("--strand-color", a->strandColor,
                    "Strand record colour r,g,b; default 0.32,0.2,0.11 (furnace 1,1,1)");
    cmd->add_option("--strand-transparency", a->strandTransparency,
                    "Strand record transparency r,g,b; default 0,0,0");
    cmd->add_option(
        "--camera-orbit", a->orbit,
        "Degrees the camera turns about the subject's vertical axis, -360 to 360; default 0 (front)");
    cmd->add_option("--camera-elevation", a->elevation,
                    "Degrees the camera rises above the subject's centre, -89 to 89; default 0");
    cmd->add_option("--camera-zoom", a->zoom,
                    "Zoom, 0.1 to 100 (2 shows half the width); default 1 (all fits)");
    cmd->add_option(
        "--env", a->env,
        "HDR latitude-longitude environment (.exr or .hdr, y up), importance-sampled, in place of "
        "the studio sky; not for the furnace");
    cmd->add_flag("--backdrop", a->backdrop,
                  "PNG/TIFF: composite over the environment and write no alpha (an opaque picture)");
    cmd->add_option("--exposure", a->exposure, "Exposure applied before tone mapping; default 1");
    cmd->footer(
        "Caps: width × height at most 16,777,216 pixels, width × height × spp at most 1,073,741,824 camera "
        "samples, 64 locks in a sweep. Output paths are checked before rendering. A progress bar with the "
        "time left goes to stderr when it is a terminal, then a legend of the locks (unless --quiet); "
        "stdout gets one line: output files, image size, samples per pixel, threads used, seconds, shading "
        "points per second. The same seed gives the same image for any thread count.");

    return [a, cmd](Session& s) {
        const std::string& sc = a->scene;
        const char* const scenes[] = {"sheet", "sweep", "swatch", "ball", "groom", "furnace"};
        if (std::find(std::begin(scenes), std::end(scenes), sc) == std::end(scenes))
            throw UsageError("--scene: '" + sc +
                             "' is not one of sheet, sweep, swatch, ball, groom, furnace");
        if (sc == "sheet" && !a->type.empty())
            throw UsageError("--type: --scene sheet shows every type; use --scene sweep or swatch for one");
        if ((sc == "sweep") != !a->sweeps.empty())
            throw UsageError(sc == "sweep" ? "--scene sweep needs --sweep NAME=FROM:TO:COUNT"
                                           : "--sweep goes with --scene sweep");
        if (a->sweeps.size() > 2) throw UsageError("--sweep: at most two (columns and rows)");
        if (a->defaults && sc != "sheet") throw UsageError("--defaults goes with --scene sheet");
        const std::pair<const char*, const std::string*> given[] = {
            {"--type", &a->type},
            {"--strands", &a->strands},
            {"--strand-color", &a->strandColor},
            {"--groom", &a->groom},
            {"--env", &a->env},
            {"--preset", &a->preset},
            {"--res", &a->res},
            {"--strand-transparency", &a->strandTransparency}};
        for (auto& [name, value] : given)
            if (cmd->count(name) && value->empty()) throw UsageError(std::string(name) + ": empty value");
        if ((sc == "groom") != !a->groom.empty())
            throw UsageError(sc == "groom" ? "--scene groom needs --groom FILE.hair"
                                           : "--groom FILE.hair goes with --scene groom");
        if (sc == "furnace" && !a->env.empty())
            throw UsageError("--env: the furnace stays a uniform white environment");
        if (a->lock != "straight" && a->lock != "wavy")
            throw UsageError("--lock: '" + a->lock + "' is not straight or wavy");
        quor::render::RenderOptions ro;
        if (!a->res.empty()) {
            if (cmd->count("--width") || cmd->count("--height"))
                throw UsageError("--res: give either --res WIDTHxHEIGHT or --width and --height");
            std::size_t x = a->res.find_first_of("xX");
            if (x == std::string::npos || x == 0 || x + 1 == a->res.size())
                throw UsageError("--res: '" + a->res + "' is not WIDTHxHEIGHT, such as 1920x1080");
            a->width = a->res.substr(0, x);
            a->height = a->res.substr(x + 1);
        }
        const char* widthName = a->res.empty() ? "--width" : "--res width";
        const char* heightName = a->res.empty() ? "--height" : "--res height";
        ro.width = bounded(widthName, a->width, 1, kMaxSide);
        ro.height = bounded(heightName, a->height, 1, kMaxSide);
        ro.spp = bounded("--spp", a->spp, 1, kMaxSpp);
        ro.threads = bounded("--threads", a->threads, 0, kMaxThreads);
        std::uint64_t pixels = std::uint64_t(ro.width) * ro.height;
        if (pixels > kMaxPixels)
            throw UsageError("--width × --height: " + std::to_string(pixels) + " pixels is more than " +
                             std::to_string(kMaxPixels));
        if (pixels * ro.spp > kMaxCameraSamples)
            throw UsageError("--width × --height × --spp: " + std::to_string(pixels * ro.spp) +
                             " camera samples is more than " + std::to_string(kMaxCameraSamples));
        if (a->outputs.empty()) a->outputs.push_back("hair.png");
        for (const std::string& out : a->outputs) {
            checkOutput(out, quor::render::imageExtensions());
            ro.channels = ro.channels || lowerExtension(out) == ".exr";
        }
        ro.seed = parseUnsigned("--seed", a->seed);
        quor::render::WriteOptions wo;
        wo.exposure = parseFloat("--exposure", a->exposure);
        wo.backdrop = a->backdrop;
        if (!(wo.exposure > 0)) throw UsageError("--exposure: '" + a->exposure + "' is not positive");
        quor::render::CameraView view;
        view.azimuth = parseFloat("--camera-orbit", a->orbit);
        view.elevation = parseFloat("--camera-elevation", a->elevation);
        view.zoom = parseFloat("--camera-zoom", a->zoom);
        if (std::fabs(view.azimuth) > 360)
            throw UsageError("--camera-orbit: '" + a->orbit + "' is outside [-360, 360]");
        if (std::fabs(view.elevation) > 89)
            throw UsageError("--camera-elevation: '" + a->elevation + "' is outside [-89, 89]");
        if (!(view.zoom >= 0.1f && view.zoom <= 100))
            throw UsageError("--camera-zoom: '" + a->zoom + "' is outside [0.1, 100]");

        quor::render::HairStyle style;
        style.seed = parseUnsigned("--groom-seed", a->groomSeed);
        style.wavy = a->lock == "wavy";
        if (sc == "ball" || sc == "furnace") style.strands = 20000;
        if (sc == "furnace") style.color = {1, 1, 1};
        if (!a->strands.empty()) style.strands = bounded("--strands", a->strands, 1, kMaxStrands);
        if (!a->strandColor.empty()) {
            Rgb c = parseRgb("--strand-color", a->strandColor);
            style.color = {c.r, c.g, c.b};
        }
        if (!a->strandTransparency.empty()) {
            Rgb c = parseRgb("--strand-transparency", a->strandTransparency);
            style.transparency = {c.r, c.g, c.b};
        }

        // The locks: their types, parameter sets and labels, all checked before anything renders.
        harness::ParamSets userSets;
        for (const std::string& set : a->sets) {
            std::size_t eq = set.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError("--set: '" + set + "' is not NAME=VALUE");
            userSets.emplace_back(set.substr(0, eq), set.substr(eq + 1));
        }
        std::vector<std::string> types;
        if (sc == "sheet") {
            types = harness::sheetTypes(s.library);
        } else {
            std::string type = a->type.empty() ? "BRDFHair4" : a->type;
            try {
                s.library.type(type);
            } catch (const UsageError& e) {
                std::string near = harness::nearestName(type, s.library.typeNames());
                throw UsageError(std::string("--type: ") + e.what() +
                                 (near.empty() ? "" : "; did you mean " + near + "?"));
            }
            types = {type};
        }
        std::vector<std::string> known; // every parameter name of the types shown
        std::string typeList;
        for (const std::string& t : types) {
            for (const std::string& n : parameterNames(s.library, t))
                if (std::find(known.begin(), known.end(), n) == known.end()) known.push_back(n);
            typeList += (typeList.empty() ? "" : ", ") + t;
        }
        for (auto& [name, value] : userSets)
            checkName("--set", name, known, typeList);
        const harness::Preset* preset = nullptr;
        if (!a->preset.empty()) {
            preset = harness::findPreset(a->preset);
            if (!preset) {
                std::string near = harness::nearestName(a->preset, harness::presetNames());
                throw UsageError("--preset: unknown preset '" + a->preset + "'" +
                                 (near.empty() ? "" : " (did you mean " + near + "?)") +
                                 "; 'hairlab presets' lists them");
            }
            if (std::find(types.begin(), types.end(), harness::kPresetType) == types.end())
                throw UsageError(std::string("--preset: the presets are for ") + harness::kPresetType +
                                 ", not " + typeList);
        }
        std::vector<Sweep> sweeps;
        for (const std::string& text : a->sweeps) {
            sweeps.push_back(parseSweep(text));
            const std::string& name = sweeps.back().name;
            if (name == "preset" && types[0] != harness::kPresetType)
                throw UsageError(std::string("--sweep: the presets are for ") + harness::kPresetType +
                                 ", not " + types[0]);
            if (name != "preset") checkName("--sweep", name, known, typeList);
            for (auto& [setName, value] : userSets)
                if (setName == name)
                    throw UsageError("--set " + name + ": the parameter is swept by --sweep");
        }

        std::vector<Lock> locks;
        int columns = 1;
        auto base = [&](const std::string& type) {
            Lock lock;
            lock.type = type;
            if (!a->unbound) lock.sets = harness::registeredDefaults(s.library, type);
            return lock;
        };
        auto finish = [&](Lock& lock, const harness::ParamSets& swept) {
            if (preset && lock.type == harness::kPresetType)
                lock.sets.insert(lock.sets.end(), preset->sets.begin(), preset->sets.end());
            lock.sets.insert(lock.sets.end(), swept.begin(), swept.end());
            std::vector<std::string> own = parameterNames(s.library, lock.type);
            for (auto& set : userSets) // --set last: it wins over defaults, looks and presets
                if (std::find(own.begin(), own.end(), set.first) != own.end()) lock.sets.push_back(set);
            lock.swept = !swept.empty();
            locks.push_back(std::move(lock));
        };
        if (sc == "sheet") {
            for (const std::string& t : types) {
                Lock lock = base(t);
                const harness::Preset* look = a->defaults ? nullptr : harness::sheetLook(t);
                if (look) lock.sets.insert(lock.sets.end(), look->sets.begin(), look->sets.end());
                lock.label = t + (look ? "\n" + look->name : a->defaults ? "\nregistered defaults" : "");
                if (preset && t == harness::kPresetType) lock.label += ", " + preset->name;
                finish(lock, {});
            }
            columns = static_cast<int>(locks.size());
        } else if (sc == "sweep") {
            const Sweep& across = sweeps[0];
            const Sweep down = sweeps.size() > 1 ? sweeps[1] : Sweep{"", {{}}, {""}};
            if (across.sets.size() * down.sets.size() > std::size_t(kMaxLocks))
                throw UsageError("--sweep: " + std::to_string(across.sets.size() * down.sets.size()) +
                                 " locks is more than " + std::to_string(kMaxLocks));
            for (std::size_t r = 0; r < down.sets.size(); ++r) {
                for (std::size_t c = 0; c < across.sets.size(); ++c) {
                    Lock lock = base(types[0]);
                    harness::ParamSets swept = across.sets[c];
                    swept.insert(swept.end(), down.sets[r].begin(), down.sets[r].end());
                    lock.label = across.labels[c] + (down.labels[r].empty() ? "" : ", " + down.labels[r]);
                    finish(lock, swept);
                }
            }
            const int n = static_cast<int>(locks.size());
            // The second sweep makes rows; one sweep is laid out in the columns that give the
            // biggest locks for the picture's aspect (a lock's cell is 1.25 wide, 3.1 tall).
            columns = static_cast<int>(across.sets.size());
            if (sweeps.size() == 1) {
                float best = 0;
                for (int c = 1; c <= n; ++c) {
                    int rows = (n + c - 1) / c;
                    float size = std::min(float(ro.width) / (c * 1.25f), float(ro.height) / (rows * 3.1f));
                    if (size > best) best = size, columns = c;
                }
            }
        } else {
            Lock lock = base(types[0]);
            finish(lock, {});
        }

        std::vector<std::unique_ptr<harness::Instance>> instances;
        std::vector<quor::PluginBase*> row;
        std::vector<std::string> labels;
        for (const Lock& lock : locks) {
            try {
                instances.push_back(
                    std::make_unique<harness::Instance>(s.library, lock.type, lock.sets, a->unchecked));
            } catch (const UsageError& e) {
                std::string what = e.what(); // a swept value is named by the option that gave it
                for (const Sweep& sw : sweeps)
                    if (lock.swept && what.rfind("--set " + sw.name + ":", 0) == 0)
                        what = "--sweep " + what.substr(6);
                throw UsageError(what);
            }
            row.push_back(instances.back()->base());
            labels.push_back(lock.label);
        }
        const bool labelled = sc == "sheet" || sc == "sweep";
        if (labelled) {
            try {
                quor::render::checkLabelFont();
            } catch (const std::runtime_error& e) {
                throw UsageError(e.what());
            }
        }
        std::vector<quor::render::Strand> groom;
        try {
            if (sc == "groom") groom = quor::render::readHairFile(a->groom);
            if (sc == "groom" && groom.empty())
                throw UsageError("--groom: '" + a->groom + "' has no strand of two points or more");
        } catch (const quor::render::HairFileError& e) {
            throw UsageError(e.what());
        }
        quor::render::Environment env;
        if (!a->env.empty()) {
            try {
                env = quor::render::Environment::load(a->env);
            } catch (const std::runtime_error& e) {
                throw UsageError(e.what());
            }
        }

        quor::render::Scene scene;
        if (labelled) quor::render::buildContactSheet(scene, row, columns, style);
        if (sc == "swatch") quor::render::buildSwatch(scene, row[0], style);
        if (sc == "ball") quor::render::buildBall(scene, row[0], style);
        if (sc == "groom") quor::render::buildGroom(scene, row[0], groom);
        if (sc == "furnace") quor::render::buildFurnace(scene, row[0], style);
        if (!a->env.empty()) scene.env = std::move(env);
        quor::render::frame(scene, ro.width, ro.height, view);
        // A progress bar only where someone watches it.
        if (!a->quiet && &s.err == &std::cerr && isatty(STDERR_FILENO)) ro.progress = &s.err;

        quor::render::FrameResult frame;
        {
            quor::render::Renderer renderer(scene, ro);
            frame = renderer.renderFrame();
        }
        if (labelled) quor::render::drawLabels(frame, scene, labels);
        for (const std::string& out : a->outputs)
            quor::render::writeImage(out, frame, wo);
        if (!a->quiet) {
            std::string legend;
            for (std::string l : labels) {
                std::replace(l.begin(), l.end(), '\n', ' ');
                legend += (legend.empty() ? "" : " | ") + (l.empty() ? locks[0].type : l);
            }
            const std::size_t n = locks.size();
            s.err << (n == 1 ? "1 lock: "
                             : std::to_string(n) + " locks" +
                                   (labelled ? ", left to right and top to bottom: " : ": "))
                  << legend << "\n";
        }
        int threads = frame.threads;
        double rate = frame.seconds > 0 ? frame.shadingPoints / frame.seconds : 0;
        double perCore = frame.cpuSeconds > 0 ? frame.shadingPoints / frame.cpuSeconds : 0;
        std::string files;
        for (const std::string& out : a->outputs)
            files += (files.empty() ? "" : ", ") + printable(out);
        char line[256];
        std::snprintf(line, sizeof line,
                      ": %dx%d, %d spp, %d thread%s, %.2f s, %.0f shading points/s (%.0f per CPU-second)",
                      ro.width, ro.height, ro.spp, threads, threads == 1 ? "" : "s", frame.seconds, rate,
                      perCore);
        s.out << files << line << "\n";
        return 0;
    };
}

} // namespace hairlab
