#include "three_lobe_hair/three_lobe_hair_params.h"

namespace hair {

void addBRDFHair2Params(quor::QuorParameterListDesc& d) {
    d.addParamTexture("diffuse_color_tex", quor::AColor{0.0f, 0.0f, 0.0f, 1.0f}, -1, nullptr,
                      "displayName=(Diffuse color), startTab=(Quor Hair 2), startRollout=(Quor Hair 2)");
    d.addParamTexture("absorption", kAbsorptionDefault, -1,
                      "Absorption coeficient, controls the color of the hair", nullptr);
    d.addParamFloat("refraction_index", 1.55f, -1, "Index of refraction for the hair",
                    "minValue=(0), maxValue=(100)");
    d.addParamFloat("diffuse_mult", 1.0f, -1, "Multiplier for the Diffuse component", "minValue=(0)");
    d.addParamFloat("r_mult", 1.0f, -1, "Multiplier for the R lobe",
                    "displayName=(R lobe multiplier), startRollout=()");
    d.addParamFloat("r_long_shift", -10.0f, -1, "Longitudinal shift for the R lobe",
                    "displayName=(Long. shift: R lobe)");
    d.addParamFloat("r_long_width", 5.0f, -1, "Longitudinal width (stddev.) for the R lobe",
                    "displayName=(Long. width: R lobe)");
    d.addParamFloat("tt_mult", 1.0f, -1, "Multiplier for the TT lobe",
                    "displayName=(TT lobe multiplier), startRollout=()");
    d.addParamFloat("tt_long_shift", 5.0f, -1, "Longitudinal shift for the TT lobe",
                    "displayName=(Long. shift: TT lobe)");
    d.addParamFloat("tt_long_width", 2.5f, -1, "Longitudinal width (stddev.) for the TT lobe",
                    "displayName=(Long. width: TT lobe)");
    d.addParamFloat("trt_mult", 1.0f, -1, "Multiplier for the TRT lobe",
                    "displayName=(TRT lobe multiplier), startRollout=()");
    d.addParamFloat("trt_long_shift", 15.0f, -1, "Longitudinal shift for the TRT lobe",
                    "displayName=(Long. shift: TRT lobe)");
    d.addParamFloat("trt_long_width", 10.0f, -1, "Longitudinal width (stddev.) for the TRT lobe",
                    "displayName=(Long. width: TRT lobe)");
    d.addParamFloat("glint_scale", 0.5f, -1, "Glint scale factor 0.5 to 5.0", "startRollout=()");
    d.addParamFloat("azimuthal_width", 10.0f, -1, "Azimuthal width of the caustic from 10 to 25 degrees",
                    nullptr);
    d.addParamFloat("fade_range", 0.2f, -1, "Fade range for caustic merge (0.2 to 0.4)", nullptr);
    d.addParamFloat("caustic_limit", 0.5f, -1, "Caustic intensity limit", nullptr);
}

} // namespace hair
