// Text descriptions for the host's GPU renderer.
#pragma once
#include <string>

#include "quor/interface.h"

namespace quor {

class TextureInterface;
class TextureFloatInterface;

// A growing text buffer.
class ShaderSource {
  public:
    void append(const char* text) { text_ += text; }
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const std::string& text() const { return text_; }
    void clear() { text_.clear(); }

  private:
    std::string text_;
};

// GPU data record the host passes along; opaque to materials.
struct OCLData {
    int reserved = 0;
};

// The host's description of a texture input: "null\n" for none, else the texture's own text.
struct RTTexInterface {
    static int getRTTexSource(const TextureInterface* tex, const char* a, const char* b, const char* kind,
                              ShaderSource& source, OCLData* data);
    static int getRTTexSource(const TextureFloatInterface* tex, const char* a, const char* b,
                              const char* kind, ShaderSource& source, OCLData* data);
};

// Offered by materials the GPU renderer can show.
class RTMtlInterface : public PluginInterface {
  public:
    int getInterfaceId() override { return EXT_RTMTL; }
    const char* getInterfaceName() override { return "EXT_RTMTL"; }
    virtual int reserved0() { return 0; }
    virtual void reserved1() {}
    virtual int getRTSource(int a, int b, const char* kind, ShaderSource& source, OCLData* data) = 0;
    virtual int reserved2() { return 0; }
    virtual unsigned reserved3() { return 0xFFFFFFFFu; }
    virtual int reserved4() { return 0; }
    virtual int reserved5() { return 0; }
    virtual int reserved6() { return 0; }
    virtual int reserved7() { return 0; }

  protected:
    ~RTMtlInterface() = default;
};

} // namespace quor
