// The description BRDFHair4 gives the host's GPU renderer. The keys are those of the GPU hair
// material shared with BRDFHair3; several carry inputs of another meaning here (melanin under
// the transmission glossiness key, for example), and the plain values travel on one line.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gpu/gpu_text.h"
#include "production_hair/brdf_hair4.h"

namespace hair {

namespace {
constexpr double kMaxFloat = FLT_MAX;
} // namespace

int BRDFHair4::getRTSource(int, int, const char* kind, quor::ShaderSource& source, quor::OCLData* data) {
    if (!kind || std::strcmp(kind, "MaterialDescriptor") != 0) return 1;
    source.printf("brdf_hair_mtl_4\n");
    if (values_.value("glint_variation") > 0.0f || values_.value("glitter_strength") > 0.0f)
        source.append("needs_strand_lengths\n");
    writeTextureKey(source, "diffuse\n", values_.colorTexture("diffuse_color"), kind, data);
    writeTextureKey(source, "hair_diffuseAmount\n", values_.floatTexture("diffuse_amount"), kind, data);
    writeTextureKey(source, "hair_overallColor\n", values_.colorTexture("dye_color"), kind, data);
    writeTextureKey(source, "hair_texFloatTransmissionGlossA\n", values_.floatTexture("melanin"), kind, data);
    writeTextureKey(source, "hair_texFloatTransmissionGlossB\n", values_.floatTexture("pheomelanin"), kind,
                    data);
    writeTextureKey(source, "hair_texFloatGloss1\n", values_.floatTexture("glossiness"), kind, data);
    writeTextureKey(source, "hair_texFloatGloss2\n", values_.floatTexture("primary_glossiness_boost"), kind,
                    data);
    writeTextureKey(source, "hair_texAmount1\n", values_.floatTexture("softness"), kind, data);
    writeTextureKey(source, "reflection_ior\n", values_.floatTexture("ior"), kind, data);
    writeTextureKey(source, "hair_texAmount2\n", values_.floatTexture("highlight_shift"), kind, data);
    writeTextureKey(source, "hair_texTransmissionAmount\n", values_.floatTexture("gray_hair_density"), kind,
                    data);
    source.printf("opacity\n");
    quor::RTTexInterface::getRTTexSource(values_.colorTexture("transparency"), "", "", kind, source, data);
    source.printf("reflection_maxdepth %i\n", values_.integer("trace_depth"));
    writeTextureKey(source, "hair_texColorSpec1\n", values_.colorTexture("primary_tint"), kind, data);
    writeTextureKey(source, "hair_texColorSpec2\n", values_.colorTexture("secondary_tint"), kind, data);
    writeTextureKey(source, "hair_texColorTransmission\n", values_.colorTexture("transmission_tint"), kind,
                    data);

    const float values[15] = {values_.value("random_melanin"),
                              values_.value("random_dye_hue"),
                              values_.value("random_dye_saturation"),
                              values_.value("random_dye_value"),
                              values_.value("random_glossiness"),
                              values_.value("random_softness"),
                              values_.value("random_highlight_shift"),
                              values_.value("random_ior"),
                              values_.value("random_tangent"),
                              values_.value("glint_strength"),
                              values_.value("glint_variation"),
                              values_.value("glitter_strength"),
                              values_.value("glitter_size"),
                              values_.value("glint_scale"),
                              unitScale_};
    char text[4096];
    std::size_t used = 0;
    text[0] = '\0';
    for (float v : values) {
        // Finite numbers only, whatever the host handed over: NaN is written as 0, ±inf as ±FLT_MAX.
        const double finite = std::isnan(v) ? 0.0 : std::clamp(static_cast<double>(v), -kMaxFloat, kMaxFloat);
        int n = std::snprintf(text + used, sizeof text - used, " %.6f", finite);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof text - used) break;
        used += static_cast<std::size_t>(n);
    }
    source.printf("sss_albedo_table %s\n", text);
    return 1;
}

} // namespace hair
