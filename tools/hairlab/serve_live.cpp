#include "serve_live.h"

#include <algorithm>
#include <chrono>

#include "errors.h"
#include "lookdev/look_file.h"

namespace hairlab {

namespace r = quor::render;

namespace {

// What a shot is made of apart from what a composed scene can take without being built again:
// camera, picture size, samples, seed, threads, outputs, exposure, backdrop and what its locks
// are shaded with (types, presets, values, labels; their number stays).
lookdev::Json structure(lookdev::Json j, const lookdev::Shot& shot) {
    j.erase("camera");
    j.erase("render");
    j["looks"] = shot.looks.size();
    j["labels"] = shot.render.labels;
    if (j.contains("lighting")) {
        j["lighting"].erase("exposure");
        j["lighting"].erase("backdrop");
    }
    return j;
}

// Samples of the next pass: the first pictures come quickly, later passes are larger so that the
// picture is assembled less often.
int passSize(int done) { return std::clamp(done, 1, 8); }

// The draft of a new version takes one sample per pixel at a quarter of the size each way: a
// sixteenth of the first full pass, so that a change shows at once and the full passes follow.
constexpr int kDraftScale = 4;

// src enlarged to width × height by repeating its pixels.
r::Image enlarged(const r::Image& src, int width, int height) {
    r::Image out{width, height, src.channels,
                 std::vector<float>(static_cast<std::size_t>(width) * height * src.channels)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int sx = std::min(x * src.width / width, src.width - 1);
            const int sy = std::min(y * src.height / height, src.height - 1);
            for (int c = 0; c < src.channels; ++c)
                out.data[(static_cast<std::size_t>(y) * width + x) * src.channels + c] = src.at(sx, sy, c);
        }
    return out;
}

} // namespace

LiveView::LiveView(harness::Library& library, lookdev::Shot shot)
    : library_(library), shot_(std::move(shot)) {
    comp_ = lookdev::compose(library_, shot_);
    comp_->options.channels = true; // the page shows any channel
    worker_ = std::thread([this] { run(); });
}

LiveView::~LiveView() { stop(); }

void LiveView::stop() {
    {
        auto lock = takeScene();
        stopping_ = true;
        release(lock);
    }
    wake_.notify_all();
    pictureChanged_.notify_all();
    if (worker_.joinable()) worker_.join();
}

lookdev::Shot LiveView::shot() const {
    std::lock_guard<std::mutex> lock(shotMutex_);
    return shot_;
}

std::unique_lock<std::mutex> LiveView::takeScene() {
    // Announced before the flag is set: the worker clears the flag before it looks.
    ++waiting_;
    cancel_ = true;
    std::unique_lock<std::mutex> lock(mutex_);
    return lock;
}

void LiveView::release(std::unique_lock<std::mutex>& lock) {
    --waiting_;
    lock.unlock();
    wake_.notify_all();
}

void LiveView::restart(std::unique_lock<std::mutex>& lock) {
    ++version_;
    fresh_ = true;
    release(lock);
}

void LiveView::setShot(lookdev::Shot shot) {
    lookdev::validate(library_, shot);
    const lookdev::Shot old = this->shot();
    const lookdev::Json now = lookdev::shotToJson(library_, shot), was = lookdev::shotToJson(library_, old);
    const bool same = structure(now, shot) == structure(was, old);
    // A new scene is composed before the old one is given up, without holding the worker back.
    std::unique_ptr<lookdev::Composition> comp = same ? nullptr : lookdev::compose(library_, shot);
    auto lock = takeScene();
    if (stopping_) {
        release(lock);
        throw UsageError("the server is stopping");
    }
    renderer_.reset(); // its render ends before its instances go
    if (comp) {
        comp_ = std::move(comp);
        comp_->options.channels = true;
    } else {
        if (now["looks"] != was["looks"]) lookdev::restyle(library_, *comp_, shot);
        const lookdev::RenderSettings& rs = shot.render;
        r::frame(comp_->scene, rs.width, rs.height, shot.camera);
        comp_->options.width = rs.width;
        comp_->options.height = rs.height;
        comp_->options.spp = rs.spp;
        comp_->options.threads = rs.threads;
        comp_->options.seed = rs.seed;
        comp_->write.exposure = shot.lighting.exposure;
        comp_->write.backdrop = shot.lighting.backdrop;
    }
    {
        std::lock_guard<std::mutex> guard(shotMutex_);
        shot_ = std::move(shot);
    }
    restart(lock);
}

void LiveView::setParameter(int lock, const std::string& name, const std::string& value) {
    auto guard = takeScene();
    try {
        if (stopping_) throw UsageError("the server is stopping");
        if (lock < 0 || lock >= static_cast<int>(comp_->instances.size()))
            throw UsageError("lock: " + std::to_string(lock) + " is not a lock of the shot (0 to " +
                             std::to_string(comp_->instances.size() - 1) + ")");
        // Set first: a refused value changes nothing.
        comp_->instances[static_cast<std::size_t>(lock)]->set(name, value, shot_.unchecked);
    } catch (...) {
        release(guard); // the cancelled pass begins again
        throw;
    }
    {
        std::lock_guard<std::mutex> shotLock(shotMutex_);
        harness::ParamSets& values = shot_.looks[static_cast<std::size_t>(lock)].values;
        std::erase_if(values, [&](const auto& v) { return v.first == name; });
        values.emplace_back(name, value);
    }
    renderer_.reset(); // materials take new values at renderBegin and frameBegin
    restart(guard);
}

std::shared_ptr<const LivePicture> LiveView::picture() const {
    std::lock_guard<std::mutex> lock(pictureMutex_);
    return picture_;
}

std::shared_ptr<const LivePicture> LiveView::waitFor(int samples, double seconds) const {
    std::unique_lock<std::mutex> lock(pictureMutex_);
    pictureChanged_.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
        return stopping_ ||
               (picture_ && picture_->version == version_.load() && picture_->samples >= samples);
    });
    return picture_;
}

