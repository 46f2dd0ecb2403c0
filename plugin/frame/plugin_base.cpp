// The interface list every plug-in object carries, and the host registration of a type.
#include "frame/allocation.h"
#include "quor/params.h"
#include "quor/plugin.h"

namespace quor {

PluginBase::~PluginBase() {
    while (interfaces_) {
        InterfaceEntry* e = interfaces_;
        interfaces_ = e->next;
        if (e->owned == 1) e->iface->release();
        hair::libFree(e);
    }
}

PluginInterface* PluginBase::getInterface(int id) {
    for (InterfaceEntry* e = interfaces_; e; e = e->next)
        if (e->iface->getInterfaceId() == id) return e->iface;
    return nullptr;
}

void PluginBase::interfaceReleased(PluginInterface*) {}

int PluginBase::addInterface(PluginInterface* iface, int owned) {
    interfaces_ = hair::libNew<InterfaceEntry>(InterfaceEntry{iface, owned, interfaces_});
    return 1;
}

int PluginBase::removeInterface(PluginInterface* iface) {
    for (InterfaceEntry** link = &interfaces_; *link; link = &(*link)->next) {
        if ((*link)->iface == iface) {
            InterfaceEntry* e = *link;
            *link = e->next;
            hair::libFree(e);
            return 1;
        }
    }
    return 0;
}

void QuorPluginDesc::registerPlugin(QuorPluginHost* host) {
    if (!host) return;
    host->registerDesc(this);
    if (paramDesc_) paramDesc_->registerParameters(host, this);
}

int QuorPluginDesc::unregisterPlugin(QuorPluginHost* host) {
    if (!host) return 0;
    return host->unregisterDesc(this);
}

} // namespace quor
