// Plug-in objects, descriptors and the plug-in host.
#pragma once
#include "quor/interface.h"

namespace quor {

class QuorRenderer;
class QuorParameter;
class QuorParameterListDesc;

/// Base of every plug-in object: a singly linked list of interfaces it offers.
class PluginBase {
  public:
    /// An object offering no interface yet.
    PluginBase() = default;
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;
    /// Frees the list; an owned interface is released first.
    virtual ~PluginBase();

    /// The first interface whose identifier is id, or null.
    virtual PluginInterface* getInterface(int id);
    /// Told that the host released an interface; does nothing here.
    virtual void interfaceReleased(PluginInterface* iface);
    /// Offers an interface (owned = 1: released with the object); answers 1.
    virtual int addInterface(PluginInterface* iface, int owned);
    /// Stops offering an interface without releasing it; 1 if it was offered, else 0.
    virtual int removeInterface(PluginInterface* iface);

  private:
    struct InterfaceEntry {
        PluginInterface* iface;
        int owned;
        InterfaceEntry* next;
    };
    InterfaceEntry* interfaces_ = nullptr;
};

class PluginDesc;

/// A plug-in instance.
class Plugin : public PluginBase {
  public:
    /// The descriptor that made the instance.
    virtual PluginDesc* getPluginDesc() = 0;
    /// Gives the instance a name (copied; null clears it).
    virtual void setName(const char* name) = 0;
};

class QuorPluginHost;

/// The descriptor of a plug-in type: its identity and the factory of its instances.
class PluginDesc : public PluginBase {
  public:
    /// The type's numeric identifier, stable across versions.
    virtual int getPluginTypeId() = 0;
    /// A new instance (the argument is not used by this library).
    virtual PluginBase* newPlugin(void* arg) = 0;
    /// Destroys an instance from newPlugin; null is ignored.
    virtual void deletePlugin(PluginBase* plugin) = 0;
    /// 1 if instances offer the interface id, else 0.
    virtual int supportsInterface(int id) = 0;
    /// The type name, such as "BRDFHair4".
    virtual const char* getName() = 0;
    /// Registers the type with a host; does nothing here.
    virtual void registerPlugin(QuorPluginHost* host) { (void)host; }
    /// Withdraws the type from a host; answers 0 here.
    virtual int unregisterPlugin(QuorPluginHost* host) {
        (void)host;
        return 0;
    }
    /// Reserved by the host; answers 0.
    virtual int reserved0() { return 0; }
    /// The type's description, ending with its [gpuSupport=(...)] item.
    virtual const char* getDescription() = 0;
    /// Reserved by the host; answers 0.
    virtual int reserved1() { return 0; }
    /// Reserved by the host; answers 0.
    virtual int reserved2() { return 0; }
};

/// Callback of PluginLibDesc::enumPluginDescs; a result of 0 stops the walk.
class PluginDescCallback {
  public:
    /// Called once per descriptor; 0 stops the walk.
    virtual int onPluginDesc(PluginDesc* desc) = 0;

  protected:
    ~PluginDescCallback() = default;
};

/// The library's descriptor, answered by its one exported function getLibDesc.
class PluginLibDesc : public PluginBase {
  public:
    /// The library's name.
    virtual const char* getLibName() = 0;
    /// The library's description.
    virtual const char* getLibDescription() = 0;
    /// Hands every type's descriptor to callback; null counts them. Answers how many it handed.
    virtual int enumPluginDescs(PluginDescCallback* callback) = 0;
};

/// Descriptor of a type whose parameters the host keeps.
class QuorPluginDesc : public PluginDesc {
  public:
    /// Registers the descriptor, then its parameters, with a host; a null host does nothing.
    void registerPlugin(QuorPluginHost* host) override;
    /// Withdraws the descriptor from a host; 0 for a null host.
    int unregisterPlugin(QuorPluginHost* host) override;
    /// The type's parameters, or null for a type without any.
    QuorParameterListDesc* paramDesc() const { return paramDesc_; }

  protected:
    QuorParameterListDesc* paramDesc_ = nullptr; ///< Set by the type's own descriptor.
};

/// The host side of an instance: parameters and render notifications.
class QuorPluginInterface : public PluginInterface {
  public:
    int getInterfaceId() override { return EXT_QUOR_PLUGIN; }
    const char* getInterfaceName() override { return "EXT_QUOR_PLUGIN"; }
    /// A render starts with renderer->threadCount threads; no shading runs during the call.
    virtual void renderBegin(QuorRenderer* renderer) = 0;
    /// The render is over; every sampler of the instance is destroyed. No shading runs.
    virtual void renderEnd(QuorRenderer* renderer) = 0;
    /// A frame of the render starts.
    virtual void frameBegin(QuorRenderer* renderer) { (void)renderer; }
    /// A frame of the render ends.
    virtual void frameEnd(QuorRenderer* renderer) { (void)renderer; }
    /// Copies the value of param into the instance's parameter of the same name; 1 on success.
    virtual int setParameter(QuorParameter& param) = 0;
    /// The instance's parameter of that name, or null.
    virtual QuorParameter* getParameter(const char* name) = 0;

  protected:
    ~QuorPluginInterface() = default;
};

/// Registry of plug-in types with their parameter descriptions.
class QuorPluginHost {
  public:
    /// An empty registry.
    QuorPluginHost();
    ~QuorPluginHost();
    QuorPluginHost(const QuorPluginHost&) = delete;
    QuorPluginHost& operator=(const QuorPluginHost&) = delete;

    /// Adds a type to the registry.
    int registerDesc(PluginDesc* desc);
    /// Removes a type from the registry.
    int unregisterDesc(PluginDesc* desc);
    /// Records the parameters of a registered type.
    void setParamDesc(PluginDesc* desc, QuorParameterListDesc* params);

    /// Number of registered types.
    int count() const;
    /// The type at index, in registration order.
    PluginDesc* desc(int index) const;
    /// The type of that name; null when unknown.
    PluginDesc* find(const char* name) const;
    /// The parameters recorded for a type, or null.
    QuorParameterListDesc* params(const PluginDesc* desc) const;

  private:
    struct Impl;
    Impl* impl_;
};

} // namespace quor
