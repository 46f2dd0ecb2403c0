// hairlab render: draws a shot with the stand-in path tracer and writes it through OpenImageIO by
// the extension of -o. The command reads its options into a shot (or a look file's shot with the
// options over it), which the looks layer validates and composes; then it renders and writes.
// Everything the command could refuse is refused before rendering.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "lookdev/look_file.h"
#include "lookdev/shot.h"
#include "options.h"
#include "point_options.h"
#include "shot_options.h"

namespace hairlab {

void addShotOptions(CLI::App& cmd, RenderArgs& a) {
    lookdev::Shot& s = a.shot;
    addText(
        cmd, "--scene", a.scene,
        "sheet (one labelled lock per material type in its curated look), sweep (a labelled lock per --sweep "
        "value), swatch (one lock), ball (curly hair ball), groom (the strands of --groom), furnace (hair "
        "ball in a uniform white environment)");
    addText(cmd, "--type", a.type,
            "Material type of sweep, swatch, ball, groom and furnace; default BRDFHair4");
    cmd.add_option(
           "--set", a.sets,
           "Parameter value NAME=VALUE, repeatable (as in hairlab eval); on a sheet or sweep it applies to "
           "every lock whose type has the parameter")
        ->allow_extra_args(false);
    cmd.add_option(
           "--sweep", a.sweeps,
           "With --scene sweep: NAME=FROM:TO:COUNT (COUNT values, one lock each) or preset=NAME,NAME,... "
           "(or preset=all); a second --sweep makes the rows of a grid")
        ->allow_extra_args(false);
    addText(cmd, "--preset", a.preset,
            "A BRDFHair4 colour preset (see hairlab presets) applied to every BRDFHair4 lock; --set wins "
            "over it");
    cmd.add_flag("--defaults", a.defaults,
                 "Sheet: every material with its registered defaults instead of its curated look");
    cmd.add_flag(
        "--unbound", a.unbound,
        "Leave texture parameters unconnected unless --set binds them (a bare instance) instead of binding "
        "their registered defaults");
    cmd.add_flag("--unchecked", s.unchecked, "Accept parameter values outside their minValue/maxValue hints");
    addText(cmd, "--look", a.look,
            "A look file to render (see --save-look); options given with it override the file's");
    addText(cmd, "--save-look", a.saveLook,
            "Write the shot as a look file (JSON), every parameter of every material written out");
    addText(cmd, "--save-groom", a.saveGroom,
            "Write the strands the picture shows as a .hair file (points, thickness, colour and transparency "
            "per point), every lock in its place");
    addInteger(cmd, "--width", s.render.width, 1, lookdev::kMaxSide, "Image width in pixels");
    addInteger(cmd, "--height", s.render.height, 1, lookdev::kMaxSide, "Image height in pixels");
    addText(cmd, "--res", a.res, "Image size WIDTHxHEIGHT, in place of --width and --height");
    addOnOff(cmd, "--labels", s.render.labels,
             "on or off: a label under each lock of a sheet or sweep; default on");
    cmd.add_flag("-q,--quiet", a.quiet, "No progress bar and no legend; only the summary line");
    addInteger(cmd, "--spp", s.render.spp, 1, lookdev::kMaxSpp,
               "Samples per pixel: the most a pixel takes while adaptive sampling is on");
    addOnOff(cmd, "--adaptive", s.render.adaptive,
             "on or off: after 8, 12, 16, 24, ... samples a pixel stops once the relative error of its "
             "luminance is below --adaptive-threshold; off takes --spp samples everywhere. Default on");
    addNumber(cmd, "--adaptive-threshold", s.render.adaptiveThreshold, lookdev::kMinAdaptiveThreshold,
              lookdev::kMaxAdaptiveThreshold,
              "Relative error of a pixel's luminance at which adaptive sampling stops it; default 0.02");
    addInteger(cmd, "--threads", s.render.threads, 0, lookdev::kMaxThreads,
               "Render threads (0: all cores; never more than the cores there are)");
    addUnsigned(cmd, "--seed", s.render.seed, "Seed of the sample points");
    cmd.add_option(
        "-o,--output", s.render.outputs,
        "Output file, repeatable (one render, several files): .exr (linear half RGBA, the backdrop and "
        "every filled render channel as named layers), .png/.tif (tone-mapped sRGB, alpha = hair "
        "coverage), .jpg (over the environment); default hair.png");
    cmd.add_option_function<std::string>(
        "--strands",
        [&s](const std::string& t) {
            s.groom.strands =
                static_cast<int>(harness::parseUnsignedIn("--strands", t, 1, lookdev::kMaxStrands));
        },
        "Strands per lock or ball, 1 to " + std::to_string(lookdev::kMaxStrands) + "; default " +
            std::to_string(quor::render::kLockStrands) + " (ball and furnace " +
            std::to_string(quor::render::kBallStrands) + "); more make a larger groom, as densely packed");
    addText(cmd, "--groom", s.groom.file, "A .hair file for --scene groom (framed automatically)");
    addUnsigned(cmd, "--groom-seed", s.groom.seed, "Seed of the procedural groom, apart from --seed");
    addText(cmd, "--lock", a.lock, "Lock of sheet, sweep and swatch: straight or wavy");
    addColor(cmd, "--strand-color", s.groom.strandColor,
             "Strand record colour r,g,b: what --set NAME=strand and unconnected colour slots see (a --groom "
             "file's own colours win)",
             "0.32,0.2,0.11 (furnace 1,1,1)");
    addColor(cmd, "--strand-transparency", s.groom.strandTransparency, "Strand record transparency r,g,b",
             "0,0,0");
    addNumber(cmd, "--camera-orbit", s.camera.azimuth, -lookdev::kMaxOrbit, lookdev::kMaxOrbit,
              "Degrees the camera turns about the subject's vertical axis (0: front)");
    addNumber(cmd, "--camera-elevation", s.camera.elevation, -lookdev::kMaxElevation, lookdev::kMaxElevation,
              "Degrees the camera rises above the subject's centre");
    addNumber(cmd, "--camera-zoom", s.camera.zoom, lookdev::kMinZoom, lookdev::kMaxZoom,
              "Zoom (2 shows half the width; 1: all fits)");
    addText(
        cmd, "--env", s.lighting.environment,
        "HDR latitude-longitude environment (.exr or .hdr, y up), importance-sampled, in place of the studio "
        "sky; not for the furnace");
    cmd.add_option_function<std::string>(
        "--lights", [&s](const std::string& t) { s.lighting.lights = lookdev::parseLights("--lights", t); },
        "The studio lights: studio (key, rim and fill), none (the environment alone), or a list of key, rim "
        "and fill, each optionally NAME=FACTOR on its usual intensity (0 to 1000; a light left out is "
        "off), such as key=1.5,rim; default studio");
    addNumber(cmd, "--env-rotate", s.lighting.envRotate, -lookdev::kMaxEnvRotate, lookdev::kMaxEnvRotate,
              "Degrees the environment (map or studio sky) turns about the vertical axis");
    addNumber(cmd, "--env-intensity", s.lighting.envIntensity, 0, lookdev::kMaxLightFactor,
              "Factor on the environment's radiance (map or studio sky)");
    cmd.add_flag("--backdrop", s.lighting.backdrop,
                 "PNG/TIFF: composite over the environment and write no alpha (an opaque picture)");
    cmd.add_option_function<std::string>(
        "--exposure",
        [&s](const std::string& t) {
            s.lighting.exposure = parseFloat("--exposure", t);
            if (!(s.lighting.exposure > 0)) throw UsageError("--exposure: '" + t + "' is not positive");
        },
        "Factor on every output's pixels: EXR values are multiplied by it, PNG, TIFF and JPEG are "
        "tone-mapped "
        "after it; default 1");
    cmd.footer(
        "Caps: width × height at most 16,777,216 pixels, width × height × spp at most 1,073,741,824 camera "
        "samples, 64 locks in a sweep. Output paths are checked before rendering. A progress bar with the "
        "time left goes to stderr when it is a terminal, then a legend of the locks (unless --quiet); "
        "stdout gets one line: output files, image size, samples per pixel, threads used, seconds, shading "
        "points per second. The same seed gives the same image for any thread count.");
}

namespace {

// Options that a look file cannot take over: they choose the subject and its looks.
void refuseWithLook(const CLI::App& cmd) {
    for (const char* name : {"--scene", "--type", "--sweep", "--defaults", "--unbound"})
        if (cmd.count(name))
            throw UsageError(std::string(name) +
                             ": the look file sets the subject and its looks; edit the file "
                             "(or leave out --look) to change them");
}

} // namespace

lookdev::Shot makeShot(Library& library, RenderArgs& a, const CLI::App& cmd) {
    if (!a.res.empty()) {
        if (cmd.count("--width") || cmd.count("--height"))
            throw UsageError("--res: give either --res WIDTHxHEIGHT or --width and --height");
        std::size_t x = a.res.find_first_of("xX");
        if (x == std::string::npos || x == 0 || x + 1 == a.res.size())
            throw UsageError("--res: '" + a.res + "' is not WIDTHxHEIGHT, such as 1920x1080");
        a.shot.render.width = static_cast<int>(
            harness::parseUnsignedIn("--res width", a.res.substr(0, x), 1, lookdev::kMaxSide));
        a.shot.render.height = static_cast<int>(
            harness::parseUnsignedIn("--res height", a.res.substr(x + 1), 1, lookdev::kMaxSide));
    }
    if (a.lock != "straight" && a.lock != "wavy")
        throw UsageError("--lock: '" + a.lock + "' is not straight or wavy");
    a.shot.groom.wavy = a.lock == "wavy";
    harness::ParamSets sets = parseSets("--set", a.sets);
    lookdev::Shot shot = a.shot;
    if (!a.look.empty()) {
        refuseWithLook(cmd);
        shot = lookdev::loadShot(library, a.look, a.shot.unchecked);
        // What the command line gives wins over the file.
        auto over = [&](const char* name, auto& field, const auto& value) {
            if (cmd.count(name)) field = value;
        };
        const lookdev::Shot& o = a.shot;
        over("--width", shot.render.width, o.render.width);
        over("--height", shot.render.height, o.render.height);
        if (!a.res.empty()) shot.render.width = o.render.width, shot.render.height = o.render.height;
        over("--spp", shot.render.spp, o.render.spp);
        over("--threads", shot.render.threads, o.render.threads);
        over("--seed", shot.render.seed, o.render.seed);
        over("--output", shot.render.outputs, o.render.outputs);
        over("--labels", shot.render.labels, o.render.labels);
        over("--adaptive", shot.render.adaptive, o.render.adaptive);
        over("--adaptive-threshold", shot.render.adaptiveThreshold, o.render.adaptiveThreshold);
        over("--strands", shot.groom.strands, o.groom.strands);
        over("--groom", shot.groom.file, o.groom.file);
        over("--groom-seed", shot.groom.seed, o.groom.seed);
        over("--lock", shot.groom.wavy, o.groom.wavy);
        over("--strand-color", shot.groom.strandColor, o.groom.strandColor);
        over("--strand-transparency", shot.groom.strandTransparency, o.groom.strandTransparency);
        over("--camera-orbit", shot.camera.azimuth, o.camera.azimuth);
        over("--camera-elevation", shot.camera.elevation, o.camera.elevation);
        over("--camera-zoom", shot.camera.zoom, o.camera.zoom);
        over("--env", shot.lighting.environment, o.lighting.environment);
        over("--exposure", shot.lighting.exposure, o.lighting.exposure);
        over("--lights", shot.lighting.lights, o.lighting.lights);
        over("--env-rotate", shot.lighting.envRotate, o.lighting.envRotate);
        over("--env-intensity", shot.lighting.envIntensity, o.lighting.envIntensity);
        over("--backdrop", shot.lighting.backdrop, o.lighting.backdrop);
        shot.unchecked = shot.unchecked || o.unchecked;
    } else {
        auto subject = lookdev::subjectFromName(a.scene);
        if (!subject)
            throw UsageError("--scene: '" + a.scene +
                             "' is not one of sheet, sweep, swatch, ball, groom, furnace");
        shot.subject = *subject;
        if (shot.subject == lookdev::Subject::Sheet && !a.type.empty())
            throw UsageError("--type: --scene sheet shows every type; use --scene sweep or swatch for one");
        if (a.defaults && shot.subject != lookdev::Subject::Sheet)
            throw UsageError("--defaults goes with --scene sheet");
        for (const std::string& text : a.sweeps)
            shot.sweeps.push_back(lookdev::parseSweep(text));
        if (shot.subject == lookdev::Subject::Sheet) {
            shot.looks = lookdev::sheetLooks(library, !a.defaults);
        } else {
            lookdev::Look base;
            base.type = a.type.empty() ? "BRDFHair4" : a.type;
            try {
                library.type(base.type);
            } catch (const UsageError& e) {
                throw UsageError(std::string("--type: ") + e.what());
            }
            shot.looks = {base};
        }
        for (lookdev::Look& l : shot.looks)
            l.unbound = a.unbound;
    }
    lookdev::applyToLooks(library, shot, a.preset, sets);
    if (shot.subject == lookdev::Subject::Sweep && a.look.empty())
        shot.looks = lookdev::sweepLooks(shot.looks[0], shot.sweeps);
    return shot;
}

namespace {

// "N locks, left to right and top to bottom: A | B | ...", or "1 lock: TYPE".
std::string legend(const lookdev::Shot& shot, bool labelled) {
    std::string text;
    for (const lookdev::Look& l : shot.looks) {
        std::string label = l.label.empty() ? l.type : l.label;
        std::replace(label.begin(), label.end(), '\n', ' ');
        text += (text.empty() ? "" : " | ") + label;
    }
    const std::size_t n = shot.looks.size();
    if (n == 1) return "1 lock: " + text;
    return std::to_string(n) + " locks" + (labelled ? ", left to right and top to bottom: " : ": ") + text;
}

} // namespace

Action addRenderCommand(CLI::App& app) {
    auto* cmd =
        app.add_subcommand("render", "Render hair with the stand-in path tracer (EXR, PNG, TIFF or JPEG)");
    auto a = std::make_shared<RenderArgs>();
    addShotOptions(*cmd, *a);

    return [a, cmd](Session& s) {
        lookdev::Shot shot = makeShot(s.library, *a, *cmd);
        if (!a->saveGroom.empty()) {
            if (lookdev::lowerExtension(a->saveGroom) != ".hair")
                throw UsageError("--save-groom: '" + a->saveGroom + "' is not a .hair file");
            lookdev::checkWritable("--save-groom", a->saveGroom);
        }
        // A progress bar only where someone watches it; the scene build is its first stage.
        const bool watched = !a->quiet && &s.err == &std::cerr && isatty(STDERR_FILENO);
        if (watched) s.err << "building the scene ..." << std::flush;
        const auto buildStart = std::chrono::steady_clock::now();
        std::unique_ptr<lookdev::Composition> comp = lookdev::compose(s.library, shot);
        const double buildSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - buildStart).count();
        if (watched) {
            char line[96];
            std::snprintf(line, sizeof line, "\rbuilt the scene (%zu curve segments) in %.2f s\n",
                          comp->scene.segmentCount(), buildSeconds);
            s.err << line << std::flush;
        }
        if (!a->saveLook.empty()) lookdev::saveShot(s.library, shot, a->saveLook);
        if (!a->saveGroom.empty()) {
            std::vector<quor::render::Strand> strands;
            for (int g = 0; g < comp->scene.groupCount(); ++g) {
                std::vector<quor::render::Strand> group = comp->scene.groupStrands(g);
                std::move(group.begin(), group.end(), std::back_inserter(strands));
            }
            try {
                quor::render::writeHairFile(a->saveGroom, strands, "hairlab render");
            } catch (const std::runtime_error& e) {
                throw UsageError(std::string("--save-groom: ") + e.what());
            }
        }
        if (watched) comp->options.progress = &s.err;

        quor::render::FrameResult frame = comp->render();
        comp->writeOutputs(frame);
        if (!a->quiet) s.err << legend(shot, comp->labelled()) << "\n";

        std::string files;
        for (const std::string& out : comp->outputs)
            files += (files.empty() ? "" : ", ") + printable(out);
        const int threads = frame.threads;
        double rate = frame.seconds > 0 ? frame.shadingPoints / frame.seconds : 0;
        double perCore = frame.cpuSeconds > 0 ? frame.shadingPoints / frame.cpuSeconds : 0;
        char spp[64], line[320];
        if (comp->options.adaptive && comp->options.spp > quor::render::kFirstCheckpoint)
            std::snprintf(spp, sizeof spp, "%d spp at most, %.2f mean", comp->options.spp, frame.meanSamples);
        else
            std::snprintf(spp, sizeof spp, "%d spp", comp->options.spp);
        std::snprintf(
            line, sizeof line,
            ": %dx%d, %s, %d thread%s, build %.2f s, render %.2f s, %.0f shading points/s (%.0f per "
            "CPU-second)",
            comp->options.width, comp->options.height, spp, threads, threads == 1 ? "" : "s", buildSeconds,
            frame.seconds, rate, perCore);
        s.out << files << line << "\n";
        return 0;
    };
}

} // namespace hairlab
