// "Did you mean": the known name nearest to a mistyped one.
#pragma once
#include <string>
#include <vector>

namespace harness {

// The name in names with the smallest edit distance to name (case-insensitive, a swap of two
// neighbouring letters counts as one edit), or "" when even the nearest needs more than a third
// of the longer word changed.
std::string nearestName(const std::string& name, const std::vector<std::string>& names);

// " (did you mean X?)" for the nearest known name, or "" when none is near: the one way every
// front end names a near miss.
std::string didYouMean(const std::string& name, const std::vector<std::string>& names);

} // namespace harness
