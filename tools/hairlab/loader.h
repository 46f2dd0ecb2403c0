// Loading the plug-in library the way a host does: dlopen, getLibDesc, registration.
#pragma once
#include <string>

#include "quor/plugin.h"

namespace hairlab {

// A loaded plug-in library with every type registered in a stand-in plug-in host.
class LoadedLibrary {
  public:
    // Throws UsageError when the library cannot be loaded or has no getLibDesc.
    explicit LoadedLibrary(const std::string& path);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    quor::PluginLibDesc* lib() const { return lib_; }
    quor::QuorPluginHost& host() { return host_; }
    // The descriptor of a registered type; throws UsageError for an unknown name.
    quor::PluginDesc* type(const std::string& name);

  private:
    void* handle_ = nullptr;
    quor::PluginLibDesc* lib_ = nullptr;
    quor::QuorPluginHost host_;
};

// The plug-in path: --plugin, else $HAIRLAB_PLUGIN, else libbrdf_hair.so beside the executable.
std::string pluginPath(const std::string& option, const char* argv0);

} // namespace hairlab
