// Environment light: a uniform colour, or a latitude-longitude map importance-sampled by
// luminance (a marginal distribution over rows, a conditional one over each row's columns).
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "render/render.h"

namespace quor::render {

namespace {

// Caps of a map read from a file (16.7 Mpx, as 8192x2048 or 5760x2880).
constexpr int kMaxMapSide = 32768;
constexpr std::uint64_t kMaxMapPixels = 16ull << 20;
// Brightest radiance a map pixel keeps: far above the brightest pixel of ordinary captures, and
// low enough that a path's products and a pixel's sums stay finite.
constexpr float kMaxRadiance = 1e6f;

float luminance(Float3 c) { return 0.2126f * c.x + 0.7152f * c.y + 0.0722f * c.z; }

// Index of the first entry of an increasing table above u, and where u falls inside it.
int pick(const std::vector<float>& cdf, float u, float& frac) {
    int n = static_cast<int>(cdf.size()) - 1;
    int i = static_cast<int>(std::upper_bound(cdf.begin() + 1, cdf.end(), u) - cdf.begin()) - 1;
    i = std::clamp(i, 0, n - 1);
    float w = cdf[i + 1] - cdf[i];
    frac = w > 0 ? std::clamp((u - cdf[i]) / w, 0.0f, 1.0f) : 0.5f;
    return i;
}

} // namespace

struct Environment::Map {
    int width = 0, height = 0;
    std::vector<float> rgb;
    std::vector<float> rowCdf;              // height + 1
    std::vector<std::vector<float>> colCdf; // per row, width + 1
    std::vector<float> pixelPdf;            // probability of each pixel
    Float3 at(int x, int y) const {
        const float* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        return {p[0], p[1], p[2]};
    }
    // Pixel of a direction: u = azimuth from -z towards +x, v = angle from +y.
    void pixelOf(Float3 d, int& x, int& y) const {
        float u = 0.5f + std::atan2(d.x, -d.z) / (2 * kPi);
        float v = std::acos(std::clamp(d.y, -1.0f, 1.0f)) / kPi;
        x = std::clamp(static_cast<int>(u * width), 0, width - 1);
        y = std::clamp(static_cast<int>(v * height), 0, height - 1);
    }
};

Environment::Environment() = default;
Environment::~Environment() = default;
Environment::Environment(Environment&&) noexcept = default;
Environment& Environment::operator=(Environment&&) noexcept = default;

Environment Environment::uniform(Float3 color) {
    Environment e;
    e.color_ = color;
    return e;
}

Environment Environment::sky(float scale) {
    const int w = 64, h = 64;
    const Float3 zenith{0.5f, 0.55f, 0.65f}, horizon{0.35f, 0.33f, 0.3f}, ground{0.06f, 0.055f, 0.05f};
    std::vector<float> rgb;
    for (int y = 0; y < h; ++y) {
        float dy = std::cos((y + 0.5f) / h * kPi);
        Float3 c = dy >= 0 ? horizon * (1 - std::pow(dy, 0.6f)) + zenith * std::pow(dy, 0.6f)
                           : horizon * (1 - std::fmin(-dy * 4, 1.0f)) + ground * std::fmin(-dy * 4, 1.0f);
        c = c * scale;
        for (int x = 0; x < w; ++x)
            rgb.insert(rgb.end(), {c.x, c.y, c.z});
    }
    return map(w, h, std::move(rgb));
}

Environment Environment::map(int width, int height, std::vector<float> rgb) {
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<std::size_t>(width) * height * 3)
        throw std::invalid_argument("an environment map needs width × height RGB values");
    auto m = std::make_unique<Map>();
    m->width = width;
    m->height = height;
    m->rgb = std::move(rgb);
    for (float& v : m->rgb)
        v = v > 0 ? std::min(v, kMaxRadiance) : 0; // NaN and negatives 0, +inf the cap
    // Each pixel in proportion to its luminance times its solid angle (sin θ); a small floor
    // keeps every direction reachable.
    std::vector<float> rowSum(height);
    m->colCdf.assign(height, std::vector<float>(width + 1, 0));
    double total = 0;
    for (int y = 0; y < height; ++y) {
        float s = std::sin((y + 0.5f) / height * kPi);
        auto& cdf = m->colCdf[y];
        for (int x = 0; x < width; ++x)
            cdf[x + 1] = cdf[x] + (luminance(m->at(x, y)) + 1e-4f) * s;
        rowSum[y] = cdf[width];
        for (float& v : cdf)
            v = rowSum[y] > 0 ? v / rowSum[y] : 0;
        total += rowSum[y];
    }
    m->rowCdf.assign(height + 1, 0);
    for (int y = 0; y < height; ++y)
        m->rowCdf[y + 1] = m->rowCdf[y] + static_cast<float>(rowSum[y] / total);
    m->rowCdf[height] = 1;
    m->pixelPdf.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            m->pixelPdf[static_cast<std::size_t>(y) * width + x] =
                (m->rowCdf[y + 1] - m->rowCdf[y]) * (m->colCdf[y][x + 1] - m->colCdf[y][x]);
    Environment e;
    e.map_ = std::move(m);
    return e;
}

