#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "commands.h"
#include "errors.h"
#include "harness/library.h"
#include "harness/names.h"

namespace hairlab {

// Messages echo what the user typed: control characters are written as escapes, so that every
// message stays one line and cannot drive the terminal.
std::string printable(const std::string& s) {
    std::string r;
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f) {
            r += c;
        } else if (c == '\n' || c == '\t' || c == '\r') {
            r += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", u);
            r += esc;
        }
    }
    return r;
}

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

// CLI11's messages, whose line breaks are layout, kept on one line.
std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// " (did you mean --spp?)" for the first unexpected argument of CLI11's message, from the options
// of the command (and the global ones).
std::string nearestOption(CLI::App& app, const std::string& command, const std::string& message) {
    std::size_t colon = message.rfind(": ");
    if (colon == std::string::npos) return "";
    std::istringstream words(message.substr(colon + 2));
    std::string first;
    while (words >> first && first[0] != '-') {
    }
    if (first.empty() || first[0] != '-') return "";
    first = first.substr(0, first.find('='));
    std::vector<std::string> names;
    auto collect = [&](CLI::App* a) {
        for (const CLI::Option* o : a->get_options()) {
            for (const std::string& n : o->get_lnames())
                names.push_back("--" + n);
            for (const std::string& n : o->get_snames())
                names.push_back("-" + n);
        }
    };
    collect(&app);
    for (CLI::App* sub : app.get_subcommands({}))
        if (sub->get_name() == command) collect(sub);
    return harness::didYouMean(first, names);
}

// One line on stderr: "hairlab[ COMMAND]: message".
int fail(std::ostream& err, const std::string& command, const std::string& message, int status) {
    err << printable("hairlab" + (command.empty() ? "" : " " + command) + ": " + message) << "\n";
    return status;
}

// Parses and runs one command; command is set to the command's name once it is known.
int runCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               std::string& command) {
    CLI::App app{
        "hairlab: load the hair-shading plug-in like a host and probe, describe or render its materials"};
    app.require_subcommand(1);
    app.fallthrough(); // --plugin may also follow the command
    app.footer("Run 'hairlab COMMAND --help' for the options of a command.");
    std::string plugin;
    CLI::Option* pluginOpt =
        app.add_option("--plugin", plugin,
                       "Plug-in library (default: $HAIRLAB_PLUGIN, else libbrdf_hair.so beside hairlab)");
    app.set_version_flag("--version", std::string("hairlab ") + HAIR_VERSION, "Print the version and exit");

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
    add(addServeCommand);

    command = commandWord(argc, argv);
    std::string known;
    bool isKnown = false;
    for (CLI::App* sub : app.get_subcommands({})) {
        known += (known.empty() ? "" : ", ") + sub->get_name();
        isKnown = isKnown || sub->get_name() == command;
    }
    if (!command.empty() && !isKnown) {
        std::string unknown = command;
        command.clear();
        return fail(err, "", "unknown command '" + unknown + "' (commands: " + known + ")", kUsageExit);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return 0;
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
        if (command.empty() && what.find("subcommand") != std::string::npos)
            return fail(err, "", "no command given (commands: " + known + "; see hairlab --help)",
                        kUsageExit);
        if (dynamic_cast<const CLI::ExtrasError*>(&e)) what += nearestOption(app, command, what);
        return fail(err, command, what, kUsageExit);
    } catch (const UsageError& e) { // a value an option's own parser refused
        return fail(err, command, e.what(), kUsageExit);
    }

    try {
        for (auto& [sub, action] : actions) {
            if (sub->parsed()) {
                if (!action)
                    throw UsageError("command '" + sub->get_name() + "' is not available in this build");
                if (pluginOpt->count() && plugin.empty()) throw UsageError("--plugin: the path is empty");
                Library library(harness::pluginPath(plugin, argv[0]));
                Session session{library, out, err};
                return action(session);
            }
        }
    } catch (const UsageError& e) {
        return fail(err, command, e.what(), kUsageExit);
    } catch (const std::exception& e) {
        return fail(err, command, std::string("error: ") + e.what(), 1);
    }
    return fail(err, "", "no command given (commands: " + known + "; see hairlab --help)", kUsageExit);
}

} // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    std::string command;
    int status = runCommand(argc, argv, out, err, command);
    // Output that did not reach its destination (a full disk, say) is a failure like any other.
    if (!out.flush()) return fail(err, command, "error: cannot write the output", status ? status : 1);
    return status;
}

} // namespace hairlab
