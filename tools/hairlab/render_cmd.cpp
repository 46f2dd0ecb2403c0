// hairlab render: draws a scene of hair with the stand-in path tracer and writes it through
// OpenImageIO by the extension of -o. The default scene is the look-development sheet: one lock
// of hair per material type (default parameters, same lights), left to right in the order of
// their type identifiers. Everything the command could refuse is checked before rendering.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
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
#include "harness/shading_point.h"
#include "point_options.h"
#include "quor/params.h"
#include "render/render.h"

namespace hairlab {

namespace {

struct RenderArgs {
    std::string scene = "sheet";
    std::string type;
    std::vector<std::string> sets;
    bool unchecked = false;
    std::string width = "640", height = "360", spp = "16", threads = "0", seed = "1";
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
    int fd = open(path.c_str(), existed ? O_WRONLY : (O_WRONLY | O_CREAT | O_EXCL), 0644);
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
                    "sheet (one lock per material type, default), swatch (one lock), ball (curly hair ball), "
                    "groom (the strands of --groom), furnace (hair ball in a uniform white environment)");
    cmd->add_option("--type", a->type, "Material type of swatch, ball, groom and furnace; default BRDFHair4");
    cmd->add_option("--set", a->sets,
                    "Parameter value NAME=VALUE for --type, repeatable (as in hairlab eval)")
        ->allow_extra_args(false);
    cmd->add_flag("--unchecked", a->unchecked,
                  "Accept parameter values outside their minValue/maxValue hints");
    cmd->add_option("--width", a->width, "Image width in pixels, 1 to 8192; default 640");
    cmd->add_option("--height", a->height, "Image height in pixels, 1 to 8192; default 360");
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
    cmd->add_option("--lock", a->lock, "Lock of sheet and swatch: straight (default) or wavy");
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
        "Caps: width × height at most 16,777,216 pixels and width × height × spp at most 1,073,741,824 "
        "camera "
        "samples. Output paths are checked before rendering. Prints one line: output files, image size, "
        "samples per pixel, threads used, seconds, shading points per second. The same seed gives the same "
        "image for any thread count.");

    return [a, cmd](Session& s) {
        const std::string& sc = a->scene;
        if (sc != "sheet" && sc != "swatch" && sc != "ball" && sc != "furnace" && sc != "groom")
            throw UsageError("--scene: '" + sc + "' is not one of sheet, swatch, ball, groom, furnace");
        if (sc == "sheet" && (!a->type.empty() || !a->sets.empty()))
            throw UsageError(
                "--scene sheet shows every type with its defaults; use --scene swatch with --type and --set");
        const std::pair<const char*, const std::string*> given[] = {
            {"--type", &a->type},
            {"--strands", &a->strands},
            {"--strand-color", &a->strandColor},
            {"--groom", &a->groom},
            {"--env", &a->env},
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
        ro.width = bounded("--width", a->width, 1, kMaxSide);
        ro.height = bounded("--height", a->height, 1, kMaxSide);
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

        std::vector<std::unique_ptr<harness::Instance>> instances;
        quor::render::Scene scene;
        std::ostringstream legend;
        if (sc == "sheet") {
            std::vector<quor::PluginDesc*> descs = harness::enumerateTypes(s.library.lib());
            std::stable_sort(descs.begin(), descs.end(), [](quor::PluginDesc* x, quor::PluginDesc* y) {
                return x->getPluginTypeId() < y->getPluginTypeId();
            });
            std::vector<quor::PluginBase*> row;
            legend << "left to right:";
            for (quor::PluginDesc* d : descs) {
                instances.push_back(std::make_unique<harness::Instance>(s.library, d->getName()));
                row.push_back(instances.back()->base());
                legend << " " << d->getName();
            }
            quor::render::buildSheet(scene, row, style);
        } else {
            std::string type = a->type.empty() ? "BRDFHair4" : a->type;
            harness::ParamSets sets;
            for (const std::string& set : a->sets) {
                std::size_t eq = set.find('=');
                if (eq == std::string::npos || eq == 0)
                    throw UsageError("--set: '" + set + "' is not NAME=VALUE");
                sets.emplace_back(set.substr(0, eq), set.substr(eq + 1));
            }
            try {
                s.library.type(type);
            } catch (const UsageError& e) {
                throw UsageError(std::string("--type: ") + e.what());
            }
            instances.push_back(std::make_unique<harness::Instance>(s.library, type, sets, a->unchecked));
            quor::PluginBase* inst = instances.back()->base();
            if (sc == "swatch") quor::render::buildSwatch(scene, inst, style);
            if (sc == "ball") quor::render::buildBall(scene, inst, style);
            if (sc == "groom") quor::render::buildGroom(scene, inst, groom);
            if (sc == "furnace") quor::render::buildFurnace(scene, inst, style);
            legend << type;
        }
        if (!a->env.empty()) scene.env = std::move(env);
        quor::render::frame(scene, ro.width, ro.height, view);
        // A progress bar only where someone watches it.
        if (&s.err == &std::cerr && isatty(STDERR_FILENO)) ro.progress = &s.err;

        quor::render::FrameResult frame;
        {
            quor::render::Renderer renderer(scene, ro);
            frame = renderer.renderFrame();
        }
        for (const std::string& out : a->outputs)
            quor::render::writeImage(out, frame, wo);
        int threads = frame.threads;
        double rate = frame.seconds > 0 ? frame.shadingPoints / frame.seconds : 0;
        double perCore = frame.cpuSeconds > 0 ? frame.shadingPoints / frame.cpuSeconds : 0;
        s.err << legend.str() << "\n";
        std::string files;
        for (const std::string& out : a->outputs)
            files += (files.empty() ? "" : ", ") + out;
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
