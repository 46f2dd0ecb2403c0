// Library and per-type descriptors, and the process-wide registry that links them.
#pragma once
#include <span>

#include "frame/allocation.h"
#include "frame/param_table.h"
#include "quor/params.h"
#include "quor/plugin.h"

namespace hair {

// Registry shared by the library descriptor and every type descriptor.
struct DescRegistry {
    struct Node {
        quor::PluginDesc* desc;
        Node* next;
    };
    static Node* head;
    static int count;
    static void add(quor::PluginDesc* desc);
};

class LibDesc final : public quor::PluginLibDesc {
  public:
    ~LibDesc() override;
    const char* getLibName() override { return "BRDFHair"; }
    const char* getLibDescription() override {
        return "BRDF for shading hair, designed to be used with Maya hair.";
    }
    int enumPluginDescs(quor::PluginDescCallback* callback) override;
};

// Identity of a hair type: name, identifier, description and its parameter table.
struct HairTypeInfo {
    const char* name;
    int typeId;
    const char* description;
    std::span<const ParamSpec> params;
};

// One descriptor per hair type. `Instance` is the type's plug-in class, constructed with
// the descriptor.
template <class Instance> class HairDesc final : public quor::QuorPluginDesc {
  public:
    explicit HairDesc(const HairTypeInfo& info) : info_(info) {
        registerParams(params_, info.params);
        paramDesc_ = &params_;
        DescRegistry::add(this);
    }
    int getPluginTypeId() override { return info_.typeId; }
    quor::PluginBase* newPlugin(void*) override { return libNew<Instance>(this); }
    void deletePlugin(quor::PluginBase* plugin) override {
        if (!plugin) return;
        plugin->~PluginBase();
        libFree(plugin);
    }
    int supportsInterface(int id) override { return id == quor::EXT_QUOR_PLUGIN || id == quor::EXT_BSDF; }
    const char* getName() override { return info_.name; }
    const char* getDescription() override { return info_.description; }

  private:
    HairTypeInfo info_;
    quor::QuorParameterListDesc params_;
};

} // namespace hair
