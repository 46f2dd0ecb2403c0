// Running hairlab in-process, and the same shading point built directly through the harness, so
// that the tests compare what hairlab prints with what the calls answered.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

#include "commands.h"
#include "point_options.h"

namespace hairlab::test {

using Args = std::vector<std::string>;

struct Outcome {
    int status;
    std::string out, err;
};

inline std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline Args with(Args base, const Args& extra) {
    base.insert(base.end(), extra.begin(), extra.end());
    return base;
}

inline std::vector<const char*> argv(const Args& args) {
    std::vector<const char*> v;
    for (const std::string& a : args)
        v.push_back(a.c_str());
    return v;
}

// hairlab [--plugin BRDF_HAIR_LIB] args... (the plug-in built beside it unless args name one).
inline Outcome hairlab(Args args) {
    if (std::find(args.begin(), args.end(), "--plugin") == args.end())
        args.insert(args.begin(), {"--plugin", BRDF_HAIR_LIB});
    args.insert(args.begin(), "hairlab");
    std::ostringstream out, err;
    int status = run(static_cast<int>(args.size()), argv(args).data(), out, err);
    return {status, out.str(), err.str()};
}

// hairlab run as a child process, for what an in-process run cannot show: a crash, a hang
// (killed after timeout seconds) and the peak memory of the whole process.
struct Process {
    int status = -1;   // exit status; -1 when killed by a signal
    int signal = 0;    // the signal that ended it
    bool hung = false; // killed after the timeout
    long peakKiB = 0;  // peak resident memory
    std::string out, err;
};

inline Process hairlabProcess(Args args, double timeout = 60) {
    if (std::find(args.begin(), args.end(), "--plugin") == args.end())
        args.insert(args.begin(), {"--plugin", BRDF_HAIR_LIB});
    args.insert(args.begin(), HAIRLAB_EXE);
    std::vector<char*> av;
    for (std::string& a : args)
        av.push_back(a.data());
    av.push_back(nullptr);
    const std::string base = ::testing::TempDir() + "hairlab_child_" + std::to_string(getpid());
    const std::string outPath = base + ".out", errPath = base + ".err";
    pid_t pid = fork();
    if (pid == 0) { // only async-signal-safe calls until exec
        int in = open("/dev/null", O_RDONLY), out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
            err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        execv(HAIRLAB_EXE, av.data());
        _exit(127);
    }
    Process p;
    if (pid < 0) return p;
    int st = 0;
    struct rusage ru {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (wait4(pid, &st, WNOHANG, &ru) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &st, 0, &ru);
            p.hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    p.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    p.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
    p.peakKiB = ru.ru_maxrss;
    p.out = readFile(outPath);
    p.err = readFile(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return p;
}

inline harness::Library& library() {
    static harness::Library lib(BRDF_HAIR_LIB);
    return lib;
}

// The shading point hairlab's option parser makes of args (a command's own options skipped).
inline std::unique_ptr<harness::ShadingPoint> point(Args args, bool shade = true) {
    CLI::App app;
    PointArgs options;
    options.add(*app.add_subcommand("probe")->allow_extras());
    args.insert(args.begin(), {"app", "probe"});
    app.parse(static_cast<int>(args.size()), argv(args).data());
    auto p = std::make_unique<harness::ShadingPoint>(library(), options.options());
    if (shade) p->shade();
    return p;
}

// Numbers as the text output is specified: "%.9g", joined by blanks.
inline std::string g9(std::initializer_list<float> values) {
    std::string s;
    char buf[32];
    for (float v : values) {
        std::snprintf(buf, sizeof buf, "%s%.9g", s.empty() ? "" : " ", double(v));
        s += buf;
    }
    return s;
}

} // namespace hairlab::test
