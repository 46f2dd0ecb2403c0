// Interfaces found by 32-bit identifier (never by run-time type information).
#pragma once

namespace quor {

class PluginBase;

enum InterfaceId : int {
    EXT_QUOR_PLUGIN = 0x7776FFFF,
    EXT_BSDF = 0x77770020,
    EXT_RTMTL = 0x77C0A07E,
    EXT_STRAND_DATA = 2014102901,
    EXT_STRAND_OPACITY = 2016042956,
    EXT_SCENE_UNITS = 2007041201,
};

class PluginInterface {
  public:
    virtual int getInterfaceId() = 0;
    virtual PluginBase* getPlugin() = 0;
    virtual const char* getInterfaceName() = 0;
    virtual void release() = 0;

  protected:
    ~PluginInterface() = default;
};

} // namespace quor
