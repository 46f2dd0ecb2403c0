// Options declared once: each helper adds an option with its target, its range and its help, and
// the help ends with the range and the default the target holds. Values are read through the one
// set of parsers as they are parsed; a bad one throws UsageError with one line naming the option.
#pragma once
#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>

#include "harness/shading_point.h"

namespace hairlab {

// An integer in [lo, hi] ("..., LO to HI; default D").
CLI::Option* addInteger(CLI::App& cmd, const std::string& name, int& target, int lo, int hi,
                        const std::string& help);
// A non-negative integer of any size, decimal or 0x hex ("...; default D").
CLI::Option* addUnsigned(CLI::App& cmd, const std::string& name, std::uint64_t& target,
                         const std::string& help);
// A number in [lo, hi] ("..., LO to HI; default D").
CLI::Option* addNumber(CLI::App& cmd, const std::string& name, float& target, double lo, double hi,
                       const std::string& help);
// A colour r,g,b; unset until given ("...; default TEXT").
CLI::Option* addColor(CLI::App& cmd, const std::string& name, std::optional<harness::Rgb>& target,
                      const std::string& help, const std::string& byDefault);
// A text option ("...; default TEXT" when text holds one); an empty value is refused.
CLI::Option* addText(CLI::App& cmd, const std::string& name, std::string& text, const std::string& help);
// "on" or "off" into a flag.
CLI::Option* addOnOff(CLI::App& cmd, const std::string& name, bool& target, const std::string& help);

// A text option read later by its parser, its default shown ("...; default TEXT").
CLI::Option* addDefaulted(CLI::App& cmd, const std::string& name, std::string& text, const std::string& help);

// NAME=VALUE, as --set takes it.
harness::ParamSets parseSets(const std::string& option, const std::vector<std::string>& texts);

} // namespace hairlab
