#include "quor/gpu.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "quor/texture.h"

namespace quor {

void ShaderSource::printf(const char* format, ...) {
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
        std::vector<char> buf(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, args);
        text_.append(buf.data(), static_cast<std::size_t>(n));
    }
    va_end(args);
}

namespace {
template <class Texture> int describe(const Texture* tex, ShaderSource& source) {
    if (!tex) {
        source.append("null\n");
        return 0;
    }
    std::string text;
    tex->describeGPU(text);
    source.append(text.c_str());
    return 1;
}
} // namespace

int RTTexInterface::getRTTexSource(const TextureInterface* tex, const char*, const char*, const char*,
                                   ShaderSource& source, OCLData*) {
    return describe(tex, source);
}

int RTTexInterface::getRTTexSource(const TextureFloatInterface* tex, const char*, const char*, const char*,
                                   ShaderSource& source, OCLData*) {
    return describe(tex, source);
}

} // namespace quor
