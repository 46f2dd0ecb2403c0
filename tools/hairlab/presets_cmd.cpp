// hairlab presets: the colour presets of the melanin model with the values each one sets, for
// render --preset and --sweep preset=...
#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "lookdev/looks.h"
#include "point_options.h"

namespace hairlab {

Action addPresetsCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("presets", std::string("List the hair colour presets of ") +
                                                  lookdev::kPresetType + " and their values");
    auto json = std::make_shared<bool>(false);
    cmd->add_flag("--json", *json, "Machine-readable output");
    return [json](Session& s) {
        const auto& presets = lookdev::colorPresets();
        if (*json) {
            Json list = Json::array();
            for (const lookdev::Preset& p : presets) {
                Json sets = Json::object();
                for (auto& [name, value] : p.sets)
                    sets[name] = value;
                list.push_back({{"name", p.name}, {"description", p.description}, {"sets", sets}});
            }
            s.out << Json{{"type", lookdev::kPresetType}, {"presets", list}}.dump(2) << "\n";
            return 0;
        }
        s.out << presets.size() << " presets for " << lookdev::kPresetType
              << " (render --preset NAME; --set wins over a preset):\n";
        for (const lookdev::Preset& p : presets) {
            std::string values;
            for (auto& [name, value] : p.sets)
                values += (values.empty() ? "" : " ") + name + "=" + value;
            char head[32];
            std::snprintf(head, sizeof head, "  %-12s ", p.name.c_str());
            s.out << head << values << "  (" << p.description << ")\n";
        }
        return 0;
    };
}

} // namespace hairlab
