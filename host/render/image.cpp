// PNG output of renders: exposure, clipping and sRGB encoding through libpng.
#include <png.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "render/render.h"

namespace quor::render {

std::uint8_t toneMap(float linear, float exposure) {
    float x = linear * exposure;
    if (!(x > 0)) return 0; // also maps NaN to black
    if (x >= 1) return 255;
    float s = x <= 0.0031308f ? 12.92f * x : 1.055f * std::pow(x, 1.0f / 2.4f) - 0.055f;
    return static_cast<std::uint8_t>(std::lround(s * 255.0f));
}

bool writePng(const std::string& path, const Image& image, float exposure, bool vectorData) {
    if (image.width <= 0 || image.height <= 0) return false;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    std::vector<png_byte> row(static_cast<std::size_t>(image.width) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) {
        const float* src = &image.rgb[static_cast<std::size_t>(y) * image.width * 3];
        for (int i = 0; i < image.width * 3; ++i) {
            if (vectorData) {
                float v = std::isfinite(src[i]) ? 0.5f + 0.5f * src[i] : 0.5f;
                v = v < 0 ? 0 : (v > 1 ? 1 : v);
                row[i] = static_cast<png_byte>(std::lround(v * 255.0f));
            } else {
                row[i] = toneMap(src[i], exposure);
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

} // namespace quor::render
