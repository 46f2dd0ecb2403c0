// Look files: a shot as JSON, with every parameter of every material written out, so that the
// file means the same picture if registered defaults or curated looks change later. Paths in a
// file are relative to the file. A malformed file is refused in one line that names the file and
// the key.
#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "lookdev/shot.h"

namespace lookdev {

// The format version this build writes and the newest it reads.
constexpr int kLookFormat = 1;

using Json = nlohmann::ordered_json;

// The shot as a look file holds it; relative paths are made relative to folder.
Json shotToJson(Library& library, const Shot& shot, const std::string& folder = ".");
// Reads a shot from JSON; file names it in refusals and folder anchors its relative paths.
// Throws InputError with one line.
Shot shotFromJson(Library& library, const Json& json, const std::string& file, const std::string& folder);

// Writes the shot to path; throws InputError when it cannot be written.
void saveShot(Library& library, const Shot& shot, const std::string& path);
// Reads a look file: every refusal of shotFromJson, plus a file that cannot be read or is not
// JSON. The shot is validated (values against their limits unless it or unchecked says so).
Shot loadShot(Library& library, const std::string& path, bool unchecked = false);

// A JSON value as the text --set takes: null "none", booleans, numbers, and arrays as "r,g,b".
std::string valueText(const Json& value);

// The one look of a file for a probe: the look at index lock, or the only one; refuses a file of
// several looks without a choice, saying how to pick.
Look pickLook(const Shot& shot, const std::string& file, int lock);

} // namespace lookdev
