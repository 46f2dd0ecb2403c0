// The JSON API of hairlab serve over one live view: types with parsed hints, the shot, one
// parameter at a time, the progressive picture, lobe plots, looks and final renders. Files are
// read and written only under the root; bad requests get 400 and {"error": "one line"} in the
// command line's wording, a path that leaves the root 403.
#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>

#include "lookdev/shot.h"
#include "serve_live.h"

namespace httplib {
class Server;
}

namespace hairlab {

using OrderedJson = nlohmann::ordered_json;

// Request bodies larger than this are refused.
constexpr std::size_t kMaxBody = 1 << 20;

// A path outside the root.
struct Forbidden : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Hint text "key=(value), key=(value)" as an object of its items; limits become numbers and
// `enable` an object {"parameter": ..., "value": ...}. Items not of the form key=(value) are
// kept as written under "unparsed" (the command line takes no limit from them either).
OrderedJson parseHints(const char* hints);

// The library's types as `hairlab list --json` gives them, each parameter with its parsed hints,
// and the colour presets and curated looks.
OrderedJson typesJson(harness::Library& library);

// The plot data of a lock's material at the shot's view: eval along the azimuth and along the
// longitude, for the whole material and each of its lobes, and the directional albedo by
// evaluation and by sampling.
OrderedJson lobesJson(harness::Library& library, const lookdev::Shot& shot, int lock);

// One final render at a time, on its own thread and scene.
class FinalRender {
  public:
    ~FinalRender();
    // Refuses while one runs.
    void start(harness::Library& library, lookdev::Shot shot, const std::string& output);
    OrderedJson status() const;
    void cancel();

  private:
    void run(harness::Library& library, lookdev::Shot shot);
    mutable std::mutex mutex_;
    std::string state_ = "idle", output_, error_;
    int spp_ = 0;
    double seconds_ = 0;
    std::atomic<int> samples_{0};
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

class ServeApi {
  public:
    ServeApi(harness::Library& library, LiveView& view, std::string root);
    // Installs the page, the API and the error handler on the server.
    void install(httplib::Server& server);
    // Ends a final render that runs (before the view stops).
    void stop() { final_.cancel(); }

    // The path inside the root that a request names; throws Forbidden for one that leaves it
    // and InputError for an empty one.
    std::string inRoot(const std::string& what, const std::string& path) const;
    const std::string& root() const { return root_; }

  private:
    void installPage(httplib::Server& server);
    void installShot(httplib::Server& server);
    void installPicture(httplib::Server& server);
    void installLooks(httplib::Server& server);
    void checkShotPaths(const lookdev::Shot& shot) const;
    void checkJsonPaths(const OrderedJson& shot) const;
    harness::Library& library_;
    LiveView& view_;
    std::string root_;
    FinalRender final_;
};

} // namespace hairlab
