// One frame: camera rays per pixel, tiles spread over a TBB arena with one tracer per thread
// index, a progress bar, and the assembly of the picture and its render channels.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <stdexcept>
#include <string>

#include "render/tracer.h"

namespace quor::render {

namespace {

constexpr int kTile = 16;

double threadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Draws a 30-column bar with the elapsed time and an estimate of the time left, in steps of 1 %
// once the frame has run for a second; any thread may report, the one that gets the lock draws.
class Progress {
  public:
    Progress(std::ostream* out, int total) : out_(out), total_(total) {}
    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    void tileDone() {
        int n = ++done_;
        if (!out_) return;
        double t = elapsed();
        if (t <= 1.0) return;
        int percent = n * 100 / total_;
        if (percent > shown_.load() && mutex_.try_lock()) {
            if (percent > shown_.load()) {
                shown_ = percent;
                draw(percent, t, t * (total_ - n) / n);
            }
            mutex_.unlock();
        }
    }
    void finish() {
        if (!out_ || shown_.load() < 0) return;
        draw(100, elapsed(), 0);
        *out_ << "\n" << std::flush;
    }

  private:
    static std::string clock(double seconds) {
        int s = static_cast<int>(seconds + 0.5);
        char buf[32];
        if (s >= 60)
            std::snprintf(buf, sizeof buf, "%d:%02d", s / 60, s % 60);
        else
            std::snprintf(buf, sizeof buf, "%d s", s);
        return buf;
    }
    void draw(int percent, double elapsed, double left) {
        int bar = percent * 30 / 100;
        // Trailing blanks wipe a longer previous line.
        *out_ << "\r[" << std::string(bar, '#') << std::string(30 - bar, ' ') << "] " << percent << "%  "
              << clock(elapsed) << " elapsed" << (percent < 100 ? ", about " + clock(left) + " left" : "")
              << "    " << std::flush;
    }
    std::ostream* out_;
    int total_;
    std::atomic<int> done_{0}, shown_{-1};
    std::mutex mutex_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The reconstruction filter, Blackman-Harris of radius 1.5 pixels (σ ≈ 0.42 px), separable. Each
// camera sample is placed uniformly (stratified) in its own pixel and splatted with the filter's
// weight onto every pixel centre within reach; a pixel is the weighted mean of the samples around
// it. Next to drawing positions from the filter, every pixel then averages its neighbours'
// samples too: noticeably less noise at the same count.
constexpr float kFilterRadius = 1.5f;
constexpr int kApron = 2; // pixels a tile's samples reach beyond it
// The filter's weight at a distance from a pixel centre, from a table (the window is evaluated
// for 25 pixels per sample).
float filterWeight(float d) {
    static constexpr int kBins = 512;
    static const auto table = [] {
        std::array<float, kBins + 1> t{};
        for (int i = 0; i <= kBins; ++i) {
            float x = 0.5f + 0.5f * float(i) / kBins; // 0.5 at the centre, 1 at the edge of the window
            t[i] = 0.35875f - 0.48829f * std::cos(2 * kPi * x) + 0.14128f * std::cos(4 * kPi * x) -
                   0.01168f * std::cos(6 * kPi * x);
        }
        return t;
    }();
    float x = std::fabs(d) / kFilterRadius * kBins;
    if (!(x < kBins)) return 0;
    int i = static_cast<int>(x);
    float f = x - i;
    return table[i] * (1 - f) + table[i + 1] * f;
}

// What one tile's samples leave on the pixels they reach: hair RGBA, backdrop RGB, filter weight.
constexpr int kSplatFloats = 8;

// A camera sample's value as it is splatted, within [0, 1e20]: the hair part is L minus the
// backdrop, which rounds to a little below 0 behind bright transparent strands; a product past
// the float range (a material's huge answer under a bright light) takes the cap and a NaN 0,
// so that no pixel's sum leaves the finite numbers.
inline float sampleValue(float v) { return v > 0 ? std::min(v, 1e20f) : 0.0f; }
inline Float3 sampleValue(Float3 c) { return {sampleValue(c.x), sampleValue(c.y), sampleValue(c.z)}; }

// Adaptive sampling looks at a pixel after 8, 12, 16, 24, 32, 48, ... samples: the next
// checkpoint after n.
inline int nextCheckpoint(int n) {
    return n < kFirstCheckpoint ? kFirstCheckpoint : n + (n & (n - 1) ? n / 3 : n / 2);
}

// The relative error of the mean of n luminance samples from their sums; a mean below 0.02
// counts as 0.02, so that near-black pixels need not be exact.
inline double relativeError(int n, double sum, double sumSq) {
    const double mean = sum / n, var = std::max(0.0, (sumSq - sum * mean) / (n - 1));
    return std::sqrt(var / n) / std::max(mean, 0.02);
}

// Which samples a tile adds: [first, end) of every pixel. A frame adds them all at once and
// leaves the mean of a pixel's own samples in its render channels; a pass adds its range to what
// earlier passes left in the splats and adds channel sums (divided when the picture is made).
struct SampleRange {
    int first = 0, end = 1;
    bool pass = false;
    bool adaptive = false;                     // a pixel may stop before end (a frame's samples only)
    const std::atomic<bool>* cancel = nullptr; // checked per row
};

// Every pixel of a tile: camera samples, each with sample points of its own derived from
// (seed, pixel, sample), so the picture depends neither on which thread renders the tile nor on
// how the samples are split into passes. The splats go to the tile's own buffer (the tile and
// its apron). False when cancelled.
bool renderTile(Tracer& tracer, RenderState& r, int x0, int y0, int x1, int y1, std::vector<float>& splat,
                const SampleRange& range) {
    const RenderOptions& o = r.opt;
    const CameraFrame& cam = r.cam;
    const bool channels = tracer.channelsOn();
    ChannelTarget& target = tracer.channels();
    const int sw = x1 - x0 + 2 * kApron, sh = y1 - y0 + 2 * kApron;
    if (range.first == 0) splat.assign(static_cast<std::size_t>(sw) * sh * kSplatFloats, 0.0f);
    float chSum[kChannelCount][kChannelFloats];
    bool chAny[kChannelCount];
    for (int y = y0; y < y1; ++y) {
        if (range.cancel && range.cancel->load(std::memory_order_relaxed)) return false;
        for (int x = x0; x < x1; ++x) {
            std::size_t pix = static_cast<std::size_t>(y) * o.width + x;
            if (channels) {
                std::fill(&chSum[0][0], &chSum[0][0] + kChannelCount * kChannelFloats, 0.0f);
                std::fill(std::begin(chAny), std::end(chAny), false);
            }
            // The pixel's samples splat here first: a pixel that stops early then counts as
            // much as one that takes every sample (else its neighbours' samples would outweigh it).
            float acc[2 * kApron + 1][2 * kApron + 1][kSplatFloats] = {};
            double lumSum = 0, lumSq = 0;
            int s = range.first, checkpoint = nextCheckpoint(0);
            for (; s < range.end; ++s) {
                if (range.adaptive && s == checkpoint) {
                    if (relativeError(s, lumSum, lumSq) <= o.adaptiveThreshold) break;
                    checkpoint = nextCheckpoint(s);
                }
                PixelSampler sampler(o.seed, pix, static_cast<std::uint32_t>(s));
                tracer.setSampler(&sampler);
                float u, v;
                sampler.get2D(0, u, v);
                const float px = x + u, py = y + v; // image position of the sample
                float sx = px / o.width * 2 - 1;
                float sy = 1 - py / o.height * 2;
                Ray ray;
                ray.org = cam.eye;
                Float3 d = cam.forward + cam.right * (sx * cam.halfW) + cam.up * (sy * cam.halfH);
                float len = std::sqrt(dot(d, d));
                ray.dir = d * (1.0f / len);
                ray.dirDiff[0] = cam.right * (2 * cam.halfW / o.width / len);
                ray.dirDiff[1] = cam.up * (-2 * cam.halfH / o.height / len);
                if (channels) target.clear();
                CameraSample cs;
                Float3 L = tracer.trace(ray, 0, Tracer::Kind::Camera, 0, &cs);
                const Float3 hair = sampleValue(L - cs.backdrop), backdrop = sampleValue(cs.backdrop);
                const Float3 seen = hair + backdrop;
                const double lum = 0.2126 * seen.x + 0.7152 * seen.y + 0.0722 * seen.z;
                lumSum += lum, lumSq += lum * lum;
                float wx[2 * kApron + 1];
                for (int i = 0; i <= 2 * kApron; ++i)
                    wx[i] = filterWeight(x - kApron + i + 0.5f - px);
                for (int ty = y - kApron; ty <= y + kApron; ++ty) {
                    float wy = filterWeight(ty + 0.5f - py);
                    if (wy <= 0) continue;
                    for (int tx = x - kApron; tx <= x + kApron; ++tx) {
                        float w = wy * wx[tx - x + kApron];
                        if (w <= 0) continue;
                        float* b = acc[ty - y + kApron][tx - x + kApron];
                        b[0] += w * hair.x, b[1] += w * hair.y, b[2] += w * hair.z, b[3] += w * cs.alpha;
                        b[4] += w * backdrop.x, b[5] += w * backdrop.y, b[6] += w * backdrop.z;
                        b[7] += w;
                    }
                }
                if (channels) {
                    for (int k = 0; k < kChannelCount; ++k) {
                        if (!target.written[k]) continue;
                        chAny[k] = true;
                        for (int i = 0; i < kChannelFloats; ++i)
                            chSum[k][i] += target.value[k][i];
                    }
                }
            }
            tracer.setSampler(nullptr);
            tracer.samples += static_cast<std::uint64_t>(s - range.first);
            const float scale = float(range.end - range.first) / float(s - range.first);
            for (int dy = 0; dy <= 2 * kApron; ++dy)
                for (int dx = 0; dx <= 2 * kApron; ++dx) {
                    float* b =
                        &splat[(static_cast<std::size_t>(y - y0 + dy) * sw + (x - x0 + dx)) * kSplatFloats];
                    for (int i = 0; i < kSplatFloats; ++i)
                        b[i] += acc[dy][dx][i] * scale;
                }
            if (channels) {
                const float inv = 1.0f / static_cast<float>(s - range.first);
                for (int k = 0; k < kChannelCount; ++k) {
                    if (!chAny[k]) continue;
                    float* buf = r.channelBuffer(k) + kChannelFloats * pix;
                    for (int i = 0; i < kChannelFloats; ++i)
                        buf[i] = range.pass ? buf[i] + chSum[k][i] : chSum[k][i] * inv;
                }
            }
        }
    }
    return true;
}

} // namespace

RenderState::RenderState(Scene& s, const RenderOptions& o) : scene(s), opt(o) {
    // More threads than cores would only take turns; the thread count reported is the one used.
    const int cores = std::max(1, tbb::info::default_concurrency());
    opt.threads = opt.threads <= 0 ? cores : std::min(opt.threads, cores);
    opt.width = std::max(1, opt.width);
    opt.height = std::max(1, opt.height);
    opt.spp = std::max(1, opt.spp);
    opt.giDepth = std::clamp(opt.giDepth, 0, 5);
    settings.flags = opt.channels ? SETTINGS_STRAND_FRAME : 0;
    sceneObject.hasUnits = true;
    sceneObject.scale = 0.01; // metres per scene unit
    qrenderer.threadCount = opt.threads;
    qrenderer.scene = &sceneObject;
    for (auto& flag : channelUsed)
        flag.store(false);
    if (!s.impl().committed) s.commit();
    for (int g = 0; g < s.groupCount(); ++g) {
        PluginBase* inst = s.groupInstance(g);
        auto* bsdf = static_cast<BSDFInterface*>(inst->getInterface(EXT_BSDF));
        auto* plugin = static_cast<QuorPluginInterface*>(inst->getInterface(EXT_QUOR_PLUGIN));
        if (!bsdf || !plugin)
            throw std::invalid_argument("a scene material offers no BSDF or plug-in interface");
        if (std::find(plugins.begin(), plugins.end(), plugin) == plugins.end()) plugins.push_back(plugin);
        groupBsdf.push_back(bsdf);
    }
}

float* RenderState::channelBuffer(int k) {
    if (!channelUsed[k].load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(channelMutex);
        if (!channelUsed[k].load(std::memory_order_relaxed)) {
            channelBuf[k].assign(static_cast<std::size_t>(opt.width) * opt.height * kChannelFloats, 0.0f);
            channelUsed[k].store(true, std::memory_order_release);
        }
    }
    return channelBuf[k].data();
}

void RenderState::clearChannels() {
    for (int k = 0; k < kChannelCount; ++k) {
        channelUsed[k].store(false);
        channelBuf[k].clear();
    }
}

struct Renderer::Impl {
    Impl(Scene& s, const RenderOptions& o) : state(s, o) {}
    RenderState state;
    std::vector<std::unique_ptr<Tracer>> tracers; // one per thread index
    std::vector<std::vector<float>> splats;       // per tile; kept from pass to pass
    bool inFrame = false;                         // between frameBegin and frameEnd
    int passSamples = 0;                          // samples per pixel the passes have added
    double passSeconds = 0;

