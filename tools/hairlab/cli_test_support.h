// Running hairlab in-process from the tests, with the plug-in built beside it.
#pragma once
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

namespace hairlab::test {

struct Outcome {
    int status;
    std::string out, err;
};

// hairlab [--plugin BRDF_HAIR_LIB] args...
inline Outcome hairlab(std::vector<std::string> args, bool plugin = true) {
    if (plugin) args.insert(args.begin(), {"--plugin", BRDF_HAIR_LIB});
    args.insert(args.begin(), "hairlab");
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    int status = run(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

inline int lineCount(const std::string& s) {
    int n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

} // namespace hairlab::test
