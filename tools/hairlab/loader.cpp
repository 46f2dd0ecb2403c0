#include "loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "errors.h"

namespace hairlab {

namespace {
struct Collect final : quor::PluginDescCallback {
    std::vector<quor::PluginDesc*> descs;
    int onPluginDesc(quor::PluginDesc* d) override {
        descs.push_back(d);
        return 1;
    }
};
} // namespace

LoadedLibrary::LoadedLibrary(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw UsageError("cannot load plug-in library '" + path + "': " + dlerror());
    using GetLibDesc = quor::PluginLibDesc* (*)();
    auto entry = reinterpret_cast<GetLibDesc>(dlsym(handle_, "getLibDesc"));
    if (!entry) throw UsageError("'" + path + "' has no getLibDesc entry");
    lib_ = entry();
    Collect all;
    lib_->enumPluginDescs(&all);
    for (quor::PluginDesc* d : all.descs) d->registerPlugin(&host_);
}

LoadedLibrary::~LoadedLibrary() {
    for (int i = host_.count() - 1; i >= 0; --i) host_.desc(i)->unregisterPlugin(&host_);
    // The library stays loaded: its statics may still be referenced by objects being torn down.
}

quor::PluginDesc* LoadedLibrary::type(const std::string& name) {
    quor::PluginDesc* d = host_.find(name.c_str());
    if (!d) throw UsageError("unknown type '" + name + "'");
    return d;
}

std::string pluginPath(const std::string& option, const char* argv0) {
    if (!option.empty()) return option;
    if (const char* env = std::getenv("HAIRLAB_PLUGIN"); env && *env) return env;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir;
    if (n > 0) {
        exe[n] = 0;
        dir = exe;
    } else {
        dir = argv0 ? argv0 : "";
    }
    auto slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    return dir + "/libbrdf_hair.so";
}

} // namespace hairlab
