// The shading context a host hands a material at one hit, and the host objects it reaches.
#pragma once
#include <cstdint>

#include "quor/interface.h"
#include "quor/types.h"

namespace quor {

class QuorContext;

/// Ray flags.
enum RayFlags : int {
    RAY_TRANSMITTED = 0x2,      ///< continues straight through the surface it leaves, without a turn
    RAY_SHADOW = 0x8,           ///< a shadow ray: only the transparency matters
    RAY_GI = 0x10,              ///< gathers indirect light
    RAY_NO_SPECULAR = 0x200,    ///< takes no specular light
    RAY_SAMPLER_ADDED = 0x8000, ///< a ray a sampler asked for through the context's addRay
    RAY_EXEMPT_OPAQUE_SHADOWS = 0x1000000, ///< not subject to a material's opaque-for-shadows switch
    RAY_MASK_OVERRIDE_A = 0x40038,         ///< transparency override: none of these with a host counter >= 1
    RAY_MASK_OVERRIDE_B = 0x40030,         ///< transparency override: any of these
};

/// Context flags.
enum ContextFlags : int {
    CTX_RENDER_ELEMENTS = 0x1,     ///< the host wants render elements from this point
    CTX_SKIP_BELOW_SURFACE = 0x20, ///< no below-surface test: a hair hit, whose normal is only the side hit
};

/// Renderer settings flags.
enum SettingsFlags : int {
    SETTINGS_STRAND_FRAME = 0x2,      ///< write the strand frame channel (CHANNEL_STRAND_FRAME)
    SETTINGS_NO_LIGHT_ELEMENTS = 0x4, ///< skip the lighting/specular elements
};

/// The context's GI-mode value.
enum GIModes : int {
    GI_MODE_GI_RAY = 3, ///< shade as for a GI ray: the specular part follows the diffuse request
};

/// The context's element mode.
enum ElementModes : int {
    ELEMENT_MODE_WITH_FILTERS = 0, ///< every element, the filter colours included
};

/// Kinds of the rays a sampler adds through QuorContext::addRay.
enum AddRayKind : int {
    ADD_RAY_GI = 2,           ///< indirect light about a direction, weighted by the colour
    ADD_RAY_PASS_THROUGH = 4, ///< the ray continuing straight on through the strand
};

/// Render channel aliases: the host's element numbers.
enum ChannelAlias : int {
    CHANNEL_DIFFUSE_FILTER = 101,      ///< diffuse colour
    CHANNEL_REFLECTION = 102,          ///< specular colour × GI
    CHANNEL_TRANSMISSION = 103,        ///< transmitted light
    CHANNEL_SHADOW = 105,              ///< diffuse light lost to shadows
    CHANNEL_SPECULAR = 106,            ///< direct specular light
    CHANNEL_LIGHTING = 107,            ///< direct diffuse light
    CHANNEL_GI = 108,                  ///< indirect diffuse light
    CHANNEL_RAW_GI = 110,              ///< indirect light before the diffuse colour
    CHANNEL_RAW_LIGHTING = 111,        ///< direct light before the diffuse colour
    CHANNEL_RAW_SHADOW = 112,          ///< shadowed light before the diffuse colour
    CHANNEL_REFLECTION_FILTER = 118,   ///< specular colour
    CHANNEL_RAW_REFLECTION = 119,      ///< indirect light before the specular colour
    CHANNEL_TRANSMISSION_FILTER = 120, ///< transmission colour
    CHANNEL_RAW_TRANSMISSION = 121,    ///< indirect light before the transmission colour
    CHANNEL_MATTE_SHADOW = 128,        ///< shadowed fraction of the diffuse light
    CHANNEL_TOTAL_LIGHTING = 129,      ///< direct and indirect diffuse light
    CHANNEL_RAW_TOTAL_LIGHTING = 130,  ///< the same before the diffuse colour
    CHANNEL_STRAND_FRAME = 131,        ///< six floats: footprint orientation and across-strand direction
};

/// What the strand-data interface reports for a hit (layout as the host defines it).
struct StrandRecord {
    float color[3] = {0, 0, 0};        ///< The strand's diffuse colour.
    float transparency[3] = {0, 0, 0}; ///< The strand's transparency.
    std::uint8_t reserved[8] = {};     ///< The host's.
    Vector tangent = {0, 0, 1, 0};     ///< Strand tangent, root to tip.
    float h = 0;                       ///< across-strand offset in [-1, 1]
};

/// The strand under a hair hit, offered by the hit's surface data.
class StrandDataInterface {
  public:
    /// EXT_STRAND_DATA.
    virtual int getInterfaceId() const { return EXT_STRAND_DATA; }
    /// Fills rec with the strand record at the hit.
    virtual void getStrandRecord(const QuorContext& ctx, StrandRecord& rec) const = 0;
    /// The transparency answered to shadow rays.
    virtual Color3f getShadowTransparency(const QuorContext& ctx) const = 0;
    /// The strand's length in scene units.
    virtual float getStrandLength(const QuorContext& ctx) const = 0;
    /// Where along the strand the hit lies, a fraction in [0, 1] from the root.
    virtual float getStrandPosition(const QuorContext& ctx) const = 0;
    /// The strand's index in its groom.
    virtual int getStrandIndex(const QuorContext& ctx) const = 0;

