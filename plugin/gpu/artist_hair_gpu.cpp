// The GPU renderer's description of BRDFHair3: switch keys, then every texture input as a key
// line followed by the host's own text for the texture (null textures included).
#include <cstring>

#include "artist_hair/brdf_hair3.h"
#include "gpu/gpu_text.h"

namespace hair {

int BRDFHair3::getRTSource(int, int, const char* kind, quor::ShaderSource& source, quor::OCLData* data) {
    if (!kind || std::strcmp(kind, "MaterialDescriptor") != 0) return 0;
    source.append("is_hair_mtl\n");
    if (secondaryLockToTransmission_) source.append("hair_lock_trt\n");
    if (opaqueForGI_) source.append("hair_opaque_gi\n");
    if (opaqueForShadows_) source.append("hair_opaque_shadows\n");
    if (simplifyForGI_) source.append("hair_simplify_gi\n");
    if (useCachedGI_) source.append("hair_use_cached_gi\n");
    writeTextureKey(source, "diffuse\n", diffuseColor_, kind, data);
    writeTextureKey(source, "hair_diffuseAmount\n", diffuseAmount_, kind, data);
    writeTextureKey(source, "hair_overallColor\n", overallColor_, kind, data);
    writeTextureKey(source, "hair_texColorSpec1\n", primarySpecular_, kind, data);
    writeTextureKey(source, "hair_texAmount1\n", primarySpecularAmount_, kind, data);
    writeTextureKey(source, "hair_texFloatGloss1\n", primaryGlossiness_, kind, data);
    writeTextureKey(source, "hair_texColorSpec2\n", secondarySpecular_, kind, data);
    writeTextureKey(source, "hair_texAmount2\n", secondarySpecularAmount_, kind, data);
    writeTextureKey(source, "hair_texFloatGloss2\n", secondaryGlossiness_, kind, data);
    writeTextureKey(source, "hair_texColorTransmission\n", transmission_, kind, data);
    writeTextureKey(source, "hair_texTransmissionAmount\n", transmissionAmount_, kind, data);
    writeTextureKey(source, "hair_texFloatTransmissionGlossA\n", transmissionGlossinessLength_, kind, data);
    writeTextureKey(source, "hair_texFloatTransmissionGlossB\n", transmissionGlossinessWidth_, kind, data);
    writeTextureKey(source, "opacity\n", transparency_, kind, data);
    return 1;
}

} // namespace hair
