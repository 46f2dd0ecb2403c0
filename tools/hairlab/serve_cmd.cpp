// hairlab serve: look development in the browser. One page and a JSON API over a live,
// progressively refined picture of a shot (render's shot options, or a look file).
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "commands.h"
#include "errors.h"
#include "options.h"
#include "serve_api.h"
#include "serve_live.h"
#include "shot_options.h"

namespace hairlab {

namespace {

struct ServeArgs {
    RenderArgs render;
    std::string host = "127.0.0.1", root = ".";
    int port = 8765;
};

bool loopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// SIGINT and SIGTERM go to one thread that stops the server; the server's own threads are
// started with both blocked, so none of them is interrupted halfway.
class StopOnSignal {
  public:
    explicit StopOnSignal(httplib::Server& server) {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
        waiter_ = std::thread([this, &server] {
            int sig = 0;
            sigwait(&set_, &sig);
            // A signal may come before the server listens: stop it once it does.
            while (!done_) {
                if (server.is_running()) {
                    server.stop();
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~StopOnSignal() {
        done_ = true;
        pthread_kill(waiter_.native_handle(), SIGTERM); // taken by sigwait, if still waiting
        waiter_.join();
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

  private:
    sigset_t set_, old_;
    std::atomic<bool> done_{false};
    std::thread waiter_;
};

} // namespace

Action addServeCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "serve", "Look development in the browser: a live picture, the material editor and lobe plots");
    auto a = std::make_shared<ServeArgs>();
    a->render.shot.subject = lookdev::Subject::Swatch;
    a->render.scene = "swatch";
    addShotOptions(*cmd, a->render);
    addInteger(*cmd, "--port", a->port, 0, 65535, "TCP port (0: any free port)");
    addText(*cmd, "--host", a->host,
            "Address to listen on; anything but a loopback address lets the whole network in");
    addText(*cmd, "--root", a->root,
            "The only folder grooms, environments and looks are read from and renders and looks written to");
    cmd->footer("Prints the page's address and serves until SIGINT or SIGTERM. The API is described in the "
                "README.");

    return [a, cmd](Session& s) {
        std::error_code ec;
        if (!std::filesystem::is_directory(a->root, ec))
            throw UsageError("--root: '" + printable(a->root) + "' is not a folder");
        lookdev::Shot shot = makeShot(s.library, a->render, *cmd);
        httplib::Server server;
        StopOnSignal signals(server); // before any thread starts
        LiveView view(s.library, std::move(shot));
        ServeApi api(s.library, view, a->root);
        api.install(server);
        int port = a->port;
        if (port == 0)
            port = server.bind_to_any_port(a->host);
        else if (!server.bind_to_port(a->host, port))
            port = -1;
        if (port <= 0)
            throw UsageError("--port: cannot listen on " + printable(a->host) + " port " +
                             std::to_string(a->port));
        if (!loopback(a->host))
            s.err << "warning: listening on " << printable(a->host)
                  << ": anyone who can reach this address can use the server and its root folder\n";
        const bool v6 = a->host.find(':') != std::string::npos;
        s.out << "hairlab serve: http://" << (v6 ? "[" + a->host + "]" : a->host) << ":" << port << "/ (root "
              << api.root() << ")" << std::endl;
        server.listen_after_bind();
        api.stop();
        view.stop();
        s.out << "hairlab serve: stopped" << std::endl;
        return 0;
    };
}

} // namespace hairlab
