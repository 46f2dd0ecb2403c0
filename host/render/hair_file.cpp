// Reader of the binary .hair groom format. Layout (little-endian):
//   0   "HAIR"
//   4   uint32 strand count          8  uint32 point count       12 uint32 array flags
//   16  uint32 default segments      20 float default thickness   24 float default transparency
//   28  float[3] default colour      40 char[88] free text
//   128 the arrays the flags announce, in this order: segments (uint16 per strand, bit 0),
//       points (3 floats per point, bit 1), thickness (bit 2), transparency (bit 3), colour
//       (3 floats per point, bit 4).
// Every count is checked against the others and against the file's size before anything is
// read, so a malformed file is refused in one line and never read out of bounds.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <sys/stat.h>

#include "render/render.h"

namespace quor::render {

namespace {

constexpr std::uint64_t kHeader = 128;
constexpr std::uint64_t kMaxStrands = 2'000'000, kMaxPoints = 20'000'000;
// The largest coordinate and thickness the intersector traces: its rays start within about
// 1.8e18 of the origin, and a framed camera stands a few extents away from the groom.
constexpr float kMaxExtent = 1e15f;
enum : std::uint32_t { kSegments = 1, kPoints = 2, kThickness = 4, kTransparency = 8, kColor = 16 };

std::uint32_t u32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}
void put32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void putFloat(std::vector<unsigned char>& out, float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    put32(out, v);
}
float f32(const unsigned char* p) {
    std::uint32_t v = u32(p);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

} // namespace

std::uint64_t inputFileSize(const std::string& path, std::string& why) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        why = std::strerror(errno);
        return 0;
    }
    if (!S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "is a folder" : "is not a regular file";
        return 0;
    }
    why.clear();
    return static_cast<std::uint64_t>(st.st_size);
}

std::vector<Strand> readHairFile(const std::string& path) {
    auto refuse = [&](const std::string& why) -> HairFileError {
        return HairFileError("--groom: '" + path + "': " + why);
    };
    std::string why;
    const std::uint64_t size = inputFileSize(path, why);
    if (!why.empty()) throw refuse(why);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw refuse(std::strerror(errno));
    if (size < kHeader) throw refuse("shorter than the 128-byte header");
    unsigned char head[kHeader];
    in.seekg(0);
    in.read(reinterpret_cast<char*>(head), kHeader);
    if (!in || std::memcmp(head, "HAIR", 4) != 0) throw refuse("not a .hair file (no HAIR signature)");
    const std::uint64_t strands = u32(head + 4), points = u32(head + 8);
    const std::uint32_t flags = u32(head + 12), defSegments = u32(head + 16);
    const float defThickness = f32(head + 20), defTransparency = f32(head + 24);
    const Float3 defColor{f32(head + 28), f32(head + 32), f32(head + 36)};
    if (!(flags & kPoints)) throw refuse("has no point array");
    if (strands == 0 || points == 0) throw refuse("holds no strands");
    if (strands > kMaxStrands || points > kMaxPoints)
        throw refuse(std::to_string(strands) + " strands and " + std::to_string(points) +
                     " points is more than this renderer takes (" + std::to_string(kMaxStrands) + ", " +
                     std::to_string(kMaxPoints) + ")");
    if (!std::isfinite(defThickness) || !std::isfinite(defTransparency) || !std::isfinite(defColor.x) ||
        !std::isfinite(defColor.y) || !std::isfinite(defColor.z))
        throw refuse("a default in the header is not a finite number");
    std::uint64_t expected = kHeader + (flags & kSegments ? 2 * strands : 0) + 12 * points +
                             (flags & kThickness ? 4 * points : 0) +
                             (flags & kTransparency ? 4 * points : 0) + (flags & kColor ? 12 * points : 0);
    if (size < expected)
        throw refuse("truncated: the header announces " + std::to_string(expected) + " bytes, the file has " +
                     std::to_string(size));
    if (size > expected)
        throw refuse(std::to_string(size - expected) + " bytes beyond the arrays the header announces");

    std::vector<unsigned char> body(expected - kHeader);
    in.read(reinterpret_cast<char*>(body.data()), static_cast<std::streamsize>(body.size()));
    if (!in) throw refuse("cannot read the arrays");
    const unsigned char* at = body.data();
    std::vector<std::uint32_t> segments(strands, defSegments);
    if (flags & kSegments) {
        for (std::uint64_t s = 0; s < strands; ++s)
            segments[s] = at[2 * s] | at[2 * s + 1] << 8;
        at += 2 * strands;
    }
    std::uint64_t total = 0;
    for (std::uint32_t n : segments)
        total += std::uint64_t(n) + 1;
    if (total != points)
        throw refuse("the strands' segments make " + std::to_string(total) + " points, the header says " +
                     std::to_string(points));
    const unsigned char* pts = at;
    at += 12 * points;
    const unsigned char* thick = flags & kThickness ? at : nullptr;
    at += thick ? 4 * points : 0;
    const unsigned char* transp = flags & kTransparency ? at : nullptr;
    at += transp ? 4 * points : 0;
    const unsigned char* color = flags & kColor ? at : nullptr;

    std::vector<Strand> out;
    out.reserve(strands);
    std::uint64_t p = 0;
    for (std::uint64_t s = 0; s < strands; ++s) {
        const std::uint64_t n = std::uint64_t(segments[s]) + 1, first = p;
        Strand strand;
        strand.points.reserve(4 * n);
        Float3 c{}, t{};
        for (; p < first + n; ++p) {
            Float3 v{f32(pts + 12 * p), f32(pts + 12 * p + 4), f32(pts + 12 * p + 8)};
            // Thickness is a diameter; a file without thickness tapers from its default.
            float th = thick ? f32(thick + 4 * p) : defThickness * (1 - 0.65f * float(p - first) / float(n));
            float tr = transp ? f32(transp + 4 * p) : defTransparency;
            Float3 col = color ? Float3{f32(color + 12 * p), f32(color + 12 * p + 4), f32(color + 12 * p + 8)}
                               : defColor;
            if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z) || !std::isfinite(th) ||
                !std::isfinite(tr) || !std::isfinite(col.x) || !std::isfinite(col.y) || !std::isfinite(col.z))
                throw refuse("point " + std::to_string(p) + " holds a value that is not a finite number");
            if (th < 0) throw refuse("point " + std::to_string(p) + " has a negative thickness");
            if (std::fabs(v.x) > kMaxExtent || std::fabs(v.y) > kMaxExtent || std::fabs(v.z) > kMaxExtent ||
                th > kMaxExtent)
                throw refuse("point " + std::to_string(p) +
                             " has a coordinate or thickness beyond 1e15, more than this renderer traces");
            strand.points.insert(strand.points.end(), {v.x, v.y, v.z, 0.5f * th});
            if (color) strand.colors.insert(strand.colors.end(), {col.x, col.y, col.z});
            c = c + saturate(col) * (1.0f / n);
            t = t + saturate(Float3{tr, tr, tr}) * (1.0f / n);
        }
        strand.color = c;
        strand.transparency = t;
        if (n >= 2) out.push_back(std::move(strand)); // a single point draws nothing
    }
    return out;
}

