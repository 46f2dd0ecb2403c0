#include "serve_api.h"

#include <httplib.h>

#include <filesystem>
#include <functional>
#include <set>

#include "commands.h"
#include "errors.h"
#include "harness/numbers.h"
#include "lookdev/look_file.h"
#include "serve_page.h"

namespace hairlab {

namespace fs = std::filesystem;
namespace r = quor::render;
using harness::InputError;

namespace {

using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

void sendJson(httplib::Response& res, const OrderedJson& j, int status = 200) {
    res.status = status;
    res.set_content(j.dump(), "application/json");
}

void sendError(httplib::Response& res, int status, const std::string& message) {
    sendJson(res, {{"error", printable(message)}}, status);
}

// Every refusal a handler raises as the status and one-line JSON it means.
Handler guarded(Handler handler) {
    return [handler](const httplib::Request& req, httplib::Response& res) {
        try {
            handler(req, res);
        } catch (const Forbidden& e) {
            sendError(res, 403, e.what());
        } catch (const InputError& e) {
            sendError(res, 400, e.what());
        } catch (const nlohmann::json::exception& e) {
            sendError(res, 400, std::string("request: ") + e.what());
        } catch (const std::exception& e) {
            sendError(res, 500, e.what());
        }
    };
}

// The body as a JSON object whose keys are all among the known ones.
OrderedJson bodyObject(const httplib::Request& req, const std::set<std::string>& known) {
    OrderedJson j = OrderedJson::parse(req.body, nullptr, false);
    if (j.is_discarded()) throw InputError("request: the body is not JSON");
    if (!j.is_object()) throw InputError("request: expected a JSON object");
    for (auto it = j.begin(); it != j.end(); ++it)
        if (!known.count(it.key())) throw InputError("request: unknown key '" + it.key() + "'");
    return j;
}

const OrderedJson& need(const OrderedJson& j, const std::string& key) {
    if (!j.contains(key)) throw InputError("request: key '" + key + "' is missing");
    return j[key];
}

std::string needString(const OrderedJson& j, const std::string& key) {
    const OrderedJson& v = need(j, key);
    if (!v.is_string()) throw InputError("request: key '" + key + "': expected a string");
    return v.get<std::string>();
}

int needInteger(const OrderedJson& j, const std::string& key, long long lo, long long hi) {
    const OrderedJson& v = need(j, key);
    if (!v.is_number_integer()) throw InputError("request: key '" + key + "': expected an integer");
    long long n = v.get<long long>();
    if (n < lo || n > hi)
        throw InputError("request: key '" + key + "': " + std::to_string(n) + " is not in " +
                         std::to_string(lo) + " to " + std::to_string(hi));
    return static_cast<int>(n);
}

// The picture of one channel as a frame the image writer takes: the hair layer holds it.
r::FrameResult channelFrame(const LivePicture& pic, const std::string& channel) {
    const r::FrameResult& f = pic.frame;
    if (channel == "beauty") return f;
    r::FrameResult out;
    const std::size_t n = static_cast<std::size_t>(f.hair.width) * f.hair.height;
    out.hair = {f.hair.width, f.hair.height, 4, std::vector<float>(4 * n, 1.0f)};
    out.backdrop = {f.hair.width, f.hair.height, 3, std::vector<float>(3 * n, 0.0f)};
    const r::Image* src = nullptr;
    if (channel == "backdrop") src = &f.backdrop;
    for (auto& [alias, img] : f.channels)
        if (r::channelName(alias) == channel) src = &img;
    if (channel != "alpha" && !src)
        throw InputError("channel: '" + channel + "' is not beauty, alpha, backdrop or a filled channel");
    for (std::size_t p = 0; p < n; ++p)
        for (int i = 0; i < 3; ++i)
            out.hair.data[4 * p + i] = src ? src->data[3 * p + i] : f.hair.data[4 * p + 3];
    return out;
}

OrderedJson channelsOf(const LivePicture* pic) {
    OrderedJson list = {"beauty", "alpha", "backdrop"};
    if (pic)
        for (auto& [alias, img] : pic->frame.channels)
            list.push_back(r::channelName(alias));
    return list;
}

} // namespace

ServeApi::ServeApi(harness::Library& library, LiveView& view, std::string root)
    : library_(library), view_(view), root_(fs::weakly_canonical(fs::absolute(root)).string()) {}

std::string ServeApi::inRoot(const std::string& what, const std::string& path) const {
    if (path.empty()) throw InputError(what + ": empty path");
    fs::path p = fs::path(path).is_absolute() ? fs::path(path) : fs::path(root_) / path;
    fs::path c = fs::weakly_canonical(p);
    fs::path base(root_);
    auto [b, cit] = std::mismatch(base.begin(), base.end(), c.begin(), c.end());
    if (b != base.end()) throw Forbidden(what + ": '" + path + "' is outside the served folder");
    return c.string();
}

void ServeApi::checkJsonPaths(const OrderedJson& j) const {
    if (!j.is_object()) return;
    auto text = [&](const char* section, const char* key) -> std::string {
        auto s = j.find(section);
        if (s == j.end() || !s->is_object()) return "";
        auto v = s->find(key);
        return v != s->end() && v->is_string() ? v->get<std::string>() : "";
    };
    for (const lookdev::Field& f : {lookdev::kGroomFile, lookdev::kEnvironment}) {
        std::string key = f.key, section = key.substr(0, key.find('.')), name = key.substr(key.find('.') + 1);
        std::string path = text(section.c_str(), name.c_str());
        if (!path.empty()) inRoot(f.key, path);
    }
    auto render = j.find("render");
    if (render != j.end() && render->is_object() && render->contains("outputs") &&
        (*render)["outputs"].is_array())
        for (const OrderedJson& out : (*render)["outputs"])
            if (out.is_string()) inRoot(lookdev::kOutputs.key, out.get<std::string>());
}

void ServeApi::checkShotPaths(const lookdev::Shot& shot) const {
    if (!shot.groom.file.empty()) inRoot(lookdev::kGroomFile.key, shot.groom.file);
    if (!shot.lighting.environment.empty()) inRoot(lookdev::kEnvironment.key, shot.lighting.environment);
    for (const std::string& out : shot.render.outputs)
        inRoot(lookdev::kOutputs.key, out);
}

void ServeApi::install(httplib::Server& server) {
    installPage(server);
    installShot(server);
    installPicture(server);
    installLooks(server);
}

void ServeApi::installPage(httplib::Server& server) {
    auto asset = [&server](const char* path, const char* body, const char* type) {
        server.Get(path, [body, type](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, type);
        });
    };
    asset("/", kIndexHtml, "text/html; charset=utf-8");
    asset("/app.js", kAppJs, "text/javascript; charset=utf-8");
    asset("/style.css", kStyleCss, "text/css; charset=utf-8");
    server.set_payload_max_length(kMaxBody);
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.status == 413) {
            sendError(res, 400, "request: the body is larger than " + std::to_string(kMaxBody) + " bytes");
        } else if (res.body.empty()) {
            sendError(res, res.status, res.status == 404 ? "no such page or API" : "bad request");
        }
    });
    server.Get("/api/types", guarded([this](const httplib::Request&, httplib::Response& res) {
                   sendJson(res, typesJson(library_));
               }));
}

