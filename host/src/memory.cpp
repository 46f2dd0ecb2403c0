// The host allocator over the C heap, with the hooks tests use to count and refuse calls.
#include "quor/memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <mutex>

namespace quor {

namespace {
std::atomic<int> failNext{0};
std::atomic<int> skipNext{0};
std::atomic<long> calls{0};
std::atomic<long long> bytesOut{0}; // usable sizes handed out and not yet given back
std::mutex captureMutex;
std::function<void(const std::u16string&)> capture;
} // namespace

namespace {
void* take(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (p) bytesOut.fetch_add(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}
} // namespace

void* vmalloc(std::size_t size) {
    calls.fetch_add(1, std::memory_order_relaxed);
    int k = skipNext.load(std::memory_order_relaxed);
    while (k > 0) {
        if (skipNext.compare_exchange_weak(k, k - 1, std::memory_order_relaxed)) return take(size);
    }
    int f = failNext.load(std::memory_order_relaxed);
    while (f > 0) {
        if (failNext.compare_exchange_weak(f, f - 1, std::memory_order_relaxed)) return nullptr;
    }
    return take(size);
}

void vfree(void* block) {
    if (block)
        bytesOut.fetch_sub(static_cast<long long>(malloc_usable_size(block)), std::memory_order_relaxed);
    std::free(block);
}

void vmallocFailNext(int n, int skip) {
    skipNext.store(n > 0 ? skip : 0, std::memory_order_relaxed);
    failNext.store(n, std::memory_order_relaxed);
}
long vmallocCalls() { return calls.load(std::memory_order_relaxed); }
long long vmallocBytesInUse() { return bytesOut.load(std::memory_order_relaxed); }

void debugOutputW(const char16_t* text) {
    std::u16string s(text);
    std::lock_guard<std::mutex> lock(captureMutex);
    if (capture) {
        capture(s);
        return;
    }
    // The stand-in's debugger is stderr; non-ASCII units are shown as '?'.
    std::string narrow;
    for (char16_t c : s)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    std::fputs(narrow.c_str(), stderr);
}

void setDebugCapture(std::function<void(const std::u16string&)> hook) {
    std::lock_guard<std::mutex> lock(captureMutex);
    capture = std::move(hook);
}

} // namespace quor