    int tilesX() const { return (state.opt.width + kTile - 1) / kTile; }
    int tiles() const { return tilesX() * ((state.opt.height + kTile - 1) / kTile); }
    void beginFrame();
    void endFrame();
    bool runTiles(const SampleRange& range, Progress& progress);
    void resolve();
    FrameResult result(double seconds, int channelSamples);
};

Renderer::Renderer(Scene& scene, const RenderOptions& options)
    : impl_(std::make_unique<Impl>(scene, options)) {
    RenderState& r = impl_->state;
    for (QuorPluginInterface* p : r.plugins)
        p->renderBegin(&r.qrenderer);
    for (int i = 0; i < r.opt.threads; ++i)
        impl_->tracers.push_back(std::make_unique<Tracer>(r, i));
}

Renderer::~Renderer() {
    RenderState& r = impl_->state;
    impl_->endFrame();
    for (QuorPluginInterface* p : r.plugins)
        p->renderEnd(&r.qrenderer);
}

int Renderer::threads() const { return impl_->state.opt.threads; }

// The camera frame, cleared buffers and counters, and frameBegin for every material.
void Renderer::Impl::beginFrame() {
    endFrame();
    RenderState& r = state;
    const RenderOptions& o = r.opt;
    const Camera& c = r.scene.camera;
    Float3 fwd = unit(c.target - c.eye);
    Float3 right = unit(cross(fwd, c.up));
    r.cam.eye = c.eye;
    r.cam.forward = fwd;
    r.cam.right = right;
    r.cam.up = cross(right, fwd);
    r.cam.halfH = std::tan(0.5f * c.fovY * kPi / 180);
    r.cam.halfW = r.cam.halfH * o.width / o.height;
    r.hair.assign(static_cast<std::size_t>(o.width) * o.height * 4, 0.0f);
    r.backdrop.assign(static_cast<std::size_t>(o.width) * o.height * 3, 0.0f);
    r.clearChannels();
    for (auto& t : tracers) {
        t->shadingPoints = 0;
        t->shadowPoints = 0;
        t->rays = 0;
        t->cpuSeconds = 0;
        t->samples = 0;
        t->setChannels(o.channels);
    }
    for (QuorPluginInterface* p : r.plugins)
        p->frameBegin(&r.qrenderer);
    inFrame = true;
    splats.assign(static_cast<std::size_t>(tiles()), {});
}

void Renderer::Impl::endFrame() {
    if (!inFrame) return;
    inFrame = false;
    for (QuorPluginInterface* p : state.plugins)
        p->frameEnd(&state.qrenderer);
}

bool Renderer::Impl::runTiles(const SampleRange& range, Progress& progress) {
    const RenderOptions& o = state.opt;
    const int columns = tilesX();
    std::atomic<bool> complete{true};
    tbb::task_arena arena(o.threads);
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<int>(0, tiles(), 1), [&](const tbb::blocked_range<int>& part) {
            int index = tbb::this_task_arena::current_thread_index();
            Tracer& tracer = *tracers[static_cast<std::size_t>(std::clamp(index, 0, o.threads - 1))];
            for (int t = part.begin(); t < part.end(); ++t) {
                int tx = t % columns, ty = t / columns;
                double cpu0 = threadCpuSeconds();
                if (!renderTile(tracer, state, tx * kTile, ty * kTile, std::min(o.width, (tx + 1) * kTile),
                                std::min(o.height, (ty + 1) * kTile), splats[static_cast<std::size_t>(t)],
                                range))
                    complete = false;
                tracer.cpuSeconds += threadCpuSeconds() - cpu0;
                progress.tileDone();
            }
        });
    });
    return complete;
}

