// The stand-in plug-in host: a registry of types and their parameter descriptions.
#include <cstring>
#include <vector>

#include "quor/params.h"
#include "quor/plugin.h"

namespace quor {

struct QuorPluginHost::Impl {
    struct Entry {
        PluginDesc* desc;
        QuorParameterListDesc* params;
    };
    std::vector<Entry> entries;

    Entry* find(const PluginDesc* d) {
        for (auto& e : entries)
            if (e.desc == d) return &e;
        return nullptr;
    }
};

QuorPluginHost::QuorPluginHost() : impl_(new Impl) {}
QuorPluginHost::~QuorPluginHost() { delete impl_; }

int QuorPluginHost::registerDesc(PluginDesc* desc) {
    if (!desc || impl_->find(desc)) return 0;
    impl_->entries.push_back({desc, nullptr});
    return 1;
}

int QuorPluginHost::unregisterDesc(PluginDesc* desc) {
    for (auto it = impl_->entries.begin(); it != impl_->entries.end(); ++it) {
        if (it->desc == desc) {
            impl_->entries.erase(it);
            return 1;
        }
    }
    return 0;
}

void QuorPluginHost::setParamDesc(PluginDesc* desc, QuorParameterListDesc* params) {
    if (Impl::Entry* e = impl_->find(desc)) e->params = params;
}

int QuorPluginHost::count() const { return static_cast<int>(impl_->entries.size()); }
PluginDesc* QuorPluginHost::desc(int index) const { return impl_->entries[index].desc; }

PluginDesc* QuorPluginHost::find(const char* name) const {
    for (auto& e : impl_->entries)
        if (std::strcmp(e.desc->getName(), name) == 0) return e.desc;
    return nullptr;
}

QuorParameterListDesc* QuorPluginHost::params(const PluginDesc* desc) const {
    Impl::Entry* e = impl_->find(desc);
    return e ? e->params : nullptr;
}

} // namespace quor
