#include "artist_hair/artist_hair_params.h"

namespace hair {

void addBRDFHair3Params(quor::QuorParameterListDesc& d) {
    d.addParamTexture("overall_color", quor::AColor{0.9f, 0.9f, 0.9f, 1.0f}, -1, "Overall color multiplier",
                      "startTab=(Quor Hair 3), startRollout=(General parameters), gpuSupport=(full)");
    d.addParamTexture("transparency", quor::AColor{0.0f, 0.0f, 0.0f, 1.0f}, -1, "Transparency",
                      "gpuSupport=(full)");
    d.addParamTexture("diffuse_color", quor::AColor{0.0f, 0.0f, 0.0f, 1.0f}, -1, "Diffuse hair color",
                      "startRollout=(Diffuse), gpuSupport=(full)");
    d.addParamTextureFloat("diffuse_amount", 1.0f, -1, "Multiplier for the diffuse color",
                           "minValue=(0), maxValue=(1000), gpuSupport=(full)");
    d.addParamTexture("primary_specular", quor::AColor{0.2f, 0.2f, 0.2f, 1.0f}, -1, "Primary specular color",
                      "displayName=(Prim. specular), startRollout=(Primary specular), gpuSupport=(full)");
    d.addParamTextureFloat(
        "primary_specular_amount", 1.0f, -1, "Multiplier for the primary specular color",
        "displayName=(Prim. specular amount), minValue=(0), maxValue=(1000), gpuSupport=(full)");
    d.addParamTextureFloat("primary_glossiness", 0.8f, -1, "Primary glossiness",
                           "displayName=(Prim. glossiness), minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamBool(
        "secondary_lock_to_transmission", true, -1,
        "true to derive the secondary specular color from the transmission color",
        "displayName=(Sec. lock to transmission), startRollout=(Secondary specular), gpuSupport=(full)");
    d.addParamTexture(
        "secondary_specular", quor::AColor{0.2f, 0.2f, 0.2f, 1.0f}, -1, "Secondary specular color",
        "displayName=(Sec. specular), enable=(::secondary_lock_to_transmission=0), gpuSupport=(full)");
    d.addParamTextureFloat("secondary_specular_amount", 1.0f, -1,
                           "Multiplier for the secondary specular color",
                           "displayName=(Sec. specular amount), enable=(::secondary_lock_to_transmission=0), "
                           "minValue=(0), maxValue=(1000), gpuSupport=(full)");
    d.addParamTextureFloat("secondary_glossiness", 0.5f, -1, "Secondary glossiness",
                           "displayName=(Sec. glossiness), minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamTexture("transmission", quor::AColor{0.2f, 0.2f, 0.2f, 1.0f}, -1, "Transmission color",
                      "startRollout=(Transmission), gpuSupport=(full)");
    d.addParamTextureFloat("transmission_amount", 1.0f, -1, "Multiplier for the transmission color",
                           "minValue=(0), maxValue=(1000), gpuSupport=(full)");
    d.addParamTextureFloat(
        "transmission_glossiness_length", 0.8f, -1, "Transmission glossiness along strand length",
        "displayName=(Trans. gloss. length), minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamTextureFloat(
        "transmission_glossiness_width", 0.8f, -1, "Transmission glossiness across strand width",
        "displayName=(Trans. gloss. width), minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamBool("opaque_for_shadows", false, -1,
                   "true to always compute the material as opaque for shadow rays",
                   "startRollout=(Options), gpuSupport=(full)");
    d.addParamBool("opaque_for_gi", false, -1, "true to always compute the material as opaque for GI rays",
                   "displayName=(Opaque for GI), gpuSupport=(full)");
    d.addParamBool("simplify_for_gi", true, -1,
                   "true to use a simpler and less precise representation of the BRDF for GI rays",
                   "displayName=(Simplify for GI), gpuSupport=(full)");
    d.addParamBool(
        "use_cached_gi", true, -1,
        "true to use the light cache/irradiance map; false to always use brute force GI for the hair",
        "displayName=(Use cached GI), gpuSupport=(full)");
    d.addParamBool("transmission_in_specular", false, -1,
                   "true to put transmission in specular render elements for compositing with light select.",
                   "displayName=(Comp in specular), gpuSupport=(none)");
    d.addParamFloat("light_multiplier", 1.0f, -1,
                    "A multiplier for the direct lighting of the hair; could be useful to brighten up the "
                    "result when not using GI",
                    "startRollout=(Advanced), gpuSupport=(none)");
}

} // namespace hair
