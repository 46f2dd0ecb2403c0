#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "commands.h"
#include "errors.h"
#include "harness/library.h"

namespace hairlab {

namespace {

// The first word that is neither an option nor the value of --plugin: the command.
std::string commandWord(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i] ? argv[i] : "";
        if (a == "--plugin") {
            ++i;
            continue;
        }
        if (!a.empty() && a[0] == '-') continue;
        return a;
    }
    return {};
}

// CLI11's messages, kept on one line.
std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

} // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"hairlab: load the hair-shading plug-in like a host and probe, describe or render its materials"};
    app.require_subcommand(1);
    app.fallthrough();  // --plugin may also follow the command
    app.footer("Run 'hairlab COMMAND --help' for the options of a command.");
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
    add(addPresetsCommand);

    std::string command = commandWord(argc, argv);
    std::string known;
    bool isKnown = false;
    for (CLI::App* sub : app.get_subcommands({})) {
        known += (known.empty() ? "" : ", ") + sub->get_name();
        isKnown = isKnown || sub->get_name() == command;
    }
    if (!command.empty() && !isKnown) {
        err << "hairlab: unknown command '" << command << "' (commands: " << known << ")\n";
        return kUsageExit;
    }

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
        std::string what = oneLine(e.what());
        if (command.empty() && what.find("subcommand") != std::string::npos) {
            err << "hairlab: no command given (commands: " << known << "; see hairlab --help)\n";
            return kUsageExit;
        }
        if (command.empty()) {
            err << "hairlab: " << what << "\n";
            return kUsageExit;
        }
        err << "hairlab " << command << ": " << what << "\n";
        return kUsageExit;
    }

    try {
        for (auto& [sub, action] : actions) {
            if (sub->parsed()) {
                if (!action) throw UsageError("command '" + sub->get_name() + "' is not available in this build");
                Library library(harness::pluginPath(plugin, argv[0]));
                Session session{library, out, err};
                return action(session);
            }
        }
    } catch (const UsageError& e) {
        err << "hairlab" << (command.empty() ? "" : " " + command) << ": " << oneLine(e.what()) << "\n";
        return kUsageExit;
    } catch (const std::exception& e) {
        err << "hairlab" << (command.empty() ? "" : " " + command) << ": error: " << oneLine(e.what()) << "\n";
        return 1;
    }
    err << "hairlab: no command given (commands: " << known << "; see hairlab --help)\n";
    return kUsageExit;
}

} // namespace hairlab
