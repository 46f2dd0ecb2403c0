// Image output through OpenImageIO: linear half-float EXR with named layers, or tone-mapped sRGB.
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <OpenImageIO/filesystem.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "quor/context.h"
#include "render/render.h"

namespace quor::render {

namespace {

std::string oneLine(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// The file is encoded in memory and then written with every step checked, close included: an
// encoder's own writes may not report a full disk, a device or a failed flush.
std::runtime_error writeError(const std::string& path, const std::string& why) {
    return std::runtime_error("cannot write '" + path + "': " + why);
}

std::vector<unsigned char> encode(const std::string& path, const OIIO::ImageSpec& spec,
                                  const std::vector<float>& data) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) throw writeError(path, oneLine(OIIO::geterror()));
    std::vector<unsigned char> bytes;
    OIIO::Filesystem::IOVecOutput memory(bytes);
    if (!out->set_ioproxy(&memory) || !out->open(path, spec) ||
        !out->write_image(OIIO::TypeDesc::FLOAT, data.data()) || !out->close())
        throw writeError(path, oneLine(out->geterror()));
    return bytes;
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw writeError(path, std::strerror(errno));
    for (std::size_t at = 0; at < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int error = n < 0 ? errno : EIO;
            ::close(fd);
            throw writeError(path, std::strerror(error));
        }
        at += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) throw writeError(path, std::strerror(errno));
}

float srgb(float x) { return x <= 0.0031308f ? 12.92f * x : 1.055f * std::pow(x, 1.0f / 2.4f) - 0.055f; }

// DejaVu Sans from fonts-dejavu-core; OpenImageIO also looks the name up in its font folders.
const char* labelFont() {
    static const std::string path = [] {
        const char* file = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
        return std::string(OIIO::Filesystem::exists(file) ? file : "DejaVuSans");
    }();
    return path.c_str();
}

} // namespace

void checkLabelFont() {
    if (!OIIO::ImageBufAlgo::text_size("Ag", 16, labelFont()).defined())
        throw std::runtime_error("cannot load the label font DejaVu Sans (install fonts-dejavu-core): " +
                                 oneLine(OIIO::geterror()));
}

namespace {

// The words of a label broken into lines no wider than width pixels at the size (a line break in
// the label always breaks; a word wider than the width gets a line of its own).
std::string wrapped(const std::string& label, int size, float width) {
    auto wide = [&](const std::string& t) {
        OIIO::ROI box = OIIO::ImageBufAlgo::text_size(t, size, labelFont());
        if (!box.defined()) throw std::runtime_error("cannot draw the label '" + label + "'");
        return float(box.width());
    };
    std::string out, line, word;
    auto flush = [&](bool hard) {
        if (!word.empty()) {
            std::string longer = line.empty() ? word : line + " " + word;
            if (line.empty() || wide(longer) <= width)
                line = longer;
            else
                out += line + "\n", line = word;
            word.clear();
        }
        if (hard) out += line + "\n", line.clear();
    };
    for (char c : label) {
        if (c == ' ' || c == '\n')
            flush(c == '\n');
        else
            word += c;
    }
    flush(false);
    return out + line;
}

bool overlaps(const OIIO::ROI& a, const OIIO::ROI& b) {
    return a.xbegin < b.xend && b.xbegin < a.xend && a.ybegin < b.yend && b.ybegin < a.yend;
}

} // namespace

