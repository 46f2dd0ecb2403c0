// Running hairlab in-process, and the same shading point built directly through the harness, so
// that the tests compare what hairlab prints with what the calls answered.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

#include "commands.h"
#include "point_options.h"

namespace hairlab::test {

using Args = std::vector<std::string>;

struct Outcome {
    int status;
    std::string out, err;
};

inline Args with(Args base, const Args& extra) {
    base.insert(base.end(), extra.begin(), extra.end());
    return base;
}

inline std::vector<const char*> argv(const Args& args) {
    std::vector<const char*> v;
    for (const std::string& a : args)
        v.push_back(a.c_str());
    return v;
}

// hairlab [--plugin BRDF_HAIR_LIB] args... (the plug-in built beside it unless args name one).
inline Outcome hairlab(Args args) {
    if (std::find(args.begin(), args.end(), "--plugin") == args.end())
        args.insert(args.begin(), {"--plugin", BRDF_HAIR_LIB});
    args.insert(args.begin(), "hairlab");
    std::ostringstream out, err;
    int status = run(static_cast<int>(args.size()), argv(args).data(), out, err);
    return {status, out.str(), err.str()};
}

inline harness::Library& library() {
    static harness::Library lib(BRDF_HAIR_LIB);
    return lib;
}

// The shading point hairlab's option parser makes of args (a command's own options skipped).
inline std::unique_ptr<harness::ShadingPoint> point(Args args, bool shade = true) {
    CLI::App app;
    PointArgs options;
    options.add(*app.add_subcommand("probe")->allow_extras());
    args.insert(args.begin(), {"app", "probe"});
    app.parse(static_cast<int>(args.size()), argv(args).data());
    auto p = std::make_unique<harness::ShadingPoint>(library(), options.options());
    if (shade) p->shade();
    return p;
}

// Numbers as the text output is specified: "%.9g", joined by blanks.
inline std::string g9(std::initializer_list<float> values) {
    std::string s;
    char buf[32];
    for (float v : values) {
        std::snprintf(buf, sizeof buf, "%s%.9g", s.empty() ? "" : " ", double(v));
        s += buf;
    }
    return s;
}

} // namespace hairlab::test
