// hairlab render: draws a scene of procedural hair with the stand-in path tracer and writes a
// PNG. The default scene is the look-development sheet: one lock of hair per material type
// (default parameters, same lights), left to right in the order of their type identifiers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
    std::string output = "hair.png";
    std::string strands, strandColor, strandTransparency, exposure = "1";
    bool channels = false;
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

// The file beside the picture for one render channel: hair.png -> hair.ch131.png.
std::string channelPath(const std::string& output, int alias) {
    std::string stem = output;
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".png") == 0) stem.resize(stem.size() - 4);
    return stem + ".ch" + std::to_string(alias) + ".png";
}

} // namespace

Action addRenderCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("render", "Render hair with the stand-in path tracer to a PNG");
    auto a = std::make_shared<RenderArgs>();
    cmd->add_option("--scene", a->scene,
                    "sheet (one lock per material type, default), swatch (one lock), ball (curly hair ball), "
                    "furnace (hair ball in a uniform white environment)");
    cmd->add_option("--type", a->type, "Material type of swatch, ball and furnace; default BRDFHair4");
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
    cmd->add_option("--seed", a->seed, "Seed of the random numbers; default 1");
    cmd->add_option("-o,--output", a->output, "Output PNG; default hair.png");
    cmd->add_option("--strands", a->strands,
                    "Strands per lock or ball, 1 to 200000; default 2500 (ball 4000)");
    cmd->add_option("--strand-color", a->strandColor,
                    "Strand record colour r,g,b; default 0.32,0.2,0.11 (furnace 1,1,1)");
    cmd->add_option("--strand-transparency", a->strandTransparency,
                    "Strand record transparency r,g,b; default 0,0,0");
    cmd->add_option("--exposure", a->exposure, "Exposure applied before sRGB encoding; default 1");
    cmd->add_flag(
        "--channels", a->channels,
        "Also write the render channels the materials fill, as FILE.chALIAS.png beside the picture");
    cmd->footer(
        "Caps: width × height at most 16,777,216 pixels and width × height × spp at most 1,073,741,824 "
        "camera "
        "samples. The output path is checked before rendering. Prints one line: output file, image size, "
        "samples "
        "per pixel, threads used, seconds, shading points per second. The same seed gives the same image for "
        "any thread count.");

    return [a, cmd](Session& s) {
        const std::string& sc = a->scene;
        if (sc != "sheet" && sc != "swatch" && sc != "ball" && sc != "furnace")
            throw UsageError("--scene: '" + sc + "' is not one of sheet, swatch, ball, furnace");
        if (sc == "sheet" && (!a->type.empty() || !a->sets.empty()))
            throw UsageError(
                "--scene sheet shows every type with its defaults; use --scene swatch with --type and --set");
        quor::render::RenderOptions ro;
        const std::pair<const char*, const std::string*> given[] = {
            {"--type", &a->type},
            {"--strands", &a->strands},
            {"--strand-color", &a->strandColor},
            {"--strand-transparency", &a->strandTransparency}};
        for (auto& [name, value] : given)
            if (cmd->count(name) && value->empty()) throw UsageError(std::string(name) + ": empty value");
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
        checkOutput(a->output, {".png"});
        ro.seed = parseUnsigned("--seed", a->seed);
        ro.channels = a->channels;
        ro.progress = &s.err;
        float exposure = parseFloat("--exposure", a->exposure);
        if (!(exposure > 0)) throw UsageError("--exposure: '" + a->exposure + "' is not positive");

        quor::render::HairStyle style;
        if (sc == "ball" || sc == "furnace") style.strands = 4000;
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
            if (sc == "furnace") quor::render::buildFurnace(scene, inst, style);
            legend << type;
        }

        quor::render::FrameResult frame;
        {
            quor::render::Renderer renderer(scene, ro);
            frame = renderer.renderFrame();
        }
        if (!quor::render::writePng(a->output, frame.image, exposure)) {
            s.err << "hairlab: cannot write '" << a->output << "'\n";
            return 1;
        }
        std::vector<std::string> written;
        for (auto& [alias, img] : frame.channels) {
            std::string path = channelPath(a->output, alias);
            if (!quor::render::writePng(path, img, exposure, alias == 131)) {
                s.err << "hairlab: cannot write '" << path << "'\n";
                return 1;
            }
            written.push_back(path);
        }
        int threads = frame.threads;
        double rate = frame.seconds > 0 ? frame.shadingPoints / frame.seconds : 0;
        double perCore = frame.cpuSeconds > 0 ? frame.shadingPoints / frame.cpuSeconds : 0;
        s.err << legend.str() << "\n";
        if (a->channels) {
            s.err << "channels:";
            if (written.empty()) s.err << " none written by these materials";
            for (auto& p : written)
                s.err << " " << p;
            s.err << "\n";
        }
        char line[256];
        std::snprintf(line, sizeof line,
                      "%s: %dx%d, %d spp, %d thread%s, %.2f s, %.0f shading points/s (%.0f per CPU-second)",
                      a->output.c_str(), ro.width, ro.height, ro.spp, threads, threads == 1 ? "" : "s",
                      frame.seconds, rate, perCore);
        s.out << line << "\n";
        return 0;
    };
}

} // namespace hairlab
