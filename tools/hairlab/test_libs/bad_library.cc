// A plug-in library that answers getLibDesc with nothing a host can use, for hairlab's refusal
// table: built with EMPTY_DESCRIPTOR it describes no type, without it answers no descriptor.
#include "quor/plugin.h"

#ifdef EMPTY_DESCRIPTOR
// Every plug-in library carries the base of its objects; this one's objects offer no interfaces.
namespace quor {
PluginBase::~PluginBase() = default;
PluginInterface* PluginBase::getInterface(int) { return nullptr; }
void PluginBase::interfaceReleased(PluginInterface*) {}
int PluginBase::addInterface(PluginInterface*, int) { return 0; }
int PluginBase::removeInterface(PluginInterface*) { return 0; }
} // namespace quor

namespace {
struct EmptyLibDesc final : quor::PluginLibDesc {
    const char* getLibName() override { return "empty"; }
    const char* getLibDescription() override { return "describes no type"; }
    int enumPluginDescs(quor::PluginDescCallback*) override { return 1; }
} emptyLibDesc;
} // namespace
#endif

extern "C" __attribute__((visibility("default"))) quor::PluginLibDesc* getLibDesc() {
#ifdef EMPTY_DESCRIPTOR
    return &emptyLibDesc;
#else
    return nullptr;
#endif
}
