// The host allocator over the C heap, with the hooks tests use to count and refuse calls.
#include "quor/memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace quor {

namespace {
std::atomic<int> failNext{0};
std::atomic<int> skipNext{0};
std::atomic<long> calls{0};
std::mutex captureMutex;
std::function<void(const std::u16string&)> capture;
} // namespace

void* vmalloc(std::size_t size) {
    calls.fetch_add(1, std::memory_order_relaxed);
    int k = skipNext.load(std::memory_order_relaxed);
    while (k > 0) {
        if (skipNext.compare_exchange_weak(k, k - 1, std::memory_order_relaxed)) return std::malloc(size ? size : 1);
    }
    int f = failNext.load(std::memory_order_relaxed);
    while (f > 0) {
        if (failNext.compare_exchange_weak(f, f - 1, std::memory_order_relaxed)) return nullptr;
    }
    return std::malloc(size ? size : 1);
}

void vfree(void* block) { std::free(block); }

void vmallocFailNext(int n, int skip) {
    skipNext.store(n > 0 ? skip : 0, std::memory_order_relaxed);
    failNext.store(n, std::memory_order_relaxed);
}
long vmallocCalls() { return calls.load(std::memory_order_relaxed); }

void debugOutputW(const char16_t* text) {
    std::u16string s(text);
    std::lock_guard<std::mutex> lock(captureMutex);
    if (capture) {
        capture(s);
        return;
    }
    // The stand-in's debugger is stderr; non-ASCII units are shown as '?'.
    std::string narrow;
    for (char16_t c : s) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    std::fputs(narrow.c_str(), stderr);
}

void setDebugCapture(std::function<void(const std::u16string&)> hook) {
    std::lock_guard<std::mutex> lock(captureMutex);
    capture = std::move(hook);
}

} // namespace quor