  protected:
    ~StrandDataInterface() = default;
};

/// How much of the pixel footprint the strand covers, offered by the hit's surface data.
class StrandOpacityInterface {
  public:
    /// EXT_STRAND_OPACITY.
    virtual int getInterfaceId() const { return EXT_STRAND_OPACITY; }
    /// The coverage in [0, 1].
    virtual float getCoverage(const QuorContext& ctx) const = 0;

  protected:
    ~StrandOpacityInterface() = default;
};

/// The hit object's data; interfaces by identifier, null when absent.
class SurfaceData {
  public:
    /// The interface with this identifier, or null.
    virtual void* getInterface(int id) const = 0;
    /// The strand-data interface, or null.
    StrandDataInterface* strandData() const {
        return static_cast<StrandDataInterface*>(getInterface(EXT_STRAND_DATA));
    }
    /// The strand-opacity interface, or null.
    StrandOpacityInterface* strandOpacity() const {
        return static_cast<StrandOpacityInterface*>(getInterface(EXT_STRAND_OPACITY));
    }

  protected:
    ~SurfaceData() = default;
};

/// A strand record held by value: what the stand-in hosts attach to a hair hit.
class SimpleStrandData final : public SurfaceData, public StrandDataInterface, public StrandOpacityInterface {
  public:
    StrandRecord record;        ///< Answered by getStrandRecord.
    Color3f shadowTransparency; ///< answered to shadow rays
    float length = 1;           ///< Answered by getStrandLength.
    float position = 0.5f;      ///< Answered by getStrandPosition.
    int index = 0;              ///< Answered by getStrandIndex.
    bool hasStrandData = true;  ///< Whether EXT_STRAND_DATA is offered.
    bool hasCoverage = false;   ///< Whether EXT_STRAND_OPACITY is offered.
    float coverage = 1;         ///< Answered by getCoverage.

    void* getInterface(int id) const override;
    void getStrandRecord(const QuorContext&, StrandRecord& rec) const override { rec = record; }
    Color3f getShadowTransparency(const QuorContext&) const override { return shadowTransparency; }
    float getStrandLength(const QuorContext&) const override { return length; }
    float getStrandPosition(const QuorContext&) const override { return position; }
    int getStrandIndex(const QuorContext&) const override { return index; }
    float getCoverage(const QuorContext&) const override { return coverage; }
};

/// Named render outputs beside the image (aliases are the host's element numbers).
class RenderChannelTarget {
  public:
    /// Adds count values to the channel alias at this hit.
    virtual void write(int alias, const float* values, int count) = 0;
    /// Whether the render has the channel alias.
    virtual bool has(int alias) const = 0;
    /// Adds a colour's three lanes to the channel alias.
    void write(int alias, const Color& c) { write(alias, &c.r, 3); }

