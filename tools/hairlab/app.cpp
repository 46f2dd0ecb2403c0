#include <iostream>
#include <map>
#include <memory>

#include "commands.h"
#include "errors.h"
#include "loader.h"

namespace hairlab {

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"hairlab: load the hair-shading plug-in like a host and probe, describe or render its materials"};
    app.require_subcommand(1);
    std::string plugin;
    app.add_option("--plugin", plugin, "Plug-in library (default: $HAIRLAB_PLUGIN, else libbrdf_hair.so beside hairlab)");

    std::map<CLI::App*, Action> actions;
    auto add = [&](Action (*adder)(CLI::App&)) {
        std::size_t before = app.get_subcommands({}).size();
        Action a = adder(app);
        auto subs = app.get_subcommands({});
        if (subs.size() > before) actions[subs.back()] = std::move(a);
    };
    add(addListCommand);
    add(addEvalCommand);
    add(addSampleCommand);
    add(addFurnaceCommand);
    add(addGpuCommand);
    add(addRenderCommand);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp& e) {
        out << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            out << app.help();
            return 0;
        }
        err << "hairlab: " << e.what() << "\n";
        return kUsageExit;
    }

    try {
        for (auto& [sub, action] : actions) {
            if (sub->parsed()) {
                LoadedLibrary library(pluginPath(plugin, argv[0]));
                Session session{library, out, err};
                return action(session);
            }
        }
    } catch (const UsageError& e) {
        err << "hairlab: " << e.what() << "\n";
        return kUsageExit;
    }
    err << "hairlab: no command given\n";
    return kUsageExit;
}

} // namespace hairlab
