#include "lookdev/looks.h"

#include <algorithm>
#include <cctype>

#include "harness/error.h"
#include "harness/names.h"

namespace lookdev {

namespace {

std::string canonical(std::string s) {
    for (char& c : s)
        c = c == ' ' || c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

// Chosen by rendering each on the swatch under the studio lights and measuring it against the
// colour range of its name (scripts/preset_colours.py). Melanin sets how dark the fibre is,
// pheomelanin how much of it is red; a dye absorbs only when strong (red and ginger); grey and
// white come from grey strands mixed in. Light hair is bright only when light may bounce through
// the lock many times: those presets raise the trace depth until the swatch keeps 95% of the
// brightness it converges to.
const std::vector<Preset>& colorPresets() {
    static const std::vector<Preset> presets = {
        {"black", "blue-black, nearly no light through", {{"melanin", "0.9"}, {"pheomelanin", "0"}}},
        {"dark-brown", "espresso brown", {{"melanin", "0.6"}, {"pheomelanin", "0.05"}}},
        {"brown", "medium chestnut brown", {{"melanin", "0.45"}, {"pheomelanin", "0.1"}}},
        {"light-brown", "light ash brown", {{"melanin", "0.35"}, {"pheomelanin", "0.1"}}},
        {"dark-blonde", "dark honey blonde", {{"melanin", "0.25"}, {"pheomelanin", "0.15"}}},
        {"blonde", "golden blonde", {{"melanin", "0.15"}, {"pheomelanin", "0.2"}, {"trace_depth", "15"}}},
        {"platinum",
         "pale platinum blonde",
         {{"melanin", "0.04"}, {"pheomelanin", "0"}, {"trace_depth", "80"}}},
        {"auburn", "red-brown", {{"melanin", "0.55"}, {"pheomelanin", "0.8"}}},
        {"red", "deep natural red", {{"melanin", "0.45"}, {"pheomelanin", "1"}, {"dye_color", "1,0.15,0.1"}}},
        {"ginger",
         "bright copper",
         {{"melanin", "0.32"}, {"pheomelanin", "1"}, {"dye_color", "1,0.25,0.12"}}},
        {"grey",
         "salt and pepper: dark hair with half the strands grey",
         {{"melanin", "0.5"}, {"pheomelanin", "0"}, {"gray_hair_density", "0.5"}}},
        {"white",
         "white hair: every strand grey",
         {{"melanin", "0.02"}, {"pheomelanin", "0"}, {"gray_hair_density", "1"}, {"trace_depth", "200"}}},
    };
    return presets;
}

const Preset* findPreset(const std::string& name) {
    const std::string key = canonical(name);
    for (const Preset& p : colorPresets())
        if (p.name == key) return &p;
    return nullptr;
}

std::vector<std::string> presetNames() {
    std::vector<std::string> names;
    for (const Preset& p : colorPresets())
        names.push_back(p.name);
    return names;
}

std::vector<std::string> sheetTypes(Library& library) {
    std::vector<quor::PluginDesc*> descs = harness::enumerateTypes(library.lib());
    std::stable_sort(descs.begin(), descs.end(), [](quor::PluginDesc* a, quor::PluginDesc* b) {
        return a->getPluginTypeId() < b->getPluginTypeId();
    });
    std::vector<std::string> names;
    for (quor::PluginDesc* d : descs)
        names.push_back(d->getName());
    return names;
}

const Preset* curatedLook(const std::string& type) {
    static const std::vector<std::pair<std::string, Preset>> looks = {
        {"BRDFHair",
         {"ash brown",
          "diffuse brown under a broad pale highlight, which greys it",
          {{"diffuse_color_tex", "0.2,0.12,0.06"},
           {"specular_color_tex", "0.5,0.42,0.34"},
           {"specular_power", "30"}}}},
        {"BRDFHair2",
         {"dark brown with white glints",
          "brown absorption with a strong neutral glint at the TRT caustic",
          {{"absorption", "0.08,0.2,0.45"},
           {"glint_scale", "2"},
           {"diffuse_color_tex", "0.3,0.12,0.04"},
           {"diffuse_mult", "0.7"}}}},
        {"BRDFHair3",
         {"specular band and backlight",
          "a tight primary band over dark brown, warm transmission",
          {{"diffuse_color", "0.1,0.05,0.025"},
           {"primary_specular", "0.3,0.29,0.27"},
           {"primary_glossiness", "0.9"},
           {"transmission", "0.45,0.25,0.1"},
           {"secondary_glossiness", "0.65"}}}},
        {"BRDFHair4",
         {"dark chestnut with glints and glitter",
          "brown with coloured glints and a sparkling primary; six bounces are plenty for hair this dark",
          {{"melanin", "0.55"},
           {"pheomelanin", "0.35"},
           {"glint_strength", "0.7"},
           {"glint_variation", "0.5"},
           {"glitter_strength", "0.9"},
           {"random_melanin", "0.05"},
           {"trace_depth", "6"}}}},
    };
    for (auto& [t, look] : looks)
        if (t == type) return &look;
    return nullptr;
}

const Preset& presetOrRefuse(const std::string& what, const std::string& name) {
    if (const Preset* p = findPreset(name)) return *p;
    throw harness::InputError(what + ": unknown preset '" + name + "'" +
                              harness::didYouMean(name, presetNames()) + "; 'hairlab presets' lists them");
}

std::vector<std::string> parameterNames(Library& library, const std::string& type) {
    std::vector<std::string> names;
    const quor::QuorParameterListDesc* d = library.host().params(library.type(type));
    for (int i = 0; d && i < d->count(); ++i)
        names.push_back(d->param(i).name);
    return names;
}

ParamSets resolve(Library& library, const Look& look) {
    ParamSets sets;
    auto add = [&](const ParamSets& more) { sets.insert(sets.end(), more.begin(), more.end()); };
    if (look.saved)
        add(*look.saved);
    else if (!look.unbound)
        add(harness::registeredDefaults(library, look.type));
    if (look.curated)
        if (const Preset* c = curatedLook(look.type)) add(c->sets);
    if (!look.preset.empty()) add(presetOrRefuse("--preset", look.preset).sets);
    add(look.swept);
    add(look.values);
    return sets;
}

} // namespace lookdev
