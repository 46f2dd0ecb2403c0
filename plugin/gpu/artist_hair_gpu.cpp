// The GPU renderer's description of BRDFHair3: switch keys, then every texture input as a key
// line followed by the host's own text for the texture (null textures included).
#include <cstring>

#include "artist_hair/brdf_hair3.h"
#include "gpu/gpu_text.h"

namespace hair {

int BRDFHair3::getRTSource(int, int, const char* kind, quor::ShaderSource& source, quor::OCLData* data) {
    if (!kind || std::strcmp(kind, "MaterialDescriptor") != 0) return 0;
    source.append("is_hair_mtl\n");
    if (values_.integer("secondary_lock_to_transmission")) source.append("hair_lock_trt\n");
    if (values_.integer("opaque_for_gi")) source.append("hair_opaque_gi\n");
    if (values_.integer("opaque_for_shadows")) source.append("hair_opaque_shadows\n");
    if (values_.integer("simplify_for_gi")) source.append("hair_simplify_gi\n");
    if (values_.integer("use_cached_gi")) source.append("hair_use_cached_gi\n");
    writeTextureKey(source, "diffuse\n", values_.colorTexture("diffuse_color"), kind, data);
    writeTextureKey(source, "hair_diffuseAmount\n", values_.floatTexture("diffuse_amount"), kind, data);
    writeTextureKey(source, "hair_overallColor\n", values_.colorTexture("overall_color"), kind, data);
    writeTextureKey(source, "hair_texColorSpec1\n", values_.colorTexture("primary_specular"), kind, data);
    writeTextureKey(source, "hair_texAmount1\n", values_.floatTexture("primary_specular_amount"), kind, data);
    writeTextureKey(source, "hair_texFloatGloss1\n", values_.floatTexture("primary_glossiness"), kind, data);
    writeTextureKey(source, "hair_texColorSpec2\n", values_.colorTexture("secondary_specular"), kind, data);
    writeTextureKey(source, "hair_texAmount2\n", values_.floatTexture("secondary_specular_amount"), kind,
                    data);
    writeTextureKey(source, "hair_texFloatGloss2\n", values_.floatTexture("secondary_glossiness"), kind,
                    data);
    writeTextureKey(source, "hair_texColorTransmission\n", values_.colorTexture("transmission"), kind, data);
    writeTextureKey(source, "hair_texTransmissionAmount\n", values_.floatTexture("transmission_amount"), kind,
                    data);
    writeTextureKey(source, "hair_texFloatTransmissionGlossA\n",
                    values_.floatTexture("transmission_glossiness_length"), kind, data);
    writeTextureKey(source, "hair_texFloatTransmissionGlossB\n",
                    values_.floatTexture("transmission_glossiness_width"), kind, data);
    writeTextureKey(source, "opacity\n", values_.colorTexture("transparency"), kind, data);
    return 1;
}

} // namespace hair
