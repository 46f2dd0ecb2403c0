// Textures the host evaluates at a shading point.
#pragma once
#include <string>

#include "quor/types.h"

namespace quor {

class QuorContext;

/// A colour texture, evaluated at a shading point.
class TextureInterface {
  public:
    /// The colour (RGBA) at the context's hit.
    virtual AColor getColor(const QuorContext& ctx) const = 0;
    /// The range of colours the texture can produce; lower/upper come in preset.
    virtual void getColorRange(AColor& lower, AColor& upper, float scale) const = 0;
    /// Text the host gives its GPU renderer for this texture.
    virtual void describeGPU(std::string& out) const = 0;

  protected:
    ~TextureInterface() = default;
};

/// A float texture, evaluated at a shading point.
class TextureFloatInterface {
  public:
    /// The value at the context's hit.
    virtual float getFloat(const QuorContext& ctx) const = 0;
    /// Text the host gives its GPU renderer for this texture.
    virtual void describeGPU(std::string& out) const = 0;

  protected:
    ~TextureFloatInterface() = default;
};

/// The host's textures serve both as colour and as float textures.
class QuorTexture : public TextureInterface, public TextureFloatInterface {
  public:
    virtual ~QuorTexture() = default;
};

/// A constant colour; as a float texture it answers the colour's red lane.
class ConstantColorTexture final : public QuorTexture {
  public:
    /// A texture answering c everywhere.
    explicit ConstantColorTexture(const AColor& c) : color_(c) {}
    AColor getColor(const QuorContext&) const override { return color_; }
    void getColorRange(AColor& lower, AColor& upper, float scale) const override;
    float getFloat(const QuorContext&) const override { return color_.r; }
    void describeGPU(std::string& out) const override;

  private:
    AColor color_;
};

/// A constant float; as a colour texture it answers (v, v, v, 1).
class ConstantFloatTexture final : public QuorTexture {
  public:
    /// A texture answering v everywhere.
    explicit ConstantFloatTexture(float v) : value_(v) {}
    AColor getColor(const QuorContext&) const override { return {value_, value_, value_, 1.0f}; }
    void getColorRange(AColor& lower, AColor& upper, float scale) const override;
    float getFloat(const QuorContext&) const override { return value_; }
    void describeGPU(std::string& out) const override;

  private:
    float value_;
};

/// Blends from the root colour to the tip colour along the strand (the context's strand position).
class RootTipRampTexture final : public QuorTexture {
  public:
    /// A ramp from root (strand position 0) to tip (position 1).
    RootTipRampTexture(const AColor& root, const AColor& tip) : root_(root), tip_(tip) {}
    AColor getColor(const QuorContext& ctx) const override;
    void getColorRange(AColor& lower, AColor& upper, float scale) const override;
    float getFloat(const QuorContext& ctx) const override { return getColor(ctx).r; }
    void describeGPU(std::string& out) const override;

  private:
    AColor root_, tip_;
};

/// The strand record's colour at the hit (a groom's own colours, interpolated along the strand);
/// black where the hit has no strand data. As a float texture it answers the red lane.
class StrandColorTexture final : public QuorTexture {
  public:
    AColor getColor(const QuorContext& ctx) const override;
    void getColorRange(AColor& lower, AColor& upper, float scale) const override;
    float getFloat(const QuorContext& ctx) const override { return getColor(ctx).r; }
    void describeGPU(std::string& out) const override { out += "strand\n"; }
    /// One texture serves every parameter: it keeps no state.
    static StrandColorTexture& shared();
};

} // namespace quor
