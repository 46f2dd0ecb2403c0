#include "harness/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "harness/error.h"
#include "harness/names.h"

namespace harness {

std::vector<quor::PluginDesc*> enumerateTypes(quor::PluginLibDesc* lib) {
    struct Collect final : quor::PluginDescCallback {
        std::vector<quor::PluginDesc*> descs;
        int onPluginDesc(quor::PluginDesc* d) override {
            if (d) descs.push_back(d);
            return 1;
        }
    } all;
    if (lib) lib->enumPluginDescs(&all);
    return all.descs;
}

Library::Library(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw InputError("cannot load plug-in library '" + path + "': " + dlerror());
    using GetLibDesc = quor::PluginLibDesc* (*)();
    auto entry = reinterpret_cast<GetLibDesc>(dlsym(handle_, "getLibDesc"));
    if (!entry) throw InputError("'" + path + "' has no getLibDesc entry");
    lib_ = entry();
    registerAll("'" + path + "'");
}

Library::Library(quor::PluginLibDesc* lib) : lib_(lib) { registerAll("the linked library"); }

void Library::registerAll(const std::string& what) {
    if (!lib_) throw InputError(what + ": getLibDesc answered no library descriptor");
    std::vector<quor::PluginDesc*> descs = enumerateTypes(lib_);
    if (descs.empty()) throw InputError(what + " describes no plug-in type");
    for (quor::PluginDesc* d : descs)
        d->registerPlugin(&host_);
}

Library::~Library() {
    for (int i = host_.count() - 1; i >= 0; --i)
        host_.desc(i)->unregisterPlugin(&host_);
    // The library stays loaded: its statics may still be referenced by objects being torn down.
}

quor::PluginDesc* Library::type(const std::string& name) {
    if (quor::PluginDesc* d = host_.find(name.c_str())) return d;
    std::string known;
    for (const std::string& n : typeNames())
        known += (known.empty() ? "" : ", ") + n;
    throw InputError("unknown type '" + name + "'" + didYouMean(name, typeNames()) +
                     "; this library has: " + known);
}

std::vector<std::string> Library::typeNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < host_.count(); ++i)
        names.push_back(host_.desc(i)->getName());
    return names;
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
    // Beside the executable (the build tree), else where the installed layout keeps it.
    std::string beside = dir + "/libbrdf_hair.so", installed = dir + "/../lib/quor/plugins/libbrdf_hair.so";
    return access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0 ? installed : beside;
}

} // namespace harness
