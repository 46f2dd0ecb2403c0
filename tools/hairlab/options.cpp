#include "options.h"

#include <cstdio>

#include "errors.h"
#include "point_options.h"

namespace hairlab {

namespace {

std::string g(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

// The option's long name as messages write it ("-o,--output" -> "-o").
std::string shown(const std::string& name) { return name.substr(0, name.find(',')); }

} // namespace

CLI::Option* addInteger(CLI::App& cmd, const std::string& name, int& target, int lo, int hi,
                        const std::string& help) {
    std::string what = shown(name);
    return cmd.add_option_function<std::string>(
        name,
        [&target, what, lo, hi](const std::string& text) {
            target =
                static_cast<int>(harness::parseUnsignedIn(what, text, std::uint64_t(lo), std::uint64_t(hi)));
        },
        help + ", " + std::to_string(lo) + " to " + std::to_string(hi) + "; default " +
            std::to_string(target));
}

CLI::Option* addUnsigned(CLI::App& cmd, const std::string& name, std::uint64_t& target,
                         const std::string& help) {
    std::string what = shown(name);
    return cmd.add_option_function<std::string>(
        name, [&target, what](const std::string& text) { target = parseUnsigned(what, text); },
        help + "; default " + std::to_string(target));
}

CLI::Option* addNumber(CLI::App& cmd, const std::string& name, float& target, double lo, double hi,
                       const std::string& help) {
    std::string what = shown(name);
    return cmd.add_option_function<std::string>(
        name,
        [&target, what, lo, hi](const std::string& text) {
            target = harness::parseFloatIn(what, text, lo, hi);
        },
        help + ", " + g(lo) + " to " + g(hi) + "; default " + g(target));
}

CLI::Option* addColor(CLI::App& cmd, const std::string& name, std::optional<harness::Rgb>& target,
                      const std::string& help, const std::string& byDefault) {
    std::string what = shown(name);
    return cmd.add_option_function<std::string>(
        name,
        [&target, what](const std::string& text) {
            if (text.empty()) throw UsageError(what + ": empty value");
            target = parseRgb(what, text);
        },
        help + "; default " + byDefault);
}

CLI::Option* addOnOff(CLI::App& cmd, const std::string& name, bool& target, const std::string& help) {
    return cmd.add_option_function<std::string>(
        name,
        [&target, name](const std::string& t) {
            if (t != "on" && t != "off") throw UsageError(name + ": '" + t + "' is not on or off");
            target = t == "on";
        },
        help);
}

CLI::Option* addText(CLI::App& cmd, const std::string& name, std::string& text, const std::string& help) {
    std::string what = shown(name);
    return cmd.add_option_function<std::string>(
        name,
        [&text, what](const std::string& value) {
            if (value.empty()) throw UsageError(what + ": empty value");
            text = value;
        },
        text.empty() ? help : help + "; default " + text);
}

CLI::Option* addDefaulted(CLI::App& cmd, const std::string& name, std::string& text,
                          const std::string& help) {
    return cmd.add_option(name, text, help + "; default " + text);
}

harness::ParamSets parseSets(const std::string& option, const std::vector<std::string>& texts) {
    harness::ParamSets sets;
    for (const std::string& s : texts) {
        std::size_t eq = s.find('=');
        if (eq == std::string::npos || eq == 0) throw UsageError(option + ": '" + s + "' is not NAME=VALUE");
        sets.emplace_back(s.substr(0, eq), s.substr(eq + 1));
    }
    return sets;
}

} // namespace hairlab
