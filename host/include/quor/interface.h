// Interfaces found by 32-bit identifier (never by run-time type information).
#pragma once

namespace quor {

class PluginBase;

/// Identifiers of the interfaces host and plug-ins ask each other for.
enum InterfaceId : int {
    EXT_QUOR_PLUGIN = 0x7776FFFF,    ///< QuorPluginInterface: parameters and render notifications.
    EXT_BSDF = 0x77770020,           ///< BSDFInterface: the factory of samplers.
    EXT_RTMTL = 0x77C0A07E,          ///< RTMtlInterface: the GPU description.
    EXT_STRAND_DATA = 2014102901,    ///< StrandDataInterface of a hit's surface data.
    EXT_STRAND_OPACITY = 2016042956, ///< StrandOpacityInterface of a hit's surface data.
    EXT_SCENE_UNITS = 2007041201,    ///< SceneUnitsInterface of the renderer's scene.
};

/// An interface a plug-in object offers, found by identifier through PluginBase::getInterface.
class PluginInterface {
  public:
    /// The identifier this interface answers to (InterfaceId).
    virtual int getInterfaceId() = 0;
    /// The object that offers the interface.
    virtual PluginBase* getPlugin() = 0;
    /// The interface's name, such as "EXT_BSDF".
    virtual const char* getInterfaceName() = 0;
    /// Called when the host is done with the interface.
    virtual void release() = 0;

  protected:
    ~PluginInterface() = default;
};

} // namespace quor
