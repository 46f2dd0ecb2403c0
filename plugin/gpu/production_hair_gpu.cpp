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
    if (glintVariation_ > 0.0f || glitterStrength_ > 0.0f) source.append("needs_strand_lengths\n");
    writeTextureKey(source, "diffuse\n", diffuseColorTex_, kind, data);
    writeTextureKey(source, "hair_diffuseAmount\n", diffuseAmountTex_, kind, data);
    writeTextureKey(source, "hair_overallColor\n", dyeColorTex_, kind, data);
    writeTextureKey(source, "hair_texFloatTransmissionGlossA\n", melaninTex_, kind, data);
    writeTextureKey(source, "hair_texFloatTransmissionGlossB\n", pheomelaninTex_, kind, data);
    writeTextureKey(source, "hair_texFloatGloss1\n", glossinessTex_, kind, data);
    writeTextureKey(source, "hair_texFloatGloss2\n", boostTex_, kind, data);
    writeTextureKey(source, "hair_texAmount1\n", softnessTex_, kind, data);
    writeTextureKey(source, "reflection_ior\n", iorTex_, kind, data);
    writeTextureKey(source, "hair_texAmount2\n", highlightShiftTex_, kind, data);
    writeTextureKey(source, "hair_texTransmissionAmount\n", grayHairDensityTex_, kind, data);
    source.printf("opacity\n");
    quor::RTTexInterface::getRTTexSource(transparencyTex_, "", "", kind, source, data);
    source.printf("reflection_maxdepth %i\n", traceDepth_);
    writeTextureKey(source, "hair_texColorSpec1\n", primaryTintTex_, kind, data);
    writeTextureKey(source, "hair_texColorSpec2\n", secondaryTintTex_, kind, data);
    writeTextureKey(source, "hair_texColorTransmission\n", transmissionTintTex_, kind, data);

    const float values[15] = {
        randomMelanin_,  randomDyeHue_,         randomDyeSaturation_, randomDyeValue_, randomGlossiness_,
        randomSoftness_, randomHighlightShift_, randomIor_,           randomTangent_,  glintStrength_,
        glintVariation_, glitterStrength_,      glitterSize_,         glintScale_,     unitScale_};
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
