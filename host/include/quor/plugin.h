// Plug-in objects, descriptors and the plug-in host.
#pragma once
#include "quor/interface.h"

namespace quor {

class QuorRenderer;
class QuorParameter;
class QuorParameterListDesc;

// Base of every plug-in object: a singly linked list of interfaces it offers.
class PluginBase {
  public:
    PluginBase() = default;
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;
    virtual ~PluginBase();

    virtual PluginInterface* getInterface(int id);
    virtual void interfaceReleased(PluginInterface* iface);
    virtual int addInterface(PluginInterface* iface, int owned);
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

// A plug-in instance.
class Plugin : public PluginBase {
  public:
    virtual PluginDesc* getPluginDesc() = 0;
    virtual void setName(const char* name) = 0;
};

class QuorPluginHost;

class PluginDesc : public PluginBase {
  public:
    virtual int getPluginTypeId() = 0;
    virtual PluginBase* newPlugin(void* arg) = 0;
    virtual void deletePlugin(PluginBase* plugin) = 0;
    virtual int supportsInterface(int id) = 0;
    virtual const char* getName() = 0;
    virtual void registerPlugin(QuorPluginHost* host) { (void)host; }
    virtual int unregisterPlugin(QuorPluginHost* host) {
        (void)host;
        return 0;
    }
    virtual int reserved0() { return 0; }
    virtual const char* getDescription() = 0;
    virtual int reserved1() { return 0; }
    virtual int reserved2() { return 0; }
};

// Callback of PluginLibDesc::enumPluginDescs; a result of 0 stops the walk.
class PluginDescCallback {
  public:
    virtual int onPluginDesc(PluginDesc* desc) = 0;

  protected:
    ~PluginDescCallback() = default;
};

class PluginLibDesc : public PluginBase {
  public:
    virtual const char* getLibName() = 0;
    virtual const char* getLibDescription() = 0;
    virtual int enumPluginDescs(PluginDescCallback* callback) = 0;
};

// Descriptor of a type whose parameters the host keeps.
class QuorPluginDesc : public PluginDesc {
  public:
    void registerPlugin(QuorPluginHost* host) override;
    int unregisterPlugin(QuorPluginHost* host) override;
    QuorParameterListDesc* paramDesc() const { return paramDesc_; }

  protected:
    QuorParameterListDesc* paramDesc_ = nullptr;
};

// The host side of an instance: parameters and render notifications.
class QuorPluginInterface : public PluginInterface {
  public:
    int getInterfaceId() override { return EXT_QUOR_PLUGIN; }
    const char* getInterfaceName() override { return "EXT_QUOR_PLUGIN"; }
    virtual void renderBegin(QuorRenderer* renderer) = 0;
    virtual void renderEnd(QuorRenderer* renderer) = 0;
    virtual void frameBegin(QuorRenderer* renderer) { (void)renderer; }
    virtual void frameEnd(QuorRenderer* renderer) { (void)renderer; }
    virtual int setParameter(QuorParameter& param) = 0;
    virtual QuorParameter* getParameter(const char* name) = 0;

  protected:
    ~QuorPluginInterface() = default;
};

// Registry of plug-in types with their parameter descriptions.
class QuorPluginHost {
  public:
    QuorPluginHost();
    ~QuorPluginHost();
    QuorPluginHost(const QuorPluginHost&) = delete;
    QuorPluginHost& operator=(const QuorPluginHost&) = delete;

    int registerDesc(PluginDesc* desc);
    int unregisterDesc(PluginDesc* desc);
    void setParamDesc(PluginDesc* desc, QuorParameterListDesc* params);

    int count() const;
    PluginDesc* desc(int index) const;        // in registration order
    PluginDesc* find(const char* name) const; // null when unknown
    QuorParameterListDesc* params(const PluginDesc* desc) const;

  private:
    struct Impl;
    Impl* impl_;
};

} // namespace quor