void writeHairFile(const std::string& path, const std::vector<Strand>& strands, const std::string& info) {
    std::vector<const Strand*> kept;
    std::uint64_t points = 0;
    for (const Strand& s : strands) {
        std::size_t n = s.points.size() / 4;
        if (n < 2 || n > 65536) continue; // the format counts segments in 16 bits
        kept.push_back(&s);
        points += n;
    }
    std::vector<unsigned char> out = {'H', 'A', 'I', 'R'};
    put32(out, static_cast<std::uint32_t>(kept.size()));
    put32(out, static_cast<std::uint32_t>(points));
    put32(out, kSegments | kPoints | kThickness | kTransparency | kColor);
    put32(out, 0);
    for (float f : {0.0f, 0.0f, 0.0f, 0.0f, 0.0f})
        putFloat(out, f);
    std::string text = info.substr(0, 87);
    out.insert(out.end(), text.begin(), text.end());
    out.resize(kHeader, 0);
    for (const Strand* s : kept) {
        std::uint32_t segments = static_cast<std::uint32_t>(s->points.size() / 4 - 1);
        out.push_back(static_cast<unsigned char>(segments));
        out.push_back(static_cast<unsigned char>(segments >> 8));
    }
    for (const Strand* s : kept)
        for (std::size_t k = 0; k < s->points.size(); k += 4)
            for (int i = 0; i < 3; ++i)
                putFloat(out, s->points[k + i]);
    for (const Strand* s : kept) // a diameter
        for (std::size_t k = 3; k < s->points.size(); k += 4)
            putFloat(out, 2 * s->points[k]);
    for (const Strand* s : kept) // one value per point: the mean of the strand's three
        for (std::size_t k = 0; k < s->points.size(); k += 4)
            putFloat(out, (s->transparency.x + s->transparency.y + s->transparency.z) / 3);
    for (const Strand* s : kept) {
        const std::size_t n = s->points.size() / 4;
        const bool own = s->colors.size() == 3 * n;
        const float mean[3] = {s->color.x, s->color.y, s->color.z};
        for (std::size_t k = 0; k < n; ++k)
            for (int i = 0; i < 3; ++i)
                putFloat(out, own ? s->colors[3 * k + i] : mean[i]);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file) throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
}

} // namespace quor::render
