// The live picture of hairlab serve: one shot, composed once, refined pass by pass on a worker
// thread. A change cancels the running pass (a flag the tiles check per row) and starts again;
// a parameter change sets the value on the scene's own instance, and a change of camera, size,
// samples or exposure keeps the scene, so that only a change of what the scene is made of builds it again.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "lookdev/shot.h"

namespace hairlab {

// A picture of the passes so far and the shot version it shows.
struct LivePicture {
    quor::render::FrameResult frame;
    quor::render::WriteOptions write;
    int samples = 0; // 0 for the draft
    std::uint64_t version = 0;
};

class LiveView {
  public:
    // Composes the shot (throws InputError as compose does) and starts refining it.
    LiveView(harness::Library& library, lookdev::Shot shot);
    ~LiveView();
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    lookdev::Shot shot() const;
    std::uint64_t version() const { return version_.load(); }
    // Replaces the shot (validated first; on a refusal nothing changes).
    void setShot(lookdev::Shot shot);
    // Sets one parameter of a lock's material ("none" unconnects a texture slot); refuses an
    // unknown lock, parameter or a value outside the limits as the command line does.
    void setParameter(int lock, const std::string& name, const std::string& value);
    // The newest picture; null before the first pass.
    std::shared_ptr<const LivePicture> picture() const;
    // Waits until the picture of the current version has at least samples (or the view stops);
    // for tests and the benchmark.
    std::shared_ptr<const LivePicture> waitFor(int samples, double seconds) const;
    // Cancels the pass and ends the worker; later changes are refused.
    void stop();

  private:
    void run();
    // The first picture of a version, small and enlarged; false when a change cancelled it.
    bool draft(std::uint64_t version);
    // Takes the scene from the worker: sets the cancel flag and locks.
    std::unique_lock<std::mutex> takeScene();
    // Gives the scene back to the worker; restart also makes a new version of the picture.
    void release(std::unique_lock<std::mutex>& lock);
    void restart(std::unique_lock<std::mutex>& lock);
    void publish(std::shared_ptr<const LivePicture> picture);

    harness::Library& library_;
    mutable std::mutex mutex_; // the composition and the renderer, held by the worker through a pass
    std::condition_variable wake_;
    mutable std::mutex shotMutex_; // the shot, changed only with mutex_ held too
    lookdev::Shot shot_;
    std::unique_ptr<lookdev::Composition> comp_;
    std::unique_ptr<quor::render::Renderer> renderer_;
    bool fresh_ = true; // the renderer must be made again and its passes begun
    std::atomic<bool> stopping_{false};
    std::atomic<bool> cancel_{false};
    std::atomic<int> waiting_{0};
    std::atomic<std::uint64_t> version_{1};

    mutable std::mutex pictureMutex_;
    mutable std::condition_variable pictureChanged_;
    std::shared_ptr<const LivePicture> picture_;
    std::thread worker_;
};

} // namespace hairlab
