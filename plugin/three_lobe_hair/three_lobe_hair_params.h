// Parameter table of BRDFHair2, as the host and saved scenes know it: registration, the
// instance's bindings and the model's defaults all read these rows.
#pragma once
#include "frame/param_table.h"

namespace hair {

inline constexpr ParamSpec kBRDFHair2Params[] = {
    colorTexture("diffuse_color_tex", quor::AColor{0.0f, 0.0f, 0.0f, 1.0f}, nullptr,
                 "displayName=(Diffuse color), startTab=(Quor Hair 2), startRollout=(Quor Hair 2)")
        .unboundFromStrand(),
    rgbTexture("absorption", quor::Color3f{0.2f, 0.2f, 0.2f},
               "Absorption coeficient, controls the color of the hair", nullptr),
    floatParam("refraction_index", 1.55f, "Index of refraction for the hair", "minValue=(0), maxValue=(100)"),
    floatParam("diffuse_mult", 1.0f, "Multiplier for the Diffuse component", "minValue=(0)"),
    floatParam("r_mult", 1.0f, "Multiplier for the R lobe",
               "displayName=(R lobe multiplier), startRollout=()"),
    floatParam("r_long_shift", -10.0f, "Longitudinal shift for the R lobe",
               "displayName=(Long. shift: R lobe)"),
    floatParam("r_long_width", 5.0f, "Longitudinal width (stddev.) for the R lobe",
               "displayName=(Long. width: R lobe)"),
    floatParam("tt_mult", 1.0f, "Multiplier for the TT lobe",
               "displayName=(TT lobe multiplier), startRollout=()"),
    floatParam("tt_long_shift", 5.0f, "Longitudinal shift for the TT lobe",
               "displayName=(Long. shift: TT lobe)"),
    floatParam("tt_long_width", 2.5f, "Longitudinal width (stddev.) for the TT lobe",
               "displayName=(Long. width: TT lobe)"),
    floatParam("trt_mult", 1.0f, "Multiplier for the TRT lobe",
               "displayName=(TRT lobe multiplier), startRollout=()"),
    floatParam("trt_long_shift", 15.0f, "Longitudinal shift for the TRT lobe",
               "displayName=(Long. shift: TRT lobe)"),
    floatParam("trt_long_width", 10.0f, "Longitudinal width (stddev.) for the TRT lobe",
               "displayName=(Long. width: TRT lobe)"),
    floatParam("glint_scale", 0.5f, "Glint scale factor 0.5 to 5.0", "startRollout=()"),
    floatParam("azimuthal_width", 10.0f, "Azimuthal width of the caustic from 10 to 25 degrees", nullptr),
    floatParam("fade_range", 0.2f, "Fade range for caustic merge (0.2 to 0.4)", nullptr),
    floatParam("caustic_limit", 0.5f, "Caustic intensity limit", nullptr),
};

} // namespace hair
