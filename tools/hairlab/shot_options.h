// The shot options of hairlab render, shared by the commands that take a shot (render, serve).
#pragma once
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "harness/library.h"
#include "lookdev/shot.h"

namespace hairlab {

// The options as parsed: the shot's settings are parsed into it directly; what needs the loaded
// library (types, parameters) or another option (--res, --look) waits here.
struct RenderArgs {
    lookdev::Shot shot;
    std::string scene = "sheet", type, preset, res, lock = "straight", look, saveLook, saveGroom;
    std::vector<std::string> sets, sweeps;
    bool defaults = false, unbound = false, quiet = false;
};

// Declares the shot options on the command.
void addShotOptions(CLI::App& cmd, RenderArgs& a);
// The shot the options describe, over a look file's when one is given.
lookdev::Shot makeShot(harness::Library& library, RenderArgs& a, const CLI::App& cmd);

} // namespace hairlab
