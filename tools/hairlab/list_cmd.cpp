// hairlab list: the library and every type it registers, with its parameters.
#include <charconv>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <ostream>

#include "commands.h"
#include "quor/params.h"

namespace hairlab {

namespace {

const char* kindName(quor::ParamKind k) {
    switch (k) {
    case quor::ParamKind::Texture:
        return "texture";
    case quor::ParamKind::TextureRGB:
        return "texture_rgb";
    case quor::ParamKind::TextureFloat:
        return "texture_float";
    case quor::ParamKind::Float:
        return "float";
    case quor::ParamKind::Int:
        return "int";
    case quor::ParamKind::Bool:
        return "bool";
    }
    return "?";
}

// A float as the shortest decimal that reads back as the same float (0.3f prints as 0.3).
double shortest(float f) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, f);
    return std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
}

nlohmann::json defaultValue(const quor::ParamInfo& p) {
    const quor::Color& c = p.colorDefault;
    switch (p.kind) {
    case quor::ParamKind::Texture:
        return {shortest(c.r), shortest(c.g), shortest(c.b), shortest(c.a)};
    case quor::ParamKind::TextureRGB:
        return {shortest(c.r), shortest(c.g), shortest(c.b)};
    case quor::ParamKind::TextureFloat:
    case quor::ParamKind::Float:
        return shortest(p.floatDefault);
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
                                           {"kind", kindName(p.kind)},
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