void LiveView::publish(std::shared_ptr<const LivePicture> picture) {
    {
        std::lock_guard<std::mutex> lock(pictureMutex_);
        picture_ = std::move(picture);
    }
    pictureChanged_.notify_all();
}

void LiveView::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] {
            return stopping_ || (waiting_.load() == 0 &&
                                 (fresh_ || (renderer_ && renderer_->passSamples() < comp_->options.spp)));
        });
        if (stopping_) break;
        // Cleared before looking: a change announced from here on sets it again.
        cancel_ = false;
        if (waiting_.load() > 0) continue;
        const std::uint64_t version = version_.load();
        if (fresh_) {
            if (!renderer_) {
                if (!draft(version)) continue; // still fresh: begun again once the change is made
                renderer_ = std::make_unique<r::Renderer>(comp_->scene, comp_->options);
            }
            fresh_ = false;
            renderer_->beginPasses();
        }
        const int done = renderer_->passSamples();
        const int count = std::min(passSize(done), comp_->options.spp - done);
        if (!renderer_->renderPass(count, &cancel_)) {
            fresh_ = true; // begun again once the change is made
            continue;
        }
        auto picture = std::make_shared<LivePicture>();
        picture->frame = renderer_->passResult();
        if (comp_->labelled()) r::drawLabels(picture->frame, comp_->scene, comp_->labels);
        picture->write = comp_->write;
        picture->samples = renderer_->passSamples();
        picture->version = version;
        publish(std::move(picture));
    }
    renderer_.reset();
}

bool LiveView::draft(std::uint64_t version) {
    const r::RenderOptions& full = comp_->options;
    r::RenderOptions o = full;
    o.width = std::max(1, full.width / kDraftScale);
    o.height = std::max(1, full.height / kDraftScale);
    o.progress = nullptr;
    r::FrameResult small;
    {
        r::Renderer renderer(comp_->scene, o);
        renderer.beginPasses();
        if (!renderer.renderPass(1, &cancel_)) return false;
        small = renderer.passResult();
    }
    auto picture = std::make_shared<LivePicture>();
    picture->frame = std::move(small);
    r::FrameResult& f = picture->frame;
    f.hair = enlarged(f.hair, full.width, full.height);
    f.backdrop = enlarged(f.backdrop, full.width, full.height);
    for (auto& [alias, image] : f.channels)
        image = enlarged(image, full.width, full.height);
    if (comp_->labelled()) r::drawLabels(picture->frame, comp_->scene, comp_->labels);
    picture->write = comp_->write;
    picture->version = version;
    publish(std::move(picture));
    return true;
}

} // namespace hairlab
