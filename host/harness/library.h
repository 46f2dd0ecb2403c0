// A plug-in library as a host holds it: loaded with dlopen (or linked in, for unit tests),
// every type registered with a plug-in host of its own, types found by name.
#pragma once
#include <string>
#include <vector>

#include "quor/plugin.h"

namespace harness {

class Library {
  public:
    // Loads a shared library and registers its types. Throws InputError when it cannot be
    // loaded, has no getLibDesc, answers no descriptor or describes no type.
    explicit Library(const std::string& path);
    // A library linked into this program (its getLibDesc already called).
    explicit Library(quor::PluginLibDesc* lib);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    quor::PluginLibDesc* lib() const { return lib_; }
    quor::QuorPluginHost& host() { return host_; }
    // The registered type of that name; throws InputError listing the types there are.
    quor::PluginDesc* type(const std::string& name);
    // Names in enumeration order.
    std::vector<std::string> typeNames() const;

  private:
    void registerAll(const std::string& what);
    void* handle_ = nullptr;
    quor::PluginLibDesc* lib_ = nullptr;
    quor::QuorPluginHost host_;
};

// Every type a library enumerates, in order.
std::vector<quor::PluginDesc*> enumerateTypes(quor::PluginLibDesc* lib);

// The plug-in path: option, else $HAIRLAB_PLUGIN, else libbrdf_hair.so beside the executable.
std::string pluginPath(const std::string& option, const char* argv0);

} // namespace harness