void ServeApi::installShot(httplib::Server& server) {
    server.Get("/api/shot", guarded([this](const httplib::Request&, httplib::Response& res) {
                   res.set_header("X-Version", std::to_string(view_.version()));
                   sendJson(res, lookdev::shotToJson(library_, view_.shot(), root_));
               }));
    server.Put("/api/shot", guarded([this](const httplib::Request& req, httplib::Response& res) {
                   OrderedJson j = OrderedJson::parse(req.body, nullptr, false);
                   if (j.is_discarded()) throw InputError("request: the body is not JSON");
                   checkJsonPaths(j); // before the shot's files are looked at
                   lookdev::Shot shot = lookdev::shotFromJson(library_, j, "shot", root_);
                   checkShotPaths(shot);
                   view_.setShot(std::move(shot));
                   res.set_header("X-Version", std::to_string(view_.version()));
                   sendJson(res, lookdev::shotToJson(library_, view_.shot(), root_));
               }));
    server.Post("/api/param", guarded([this](const httplib::Request& req, httplib::Response& res) {
                    OrderedJson j = bodyObject(req, {"lock", "name", "value"});
                    int lock = needInteger(j, "lock", 0, lookdev::kMaxLocks);
                    std::string name = needString(j, "name");
                    const OrderedJson& v = need(j, "value");
                    if (v.is_object())
                        throw InputError(name + ": expected a number, colour, boolean or null");
                    view_.setParameter(lock, name, lookdev::valueText(v));
                    sendJson(res, {{"version", view_.version()}});
                }));
}