void drawLabels(FrameResult& frame, const Scene& scene, const std::vector<std::string>& labels) {
    const int w = frame.hair.width, h = frame.hair.height;
    OIIO::ImageBuf text(OIIO::ImageSpec(w, h, 4, OIIO::TypeDesc::FLOAT));
    OIIO::ImageBufAlgo::zero(text);
    const float ink[4] = {0.85f, 0.85f, 0.85f, 1.0f}; // linear; light on a dark plate
    // One size for every label, in proportion to the picture: 15 px at 1280x720.
    const int size = std::max(6, static_cast<int>(std::lround(15 * std::min(w / 1280.0f, h / 720.0f))));
    const int pad = std::max(2, size / 4);
    // Whether a box covers hair the render saw (before any label).
    auto coversHair = [&](const OIIO::ROI& box) {
        for (int y = std::max(0, box.ybegin); y < std::min(h, box.yend); ++y)
            for (int x = std::max(0, box.xbegin); x < std::min(w, box.xend); ++x)
                if (frame.hair.at(x, y, 3) > 0.02f) return true;
        return false;
    };
    std::vector<OIIO::ROI> plates;
    for (int g = 0; g < scene.groupCount() && g < static_cast<int>(labels.size()); ++g) {
        Bounds b = scene.groupBounds(g);
        if (b.empty() || labels[g].empty()) continue;
        Float3 mid = (b.lo + b.hi) * 0.5f;
        float x0, x1, yTop, unused;
        if (!project(scene.camera, w, h, {b.lo.x, b.lo.y, mid.z}, x0, yTop) ||
            !project(scene.camera, w, h, {b.hi.x, b.lo.y, mid.z}, x1, unused))
            continue;
        // Lines as wide as the lock and most of the gap to its neighbour.
        const float top = (1 - yTop) * 0.5f * h, cx = (0.5f * (x0 + x1) + 1) * 0.5f * w;
        const float cell = std::max(float(4 * size), std::fabs(x1 - x0) * 0.5f * w * 1.3f);
        const std::string lines = wrapped(labels[g], size, cell - 2 * pad);
        OIIO::ROI box = OIIO::ImageBufAlgo::text_size(lines, size, labelFont());
        if (!box.defined()) throw std::runtime_error("cannot draw the label '" + labels[g] + "'");
        // Under the lock; moved down (then up) in steps of a line until it covers neither hair
        // nor another label; a label with no such place is left out (the legend still names it).
        const int left = static_cast<int>(cx) - box.width() / 2, step = std::max(1, size / 2);
        auto plateAt = [&](int baseline) {
            return OIIO::ROI(left - pad, left + box.width() + pad, baseline + box.ybegin - pad,
                             baseline + box.yend + pad, 0, 1, 0, 4);
        };
        const int first = static_cast<int>(top) + size / 2 + size;
        int baseline = -1;
        for (int k = 0; baseline < 0 && k < 4 * h / step; ++k) {
            const int at = first + (k % 2 ? -(k + 1) / 2 : k / 2) * step;
            OIIO::ROI plate = plateAt(at);
            if (plate.ybegin < 0 || plate.yend > h || plate.xbegin < 0 || plate.xend > w) continue;
            if (coversHair(plate) || std::any_of(plates.begin(), plates.end(),
                                                 [&](const OIIO::ROI& p) { return overlaps(p, plate); }))
                continue;
            baseline = at;
        }
        if (baseline < 0) continue;
        OIIO::ROI plate = plateAt(baseline);
        plates.push_back(plate);
        // A dark plate under the text so that it reads over the backdrop and a viewer's white.
        const float shade[4] = {0.01f, 0.01f, 0.012f, 0.75f};
        OIIO::ImageBufAlgo::fill(text, shade, plate);
        if (!OIIO::ImageBufAlgo::render_text(text, static_cast<int>(cx), baseline, lines, size, labelFont(),
                                             ink, OIIO::ImageBufAlgo::TextAlignX::Center,
                                             OIIO::ImageBufAlgo::TextAlignY::Baseline))
            throw std::runtime_error("cannot draw the label '" + labels[g] +
                                     "': " + oneLine(text.geterror()));
    }
    // Text over the picture: the hair layer (premultiplied) takes the ink, the backdrop is covered.
    std::vector<float> px(static_cast<std::size_t>(w) * h * 4);
    text.get_pixels(OIIO::ROI(0, w, 0, h, 0, 1, 0, 4), OIIO::TypeDesc::FLOAT, px.data());
    for (std::size_t p = 0; p < px.size() / 4; ++p) {
        float a = px[4 * p + 3];
        if (!(a > 0)) continue;
        float* hair = &frame.hair.data[4 * p];
        for (int c = 0; c < 3; ++c) {
            hair[c] = hair[c] * (1 - a) + px[4 * p + c];
            frame.backdrop.data[3 * p + c] *= 1 - a;
        }
        hair[3] = a + hair[3] * (1 - a);
        for (auto& [alias, img] : frame.channels)
            for (int c = 0; c < 3; ++c)
                img.data[3 * p + c] *= 1 - a;
    }
}