Environment Environment::load(const std::string& path) {
    auto refuse = [&](const std::string& why) {
        std::string line = why;
        std::replace(line.begin(), line.end(), '\n', ' ');
        return std::runtime_error("--env: cannot read '" + path + "': " + line);
    };
    std::string why;
    const std::uint64_t fileSize = inputFileSize(path, why);
    if (!why.empty()) throw refuse(why);
    // The header alone first: the declared size is checked before any pixel is allocated.
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        why = OIIO::geterror();
        throw refuse(why.empty() ? "unknown format" : why);
    }
    const OIIO::ImageSpec spec = in->spec();
    const std::uint64_t pixels =
        std::uint64_t(std::max(spec.width, 0)) * std::uint64_t(std::max(spec.height, 0));
    if (spec.width < 2 || spec.height < 1 || spec.nchannels < 1 || spec.depth > 1 ||
        spec.width > kMaxMapSide || spec.height > kMaxMapSide || pixels > kMaxMapPixels)
        throw std::runtime_error("--env: '" + path + "' is not a latitude-longitude map of a sane size (" +
                                 std::to_string(spec.width) + "x" + std::to_string(spec.height) +
                                 "; at most " + std::to_string(kMaxMapSide) + " a side and " +
                                 std::to_string(kMaxMapPixels) + " pixels)");
    // No format packs its pixels tighter than deflate's best ratio (1032:1, for EXR; run
    // lengths of 127 in .hdr), so a file smaller than that cannot hold what it declares.
    const std::uint64_t raw =
        pixels * std::uint64_t(spec.nchannels) * std::max<std::size_t>(spec.format.size(), 1);
    if (fileSize < raw / 1032)
        throw refuse("declares " + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
                     " pixels, more than its " + std::to_string(fileSize) + " bytes can hold");
    // Rows in bands, so that a file whose data ends early is refused before the whole map is
    // allocated; the first three channels only (grey repeated).
    const int nch = std::min(spec.nchannels, 3), band = spec.tile_width > 0 ? spec.height : 64;
    std::vector<float> rgb, part;
    for (int y = 0; y < spec.height; y += band) {
        const int y1 = std::min(spec.height, y + band);
        part.resize(static_cast<std::size_t>(y1 - y) * spec.width * nch);
        bool ok = spec.tile_width > 0 ? in->read_image(0, 0, 0, nch, OIIO::TypeDesc::FLOAT, part.data())
                                      : in->read_scanlines(0, 0, spec.y + y, spec.y + y1, 0, 0, nch,
                                                           OIIO::TypeDesc::FLOAT, part.data());
        if (!ok) throw refuse(in->geterror());
        for (std::size_t p = 0; p < part.size() / nch; ++p)
            for (int c = 0; c < 3; ++c)
                rgb.push_back(part[p * nch + std::min(c, nch - 1)]);
    }
    return map(spec.width, spec.height, std::move(rgb));
}

bool Environment::isUniform() const { return !map_; }

void Environment::transform(float rotateDegrees, float intensity) {
    const float a = rotateDegrees * kPi / 180;
    rotated_ = rotateDegrees != 0;
    cos_ = std::cos(a);
    sin_ = std::sin(a);
    intensity_ = intensity;
}

Float3 Environment::radiance(Float3 dir) const { return mapRadiance(toMap(dir)) * intensity_; }

Float3 Environment::mapRadiance(Float3 dir) const {
    if (!map_) return color_;
    // Bilinear between pixel centres, wrapping in azimuth; the density stays per pixel, which
    // the estimators divide by, so the smoothing costs no bias.
    const Map& m = *map_;
    float u = (0.5f + std::atan2(dir.x, -dir.z) / (2 * kPi)) * m.width - 0.5f;
    float v = std::acos(std::clamp(dir.y, -1.0f, 1.0f)) / kPi * m.height - 0.5f;
    int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
    float fx = u - x0, fy = v - y0;
    auto px = [&](int x, int y) {
        return m.at(((x % m.width) + m.width) % m.width, std::clamp(y, 0, m.height - 1));
    };
    return (px(x0, y0) * (1 - fx) + px(x0 + 1, y0) * fx) * (1 - fy) +
           (px(x0, y0 + 1) * (1 - fx) + px(x0 + 1, y0 + 1) * fx) * fy;
}

Float3 Environment::sample(float u, float v, Float3& radiance, float& pdf) const {
    if (!map_) {
        float z = 1 - 2 * u, phi = 2 * kPi * v;
        float rho = std::sqrt(std::max(0.0f, 1 - z * z));
        radiance = color_ * intensity_;
        pdf = 1 / (4 * kPi);
        return {rho * std::cos(phi), rho * std::sin(phi), z};
    }
    const Map& m = *map_;
    float fy, fx;
    int y = pick(m.rowCdf, u, fy);
    int x = pick(m.colCdf[y], v, fx);
    float theta = (y + fy) / m.height * kPi, phi = ((x + fx) / m.width - 0.5f) * 2 * kPi;
    Float3 d{std::sin(theta) * std::sin(phi), std::cos(theta), -std::sin(theta) * std::cos(phi)};
    radiance = m.at(x, y) * intensity_;
    pdf = mapPdf(d);
    return fromMap(d);
}

float Environment::pdf(Float3 dir) const { return mapPdf(toMap(dir)); }

float Environment::mapPdf(Float3 dir) const {
    if (!map_) return 1 / (4 * kPi);
    const Map& m = *map_;
    int x, y;
    m.pixelOf(dir, x, y);
    // Uniform in (θ, φ) inside a pixel: the solid-angle density carries 1 / sin θ.
    float s = std::sqrt(std::max(0.0f, 1 - dir.y * dir.y));
    float area = (2 * kPi / m.width) * (kPi / m.height) * std::max(s, 1e-4f);
    return m.pixelPdf[static_cast<std::size_t>(y) * m.width + x] / area;
}

} // namespace quor::render