void ServeApi::installPicture(httplib::Server& server) {
    server.Get("/api/image", guarded([this](const httplib::Request& req, httplib::Response& res) {
                   std::string channel = req.has_param("channel") ? req.get_param_value("channel") : "beauty";
                   std::string format = req.has_param("format") ? req.get_param_value("format") : "png";
                   if (format != "png" && format != "jpg" && format != "exr")
                       throw InputError("format: '" + format + "' is not png, jpg or exr");
                   auto pic = view_.picture();
                   if (!pic) {
                       pic = view_.waitFor(1, 30);
                       if (!pic) throw std::runtime_error("no picture yet");
                   }
                   r::FrameResult frame = channelFrame(*pic, channel);
                   std::vector<unsigned char> bytes = r::encodeImage("preview." + format, frame, pic->write);
                   res.set_header("X-Samples", std::to_string(pic->samples));
                   res.set_header("X-Version", std::to_string(pic->version));
                   res.set_header("Cache-Control", "no-store");
                   res.set_content(std::string(bytes.begin(), bytes.end()), format == "png" ? "image/png"
                                                                            : format == "jpg"
                                                                                ? "image/jpeg"
                                                                                : "image/x-exr");
               }));
    server.Get("/api/lobes", guarded([this](const httplib::Request& req, httplib::Response& res) {
                   std::string text = req.has_param("lock") ? req.get_param_value("lock") : "0";
                   int lock = static_cast<int>(harness::parseUnsignedIn("lock", text, 0, lookdev::kMaxLocks));
                   sendJson(res, lobesJson(library_, view_.shot(), lock));
               }));
    server.Post("/api/render", guarded([this](const httplib::Request& req, httplib::Response& res) {
                    OrderedJson j = bodyObject(req, {"output", "spp"});
                    std::string output = inRoot("output", needString(j, "output"));
                    lookdev::Shot shot = view_.shot();
                    if (j.contains("spp")) shot.render.spp = needInteger(j, "spp", 1, lookdev::kMaxSpp);
                    shot.render.outputs = {output};
                    final_.start(library_, std::move(shot), output);
                    sendJson(res, final_.status(), 202);
                }));
    server.Get("/api/status", guarded([this](const httplib::Request&, httplib::Response& res) {
                   OrderedJson s = {{"version", view_.version()}};
                   auto pic = view_.picture();
                   s["samples"] = pic && pic->version == view_.version() ? pic->samples : 0;
                   s["picture"] = pic ? pic->version : 0; // the version the newest picture shows
                   s["spp"] = view_.shot().render.spp;
                   s["channels"] = channelsOf(pic.get());
                   s["render"] = final_.status();
                   sendJson(res, s);
               }));
}

