// Helpers for the text descriptions that materials give the host's GPU renderer.
#pragma once
#include "quor/gpu.h"
#include "quor/texture.h"

namespace hair {

// A key line followed by the host's own description of the texture behind it.
template <class Texture>
void writeTextureKey(quor::ShaderSource& source, const char* key, const Texture* texture, const char* kind,
                     quor::OCLData* data) {
    source.append(key);
    quor::RTTexInterface::getRTTexSource(texture, "", "", kind, source, data);
}

} // namespace hair
