// Named parameter sets a look-development artist starts from: hair colours for the melanin
// model, and the look each material shows on the default sheet.
#pragma once
#include <string>
#include <vector>

#include "harness/shading_point.h"

namespace harness {

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

// The types of the default sheet, left to right: oldest model first (by type identifier).
std::vector<std::string> sheetTypes(Library& library);

// The look a material type shows on the default sheet: what makes that model worth choosing.
// Null for a type without one.
const Preset* sheetLook(const std::string& type);

} // namespace harness
