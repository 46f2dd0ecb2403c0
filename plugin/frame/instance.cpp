#include "frame/instance.h"

#include <cstring>

namespace hair {

QuorPlugin::QuorPlugin(quor::QuorPluginDesc* desc) : desc_(desc) {
    if (desc_ && desc_->paramDesc()) params_ = desc_->paramDesc()->newParameterList();
}

QuorPlugin::~QuorPlugin() {
    if (desc_ && desc_->paramDesc() && params_) desc_->paramDesc()->deleteParameterList(params_);
    libFree(name_);
}

void QuorPlugin::setName(const char* name) {
    libFree(name_);
    name_ = nullptr;
    if (!name) return;
    std::size_t n = std::strlen(name) + 1;
    name_ = static_cast<char*>(libAlloc(n));
    std::memcpy(name_, name, n);
}

void QuorPlugin::reportUnbound(const char* name) const {
    debugOutput("[%s] parameter '%s' is not known to the host; it keeps its default\n",
                desc_ ? desc_->getName() : "?", name);
}

quor::PluginInterface* QuorPlugin::getInterface(int id) {
    if (id == quor::EXT_QUOR_PLUGIN) return static_cast<quor::QuorPluginInterface*>(this);
    return quor::Plugin::getInterface(id);
}

quor::PluginInterface* QuorBSDF::getInterface(int id) {
    if (id == quor::EXT_BSDF) return static_cast<quor::BSDFInterface*>(this);
    return QuorPlugin::getInterface(id);
}

} // namespace hair