// The splats in tile order, whatever thread made them: the same sums for any thread count.
void Renderer::Impl::resolve() {
    RenderState& r = state;
    const RenderOptions& o = r.opt;
    const int columns = tilesX();
    std::vector<float> sum(static_cast<std::size_t>(o.width) * o.height * kSplatFloats, 0.0f);
    for (int t = 0; t < tiles(); ++t) {
        const int x0 = (t % columns) * kTile - kApron, y0 = (t / columns) * kTile - kApron;
        const int sw = std::min(o.width, x0 + kApron + kTile) - x0 + kApron;
        const std::vector<float>& b = splats[static_cast<std::size_t>(t)];
        const int sh = static_cast<int>(b.size() / kSplatFloats) / sw;
        for (int y = std::max(0, y0); y < std::min(o.height, y0 + sh); ++y)
            for (int x = std::max(0, x0); x < std::min(o.width, x0 + sw); ++x)
                for (int i = 0; i < kSplatFloats; ++i)
                    sum[(static_cast<std::size_t>(y) * o.width + x) * kSplatFloats + i] +=
                        b[(static_cast<std::size_t>(y - y0) * sw + (x - x0)) * kSplatFloats + i];
    }
    for (std::size_t p = 0; p < static_cast<std::size_t>(o.width) * o.height; ++p) {
        const float* s = &sum[p * kSplatFloats];
        const float inv = s[7] > 0 ? 1 / s[7] : 0;
        for (int i = 0; i < 4; ++i)
            r.hair[4 * p + i] = s[i] * inv;
        for (int i = 0; i < 3; ++i)
            r.backdrop[3 * p + i] = s[4 + i] * inv;
    }
}