  protected:
    ~RenderChannelTarget() = default;
};

/// The renderer's settings a material reads.
struct RenderSettings {
    int hairDepthEnabled = 1;     ///< 0 disables hair multiple scattering
    int traceDepthOverrideOn = 0; ///< Non-zero: traceDepthOverride replaces the materials' trace depth.
    int traceDepthOverride = 0;   ///< The trace depth used while the override is on.
    int maxRayDistOn = 0;         ///< Non-zero: continuation rays end at maxRayDist.
    float maxRayDist = 1e18f;     ///< Longest continuation ray while maxRayDistOn.
    int flags = 0;                ///< SettingsFlags
};

/// The ray a sampler sets up in a new context.
struct RayRecord {
    Vector origin;      ///< Where the ray starts.
    Vector dir;         ///< Unit direction.
    float tmin = 0;     ///< Start of the interval along the ray.
    float tmax = 1e18f; ///< End of the interval along the ray.
    int tag = 0;        ///< copied from the owner record
};

/// Results a sampler's traceForward writes.
struct ShadeResult {
    Color gi;            ///< Light gathered from the GI source.
    Color transparency;  ///< Light passing straight through.
    Color opacity;       ///< Opacity of the hit.
    Color transparency2; ///< Second transparency slot.
};

/// The shading context of one hit: read-only for a material except its outputs.
class QuorContext {
  public:
    virtual ~QuorContext() = default;

    // Host queries. The stand-in hosts override what their scene provides.
    virtual Color giColor() const { return gi; }         ///< the GI source's colour here
    virtual int useLightMIS() const { return lightMIS; } ///< multiple-importance answer
    /// The transparency override of the hit.
    virtual float getTransparencyOverride() const { return transparencyOverride; }
    virtual float getDMC(int dimension) const; ///< quasi-random value in [0, 1)
    /// Adds a ray of a sampler's own (kind, colour, flags, direction); the answer is the host's.
    virtual int addRay(int kind, const Color& color, int flags, const Vector& dir);

    int threadIndex = 0; ///< The render thread, below QuorRenderer::threadCount.

    Vector rayDir{0, 0, -1, 0}; ///< D, towards the surface
    Vector normal{0, 0, 1, 0};  ///< n
    Vector hitPoint;            ///< Where the ray hit.
    // Ray differentials: the two direction differentials (mirrored by sampleRay) and the
    // two vectors held beside them.
    Vector dirDiff[2]; ///< Direction differentials, mirrored by sampleRay.
    Vector posDiff[2]; ///< The two vectors held beside the direction differentials.

    int rayFlags = 0;     ///< RayFlags.
    int contextFlags = 0; ///< ContextFlags.
    int rayDepth = 0;     ///< Bounces before this hit (0 for a camera ray).
    int giMode = 0;       ///< The host's GI mode.
    int hostCounter = 0;  ///< The host's counter (read by the transparency override).
    int elementMode = 0;  ///< The host's render-element mode.

    const SurfaceData* surfaceData = nullptr; ///< The hit object's data, or null.
    RenderChannelTarget* channels = nullptr;  ///< Render channels, or null.
    const RenderSettings* settings = nullptr; ///< never null when a host shades

    Color gi;                                ///< returned by giColor()
    int lightMIS = 0;                        ///< returned by useLightMIS()
    float transparencyOverride = 0;          ///< returned by getTransparencyOverride()
    float sampleValue = 0.5f;                ///< the host sampler's value for this context, in [0, 1]
    float dmc[4] = {0.5f, 0.5f, 0.5f, 0.5f}; ///< returned by getDMC(dimension) (dimension & 3)
    int ownerTag = 0;                        ///< Copied into the tag of rays set up here.

    ShadeResult result; ///< What traceForward writes.

    // New-ray fields, written by sampleRay on the new context.
    RayRecord* ray = nullptr; ///< may be null
    Color pathWeight;         ///< Path weight of the new ray (colour over probability).
    float pathProb = 0;       ///< Probability density of the new ray.
};

} // namespace quor
