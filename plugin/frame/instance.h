// The instance frame shared by the four hair materials.
//
// An instance is at once a host plug-in (QuorPluginInterface), a sampler factory
// (BSDFInterface) and, for two of the models, a GPU material. Interfaces are found by
// identifier; every interface part answers getPlugin() with the instance itself.
#pragma once
#include <typeinfo>

#include "frame/allocation.h"
#include "frame/sampler_pool.h"
#include "quor/params.h"
#include "quor/plugin.h"
#include "quor/renderer.h"
#include "quor/sampler.h"

namespace hair {

class QuorPlugin : public quor::Plugin, public quor::QuorPluginInterface {
  public:
    explicit QuorPlugin(quor::QuorPluginDesc* desc);
    ~QuorPlugin() override;

    // Plugin
    quor::PluginDesc* getPluginDesc() override { return desc_; }
    void setName(const char* name) override;
    const char* name() const { return name_; }

    // QuorPluginInterface
    quor::PluginBase* getPlugin() override { return this; }
    void release() override {}
    int setParameter(quor::QuorParameter& param) override {
        return params_ ? params_->setParameter(param) : 0;
    }
    quor::QuorParameter* getParameter(const char* name) override {
        return params_ ? params_->getParam(name) : nullptr;
    }

    quor::PluginInterface* getInterface(int id) override;
    quor::QuorParameterList* paramList() const { return params_; }

  protected:
    // Binds a field to a parameter by name. A name the host does not know (or a field of the
    // wrong kind) leaves the field at its default and is reported on the debug output.
    template <class Field> void bind(const char* name, Field* field) {
        if (params_ && !params_->setParamCache(name, field)) reportUnbound(name);
    }
    void reportUnbound(const char* name) const;
    // Binds every slot of a parameter block (frame/param_table.h) by its table.
    template <class Block> void bindAll(Block& block) {
        block.bindAll([this](const char* name, auto* field) { bind(name, field); });
    }

    quor::QuorPluginDesc* desc_;
    quor::QuorParameterList* params_ = nullptr;

  private:
    char* name_ = nullptr;
};

class QuorBSDF : public QuorPlugin, public quor::BSDFInterface {
  public:
    using QuorPlugin::QuorPlugin;
    // One answer for both interface parts.
    quor::PluginBase* getPlugin() override { return this; }
    void release() override {}
    quor::PluginInterface* getInterface(int id) override;
    int getBSDFFlags() override { return 0; }
};

// A material whose samplers of class T come from per-thread pools.
template <class T> class SimpleBSDF : public QuorBSDF {
  public:
    using Sampler = T;
    using QuorBSDF::QuorBSDF;
    ~SimpleBSDF() override { pool_.destroy(); }

    void renderBegin(quor::QuorRenderer* renderer) override {
        pool_.create(renderer ? renderer->threadCount : 0);
    }
    void renderEnd(quor::QuorRenderer*) override { pool_.destroy(); }

    // Null outside rendering and for a thread index outside the pool.
    quor::BSDFSampler* newBSDF(quor::QuorContext& ctx, int flags) override {
        T* sampler = pool_.take(ctx.threadIndex);
        if (!sampler) return nullptr;
        setupSampler(ctx, *sampler, flags);
        return sampler;
    }
    // Ignores null and a sampler of another material type (the pool then refuses one of
    // another instance or another thread's entry).
    void deleteBSDF(quor::QuorContext& ctx, quor::BSDFSampler* bsdf) override {
        if (!bsdf || typeid(*bsdf) != typeid(typename SamplerPool<T>::Element)) return;
        pool_.give(ctx.threadIndex, static_cast<T*>(bsdf));
    }

    virtual void setupSampler(quor::QuorContext& ctx, T& sampler, int flags) = 0;

    const SamplerPool<T>& pool() const { return pool_; }

  private:
    SamplerPool<T> pool_;
};

} // namespace hair
