// Looks: one material as an artist chooses it. A look's parameters resolve in one order:
// registered defaults (or the values a look file saved) < the type's curated look < a colour
// preset < swept values < explicit values. The curated looks and the colour presets live here,
// so that any subject (a swatch, a ball, a groom, the sheet) can wear them.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "harness/shading_point.h"

namespace lookdev {

using harness::Library;
using harness::ParamSets;

struct Preset {
    std::string name;        // lower case, words joined by '-' ("dark-brown")
    std::string description; // what it is meant to look like
    ParamSets sets;          // NAME=VALUE, applied over the registered defaults
};

// The type the colour presets are made for.
constexpr const char* kPresetType = "BRDFHair4";

// Natural and dyed hair colours, darkest first.
const std::vector<Preset>& colorPresets();
// The preset of that name, or null. Spaces and underscores count as '-', case is ignored.
const Preset* findPreset(const std::string& name);
std::vector<std::string> presetNames();
// The preset of that name; refuses an unknown one with "WHAT: unknown preset ..." and a near miss.
const Preset& presetOrRefuse(const std::string& what, const std::string& name);

// The types of the default sheet, left to right: oldest model first (by type identifier).
std::vector<std::string> sheetTypes(Library& library);

// The look a material type is curated in: what makes that model worth choosing. Null for a
// type without one.
const Preset* curatedLook(const std::string& type);

// One material: its type, where its values start from, and what is laid over them.
struct Look {
    std::string type;
    std::optional<ParamSets> saved; // every parameter as a look file holds it (replaces the defaults)
    bool unbound = false;           // no registered defaults: texture slots stay unconnected
    bool curated = false;           // the type's curated look over the defaults
    std::string preset;             // a colour preset over that ("" for none)
    ParamSets swept;                // the values of a sweep's axes for this lock
    ParamSets values;               // explicit values, last
    std::string label;              // what the picture shows, written under the lock
};

// The look's parameter values in the order they apply. Throws InputError for an unknown type
// or preset.
ParamSets resolve(Library& library, const Look& look);

// Parameter names of a type as registered.
std::vector<std::string> parameterNames(Library& library, const std::string& type);

} // namespace lookdev