std::string lowerExtension(const std::string& path) {
    std::size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

const std::vector<std::string>& imageExtensions() {
    static const std::vector<std::string> ext = {".exr", ".png", ".tif", ".tiff", ".jpg", ".jpeg"};
    return ext;
}

std::string channelName(int alias) {
    switch (alias) {
    case CHANNEL_DIFFUSE_FILTER:
        return "diffuse_filter";
    case CHANNEL_REFLECTION:
        return "reflection";
    case CHANNEL_TRANSMISSION:
        return "transmission";
    case CHANNEL_SHADOW:
        return "shadow";
    case CHANNEL_SPECULAR:
        return "specular";
    case CHANNEL_LIGHTING:
        return "lighting";
    case CHANNEL_GI:
        return "gi";
    case CHANNEL_RAW_GI:
        return "raw_gi";
    case CHANNEL_RAW_LIGHTING:
        return "raw_lighting";
    case CHANNEL_RAW_SHADOW:
        return "raw_shadow";
    case CHANNEL_REFLECTION_FILTER:
        return "reflection_filter";
    case CHANNEL_RAW_REFLECTION:
        return "raw_reflection";
    case CHANNEL_TRANSMISSION_FILTER:
        return "transmission_filter";
    case CHANNEL_RAW_TRANSMISSION:
        return "raw_transmission";
    case CHANNEL_MATTE_SHADOW:
        return "matte_shadow";
    case CHANNEL_TOTAL_LIGHTING:
        return "total_lighting";
    case CHANNEL_RAW_TOTAL_LIGHTING:
        return "raw_total_lighting";
    case CHANNEL_STRAND_FRAME:
        return "strand_frame";
    default:
        return "channel" + std::to_string(alias);
    }
}

float toneMap(float linear, float exposure) {
    float x = linear * exposure;
    if (!(x > 0)) return 0;                                    // also maps NaN to black
    if (x > 0.8f) x = 1 - 0.2f * std::exp(-(x - 0.8f) / 0.2f); // meets the line with slope 1
    return std::min(srgb(x), 1.0f);
}

std::vector<unsigned char> encodeImage(const std::string& path, const FrameResult& frame,
                                       const WriteOptions& options) {
    const Image& hair = frame.hair;
    const int w = hair.width, h = hair.height;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    const std::string ext = lowerExtension(path);
    if (ext == ".exr") {
        OIIO::ImageSpec spec(w, h, 0, OIIO::TypeDesc::HALF);
        spec.channelnames = {"R", "G", "B", "A", "backdrop.R", "backdrop.G", "backdrop.B"};
        for (auto& [alias, img] : frame.channels)
            for (const char* c : {".R", ".G", ".B"})
                spec.channelnames.push_back(channelName(alias) + c);
        spec.nchannels = static_cast<int>(spec.channelnames.size());
        spec.alpha_channel = 3;
        spec.attribute("compression", "zip");
        std::vector<float> data(n * spec.nchannels);
        for (std::size_t p = 0; p < n; ++p) {
            float* d = &data[p * spec.nchannels];
            for (int c = 0; c < 4; ++c)
                *d++ = hair.data[4 * p + c];
            for (int c = 0; c < 3; ++c)
                *d++ = frame.backdrop.data[3 * p + c];
            for (auto& [alias, img] : frame.channels)
                for (int c = 0; c < 3; ++c)
                    *d++ = img.data[3 * p + c];
        }
        // Exposure scales the light (hair, backdrop, channels), not the coverage. Half floats end
        // at 65504: brighter values are written as that, not as infinity.
        for (std::size_t i = 0; i < data.size(); ++i) {
            float v = i % spec.nchannels == 3 ? data[i] : data[i] * options.exposure;
            data[i] = std::isnan(v) ? 0.0f : std::clamp(v, -65504.0f, 65504.0f);
        }
        return encode(path, spec, data);
    }
    const bool jpeg = ext == ".jpg" || ext == ".jpeg";
    const bool tiff = ext == ".tif" || ext == ".tiff";
    if (!jpeg && !tiff && ext != ".png") throw writeError(path, "unknown extension");
    const bool opaque = jpeg || options.backdrop;
    const int nch = opaque ? 3 : 4;
    OIIO::ImageSpec spec(w, h, nch, tiff ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8);
    if (!opaque) spec.alpha_channel = 3;
    spec.attribute("oiio:ColorSpace", "sRGB");
    if (jpeg) spec.attribute("CompressionQuality", 95);
    std::vector<float> data(n * nch);
    for (std::size_t p = 0; p < n; ++p) {
        const float* c = &hair.data[4 * p];
        float a = std::clamp(c[3], 0.0f, 1.0f);
        for (int i = 0; i < 3; ++i) {
            // Over the environment, or the hair's own colour (un-premultiplied) under its alpha.
            float v = opaque ? c[i] + frame.backdrop.data[3 * p + i] : (a > 1e-3f ? c[i] / a : 0.0f);
            data[p * nch + i] = toneMap(v, options.exposure);
        }
        if (!opaque) data[p * nch + 3] = a;
    }
    return encode(path, spec, data);
}

void writeImage(const std::string& path, const FrameResult& frame, const WriteOptions& options) {
    writeBytes(path, encodeImage(path, frame, options));
}

} // namespace quor::render