// The picture and its counters; channels hold sums of channelSamples samples (0: means already).
FrameResult Renderer::Impl::result(double seconds, int channelSamples) {
    RenderState& r = state;
    const RenderOptions& o = r.opt;
    FrameResult out;
    out.seconds = seconds;
    out.threads = o.threads;
    for (auto& t : tracers) {
        out.cpuSeconds += t->cpuSeconds;
        out.shadingPoints += t->shadingPoints;
        out.shadowPoints += t->shadowPoints;
        out.rays += t->rays;
        out.meanSamples += static_cast<double>(t->samples);
    }
    out.meanSamples /= static_cast<double>(o.width) * o.height;
    out.hair = {o.width, o.height, 4, r.hair};
    out.backdrop = {o.width, o.height, 3, r.backdrop};
    const float inv = channelSamples > 0 ? 1.0f / channelSamples : 1.0f;
    for (int k = 0; k < kChannelCount; ++k) {
        if (!r.channelUsed[k].load()) continue;
        Image img{o.width, o.height, 3, {}};
        img.data.resize(static_cast<std::size_t>(o.width) * o.height * 3);
        bool filled = false; // a channel written only with zeros is left out
        for (std::size_t p = 0; p < img.data.size() / 3; ++p)
            for (int i = 0; i < 3; ++i) {
                float v = r.channelBuf[k][kChannelFloats * p + i];
                filled |= (img.data[3 * p + i] = channelSamples > 0 ? v * inv : v) != 0;
            }
        if (filled) out.channels[kFirstChannel + k] = std::move(img);
    }
    return out;
}

