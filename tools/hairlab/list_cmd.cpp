// hairlab list: the library and every type it registers, with its parameters.
#include <nlohmann/json.hpp>
#include <ostream>

#include "commands.h"
#include "harness/numbers.h"
#include "harness/shading_point.h"
#include "quor/params.h"

namespace hairlab {

namespace {

nlohmann::json defaultValue(const quor::ParamInfo& p) {
    const quor::Color& c = p.colorDefault;
    switch (p.kind) {
    case quor::ParamKind::Texture:
        return {harness::shortestDecimal(c.r), harness::shortestDecimal(c.g), harness::shortestDecimal(c.b),
                harness::shortestDecimal(c.a)};
    case quor::ParamKind::TextureRGB:
        return {harness::shortestDecimal(c.r), harness::shortestDecimal(c.g), harness::shortestDecimal(c.b)};
    case quor::ParamKind::TextureFloat:
    case quor::ParamKind::Float:
        return harness::shortestDecimal(p.floatDefault);
    case quor::ParamKind::Int:
        return p.intDefault;
    case quor::ParamKind::Bool:
        return p.intDefault != 0;
    }
    return nullptr;
}

nlohmann::json text(const char* s) { return s ? nlohmann::json(s) : nlohmann::json(nullptr); }

} // namespace

nlohmann::json describeLibrary(Library& library) {
    nlohmann::json j;
    j["library"] = {{"name", library.lib()->getLibName()},
                    {"description", library.lib()->getLibDescription()}};
    j["plugins"] = nlohmann::json::array();
    quor::QuorPluginHost& host = library.host();
    for (int i = 0; i < host.count(); ++i) {
        quor::PluginDesc* d = host.desc(i);
        nlohmann::json t = {
            {"name", d->getName()}, {"id", d->getPluginTypeId()}, {"description", text(d->getDescription())}};
        t["parameters"] = nlohmann::json::array();
        if (const quor::QuorParameterListDesc* params = host.params(d)) {
            for (int k = 0; k < params->count(); ++k) {
                const quor::ParamInfo& p = params->param(k);
                t["parameters"].push_back({{"name", p.name},
                                           {"kind", harness::kindName(p.kind)},
                                           {"default", defaultValue(p)},
                                           {"description", text(p.description)},
                                           {"hints", text(p.hints)}});
            }
        }
        j["plugins"].push_back(t);
    }
    return j;
}

namespace {

std::string plain(const nlohmann::json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

} // namespace

Action addListCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("list", "List the library's material types and their parameters");
    auto json = std::make_shared<bool>(false);
    cmd->add_flag("--json", *json, "Machine-readable output");
    return [json](Session& s) {
        nlohmann::json j = describeLibrary(s.library);
        if (*json) {
            s.out << j.dump(2) << "\n";
            return 0;
        }
        s.out << plain(j["library"]["name"]) << ": " << plain(j["library"]["description"]) << "\n";
        for (auto& t : j["plugins"]) {
            s.out << "\n"
                  << plain(t["name"]) << " (" << t["id"].get<int>() << ")\n  " << plain(t["description"])
                  << "\n";
            for (auto& p : t["parameters"]) {
                s.out << "  " << plain(p["name"]) << "  " << plain(p["kind"]) << " = " << p["default"].dump();
                if (!p["description"].is_null()) s.out << "\n      " << plain(p["description"]);
                if (!p["hints"].is_null()) s.out << "\n      [" << plain(p["hints"]) << "]";
                s.out << "\n";
            }
        }
        return 0;
    };
}

} // namespace hairlab