void ServeApi::installLooks(httplib::Server& server) {
    server.Post("/api/save", guarded([this](const httplib::Request& req, httplib::Response& res) {
                    OrderedJson j = bodyObject(req, {"path"});
                    std::string path = inRoot("path", needString(j, "path"));
                    if (lookdev::lowerExtension(path) != ".json")
                        throw InputError("path: a look file ends in .json");
                    lookdev::saveShot(library_, view_.shot(), path);
                    sendJson(res, {{"path", fs::relative(path, root_).string()}});
                }));
    server.Post("/api/open", guarded([this](const httplib::Request& req, httplib::Response& res) {
                    OrderedJson j = bodyObject(req, {"path"});
                    std::string path = inRoot("path", needString(j, "path"));
                    lookdev::Shot shot = lookdev::loadShot(library_, path);
                    checkShotPaths(shot);
                    view_.setShot(std::move(shot));
                    sendJson(res, lookdev::shotToJson(library_, view_.shot(), root_));
                }));
    server.Get("/api/files", guarded([this](const httplib::Request&, httplib::Response& res) {
                   OrderedJson files = {{"grooms", OrderedJson::array()},
                                        {"environments", OrderedJson::array()},
                                        {"looks", OrderedJson::array()}};
                   std::error_code ec;
                   for (const auto& e : fs::directory_iterator(root_, ec)) {
                       if (!e.is_regular_file(ec)) continue;
                       std::string ext = lookdev::lowerExtension(e.path().string());
                       const char* kind = ext == ".hair"                   ? "grooms"
                                          : ext == ".exr" || ext == ".hdr" ? "environments"
                                          : ext == ".json"                 ? "looks"
                                                                           : nullptr;
                       if (kind) files[kind].push_back(e.path().filename().string());
                   }
                   for (auto& [k, list] : files.items())
                       std::sort(list.begin(), list.end());
                   sendJson(res, files);
               }));
}

} // namespace hairlab

namespace hairlab {

FinalRender::~FinalRender() { cancel(); }

void FinalRender::cancel() {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
}

void FinalRender::start(harness::Library& library, lookdev::Shot shot, const std::string& output) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == "rendering") throw InputError("render: a final render is running; wait for it");
    // Refused before the thread starts, as the command line refuses before it renders.
    lookdev::validate(library, shot);
    if (thread_.joinable()) thread_.join();
    state_ = "rendering";
    output_ = output;
    error_.clear();
    spp_ = shot.render.spp;
    samples_ = 0;
    cancel_ = false;
    thread_ = std::thread([this, &library, shot = std::move(shot)] { run(library, shot); });
}

void FinalRender::run(harness::Library& library, lookdev::Shot shot) {
    std::string state = "done", error;
    double seconds = 0;
    try {
        auto comp = lookdev::compose(library, shot);
        quor::render::FrameResult frame;
        {
            quor::render::Renderer renderer(comp->scene, comp->options);
            renderer.beginPasses();
            // Passes of a few samples: progress to report and a cancel that is heard.
            while (renderer.passSamples() < comp->options.spp && !cancel_) {
                int n = std::min(4, comp->options.spp - renderer.passSamples());
                if (renderer.renderPass(n, &cancel_)) samples_ = renderer.passSamples();
            }
            if (!cancel_) frame = renderer.passResult();
        }
        if (cancel_) {
            state = "cancelled";
        } else {
            if (comp->labelled()) quor::render::drawLabels(frame, comp->scene, comp->labels);
            comp->writeOutputs(frame);
            seconds = frame.seconds;
        }
    } catch (const std::exception& e) {
        state = "failed";
        error = printable(e.what());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
    error_ = error;
    seconds_ = seconds;
}

OrderedJson FinalRender::status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    OrderedJson s = {{"state", state_}, {"samples", samples_.load()}, {"spp", spp_}};
    s["output"] = output_.empty() ? OrderedJson(nullptr) : OrderedJson(output_);
    s["progress"] = spp_ > 0 ? double(samples_.load()) / spp_ : 0.0;
    s["seconds"] = seconds_;
    s["error"] = error_.empty() ? OrderedJson(nullptr) : OrderedJson(error_);
    return s;
}

} // namespace hairlab