FrameResult Renderer::renderFrame() {
    Impl& m = *impl_;
    m.beginFrame();
    m.passSamples = 0;
    Progress progress(m.state.opt.progress, m.tiles());
    m.runTiles({0, m.state.opt.spp, false, m.state.opt.adaptive, nullptr}, progress);
    m.resolve();
    m.splats.clear();
    const double seconds = progress.elapsed();
    progress.finish();
    m.endFrame();
    return m.result(seconds, 0);
}

void Renderer::beginPasses() {
    impl_->beginFrame();
    impl_->passSamples = 0;
    impl_->passSeconds = 0;
}

bool Renderer::renderPass(int samples, const std::atomic<bool>* cancel) {
    Impl& m = *impl_;
    if (!m.inFrame || m.passSamples < 0) return false;
    Progress progress(nullptr, m.tiles());
    const int first = m.passSamples;
    if (!m.runTiles({first, first + std::max(1, samples), true, false, cancel}, progress)) {
        m.passSamples = -1; // partly added: unusable until the passes begin again
        return false;
    }
    m.passSamples = first + std::max(1, samples);
    m.passSeconds += progress.elapsed();
    return true;
}

int Renderer::passSamples() const { return std::max(0, impl_->passSamples); }

FrameResult Renderer::passResult() {
    Impl& m = *impl_;
    if (m.passSamples > 0) m.resolve();
    return m.result(m.passSeconds, std::max(1, m.passSamples));
}

} // namespace quor::render
