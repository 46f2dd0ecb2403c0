// Parameter table of BRDFHair3, as the host and saved scenes know it: registration, the
// instance's bindings and the model's defaults all read these rows.
#pragma once
#include "frame/param_table.h"

namespace hair {

// What an unconnected slot gives where it is not the registered default: the overall colour
// multiplies by 1, and a lobe's colour and glossiness are 0.
inline constexpr quor::Color kOverallColorUnbound{1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr quor::Color kLobeColorUnbound{0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kGlossinessUnbound = 0.0f;

inline constexpr ParamSpec kBRDFHair3Params[] = {
    colorTexture("overall_color", quor::AColor{0.9f, 0.9f, 0.9f, 1.0f}, "Overall color multiplier",
                 "startTab=(Quor Hair 3), startRollout=(General parameters), gpuSupport=(full)")
        .unboundAs(kOverallColorUnbound),
    colorTexture("transparency", quor::AColor{0.0f, 0.0f, 0.0f, 1.0f}, "Transparency", "gpuSupport=(full)")
        .unboundFromStrand(),
    colorTexture("diffuse_color", quor::AColor{0.0f, 0.0f, 0.0f, 1.0f}, "Diffuse hair color",
                 "startRollout=(Diffuse), gpuSupport=(full)")
        .unboundFromStrand(),
    floatTexture("diffuse_amount", 1.0f, "Multiplier for the diffuse color",
                 "minValue=(0), maxValue=(1000), gpuSupport=(full)"),
    colorTexture("primary_specular", quor::AColor{0.2f, 0.2f, 0.2f, 1.0f}, "Primary specular color",
                 "displayName=(Prim. specular), startRollout=(Primary specular), gpuSupport=(full)")
        .unboundAs(kLobeColorUnbound),
    floatTexture("primary_specular_amount", 1.0f, "Multiplier for the primary specular color",
                 "displayName=(Prim. specular amount), minValue=(0), maxValue=(1000), gpuSupport=(full)"),
    floatTexture("primary_glossiness", 0.8f, "Primary glossiness",
                 "displayName=(Prim. glossiness), minValue=(0), maxValue=(1), gpuSupport=(full)")
        .unboundAs(kGlossinessUnbound),
    boolParam(
        "secondary_lock_to_transmission", true,
        "true to derive the secondary specular color from the transmission color",
        "displayName=(Sec. lock to transmission), startRollout=(Secondary specular), gpuSupport=(full)"),
    colorTexture(
        "secondary_specular", quor::AColor{0.2f, 0.2f, 0.2f, 1.0f}, "Secondary specular color",
        "displayName=(Sec. specular), enable=(::secondary_lock_to_transmission=0), gpuSupport=(full)")
        .unboundAs(kLobeColorUnbound),
    floatTexture("secondary_specular_amount", 1.0f, "Multiplier for the secondary specular color",
                 "displayName=(Sec. specular amount), enable=(::secondary_lock_to_transmission=0), "
                 "minValue=(0), maxValue=(1000), gpuSupport=(full)"),
    floatTexture("secondary_glossiness", 0.5f, "Secondary glossiness",
                 "displayName=(Sec. glossiness), minValue=(0), maxValue=(1), gpuSupport=(full)")
        .unboundAs(kGlossinessUnbound),
    colorTexture("transmission", quor::AColor{0.2f, 0.2f, 0.2f, 1.0f}, "Transmission color",
                 "startRollout=(Transmission), gpuSupport=(full)")
        .unboundAs(kLobeColorUnbound),
    floatTexture("transmission_amount", 1.0f, "Multiplier for the transmission color",
                 "minValue=(0), maxValue=(1000), gpuSupport=(full)"),
    floatTexture("transmission_glossiness_length", 0.8f, "Transmission glossiness along strand length",
                 "displayName=(Trans. gloss. length), minValue=(0), maxValue=(1), gpuSupport=(full)")
        .unboundAs(kGlossinessUnbound),
    floatTexture("transmission_glossiness_width", 0.8f, "Transmission glossiness across strand width",
                 "displayName=(Trans. gloss. width), minValue=(0), maxValue=(1), gpuSupport=(full)")
        .unboundAs(kGlossinessUnbound),
    boolParam("opaque_for_shadows", false, "true to always compute the material as opaque for shadow rays",
              "startRollout=(Options), gpuSupport=(full)"),
    boolParam("opaque_for_gi", false, "true to always compute the material as opaque for GI rays",
              "displayName=(Opaque for GI), gpuSupport=(full)"),
    boolParam("simplify_for_gi", true,
              "true to use a simpler and less precise representation of the BRDF for GI rays",
              "displayName=(Simplify for GI), gpuSupport=(full)"),
    boolParam("use_cached_gi", true,
              "true to use the light cache/irradiance map; false to always use brute force GI for the hair",
              "displayName=(Use cached GI), gpuSupport=(full)"),
    boolParam("transmission_in_specular", false,
              "true to put transmission in specular render elements for compositing with light select.",
              "displayName=(Comp in specular), gpuSupport=(none)"),
    floatParam("light_multiplier", 1.0f,
               "A multiplier for the direct lighting of the hair; could be useful to brighten up the "
               "result when not using GI",
               "startRollout=(Advanced), gpuSupport=(none)"),
};

} // namespace hair
