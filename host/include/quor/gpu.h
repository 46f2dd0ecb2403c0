// Text descriptions for the host's GPU renderer.
#pragma once
#include <string>

#include "quor/interface.h"

namespace quor {

class TextureInterface;
class TextureFloatInterface;

/// A growing text buffer.
class ShaderSource {
  public:
    /// Appends text as it is.
    void append(const char* text) { text_ += text; }
    /// Appends formatted text.
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// Everything written so far.
    const std::string& text() const { return text_; }
    /// Empties the buffer.
    void clear() { text_.clear(); }

  private:
    std::string text_;
};

/// GPU data record the host passes along; opaque to materials.
struct OCLData {
    int reserved = 0; ///< The host's; materials pass the record on untouched.
};

/// The host's description of a texture input: "null\n" for none, else the texture's own text.
struct RTTexInterface {
    /// Writes the description of a colour texture (or of none) into source.
    static int getRTTexSource(const TextureInterface* tex, const char* a, const char* b, const char* kind,
                              ShaderSource& source, OCLData* data);
    /// Writes the description of a float texture (or of none) into source.
    static int getRTTexSource(const TextureFloatInterface* tex, const char* a, const char* b,
                              const char* kind, ShaderSource& source, OCLData* data);
};

/// Offered by materials the GPU renderer can show.
class RTMtlInterface : public PluginInterface {
  public:
    int getInterfaceId() override { return EXT_RTMTL; }
    const char* getInterfaceName() override { return "EXT_RTMTL"; }
    /// Reserved by the host; answers 0.
    virtual int reserved0() { return 0; }
    /// Reserved by the host; does nothing.
    virtual void reserved1() {}
    /// Writes the material's description of this kind into source; the result is the material's.
    virtual int getRTSource(int a, int b, const char* kind, ShaderSource& source, OCLData* data) = 0;
    /// Reserved by the host; answers 0.
    virtual int reserved2() { return 0; }
    /// Reserved by the host; answers 0xFFFFFFFF.
    virtual unsigned reserved3() { return 0xFFFFFFFFu; }
    /// Reserved by the host; answers 0.
    virtual int reserved4() { return 0; }
    /// Reserved by the host; answers 0.
    virtual int reserved5() { return 0; }
    /// Reserved by the host; answers 0.
    virtual int reserved6() { return 0; }
    /// Reserved by the host; answers 0.
    virtual int reserved7() { return 0; }

  protected:
    ~RTMtlInterface() = default;
};

} // namespace quor
