// The hairlab commands. Each command file adds its subcommand to the application; the
// action runs after parsing with the loaded plug-in library and returns the exit status.
#pragma once
#include <CLI/CLI.hpp>
#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>

#include "harness/library.h"

namespace hairlab {

using Library = harness::Library;

// What every command needs at run time.
struct Session {
    Library& library;
    std::ostream& out;
    std::ostream& err;
};

using Action = std::function<int(Session&)>;

// Each returns the action to run when its subcommand was chosen.
Action addListCommand(CLI::App& app);
Action addEvalCommand(CLI::App& app);
Action addSampleCommand(CLI::App& app);
Action addFurnaceCommand(CLI::App& app);
Action addGpuCommand(CLI::App& app);
Action addRenderCommand(CLI::App& app);
Action addPresetsCommand(CLI::App& app);

Action addServeCommand(CLI::App& app);

// The library and its types as `hairlab list --json` prints them.
nlohmann::json describeLibrary(Library& library);

// Runs hairlab with the given arguments; what main() does, callable from tests.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace hairlab
