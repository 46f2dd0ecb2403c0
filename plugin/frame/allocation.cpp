#include "frame/allocation.h"

#include <malloc.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "quor/memory.h"

namespace hair {

ExceptionMsg::ExceptionMsg(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text_, sizeof text_, format, args);
    va_end(args);
    text_[sizeof text_ - 1] = 0;
}

namespace {

// The heap figures of the C runtime: bytes in the heap, free bytes, blocks visited.
struct HeapFigures {
    unsigned total, free, blocks;
    int status;
};

HeapFigures heapFigures() {
    struct mallinfo2 mi = mallinfo2();
    HeapFigures f;
    f.total = static_cast<unsigned>(mi.arena + mi.hblkhd);
    f.free = static_cast<unsigned>(mi.fordblks);
    f.blocks = static_cast<unsigned>(mi.ordblks + mi.hblks);
    f.status = 0;
    return f;
}

[[noreturn]] void allocationFailure(std::size_t size) {
    debugOutput("[operator new] failed (size is %i)\n", static_cast<int>(size));
    HeapFigures heap = heapFigures();
    debugOutput("[getFreeHeapMemory] Getting free heap memory.\n");
    debugOutput("[getFreeHeapMemory] heapstatus=%i\n", heap.status);
    debugOutput("[getFreeHeapMemory] Number of blocks visited: %u\n", heap.blocks);
    throw ExceptionMsg(
        "Memory allocation failure; %u bytes requested; %u bytes already in heap; %u bytes free heap space.",
        static_cast<unsigned>(size), heap.total, heap.free);
}

} // namespace

void* libAlloc(std::size_t size) {
    void* p = quor::vmalloc(size);
    if (!p) allocationFailure(size);
    return p;
}

void libFree(void* block) { quor::vfree(block); }

void* libAllocAligned(std::size_t size) {
    char* block = static_cast<char*>(quor::vmalloc(size + 256));
    if (!block) return nullptr;
    std::uintptr_t b = reinterpret_cast<std::uintptr_t>(block);
    std::uintptr_t base = b & ~std::uintptr_t(127);
    std::uintptr_t p = base + 128;
    if (b - base > 120) p += 128; // keep room for the stored address
    reinterpret_cast<char**>(p)[-1] = block;
    return reinterpret_cast<void*>(p);
}

void libFreeAligned(void* p) {
    if (!p) return;
    quor::vfree(static_cast<char**>(p)[-1]);
}

std::size_t utf8ToUtf16(const char* text, char16_t* out, std::size_t capacity) {
    std::size_t n = 0;
    auto put = [&](char16_t u) {
        if (out && n < capacity) out[n] = u;
        ++n;
    };
    auto raw = [&](unsigned char byte) {
        put(0xDBC0);
        put(static_cast<char16_t>(0xDC00 + byte));
    };
    static const unsigned long kMinValue[8] = {0, 0, 0x7F, 0x7FF, 0xFFFF, 0x1FFFFF, 0x3FFFFFF, 0x7FFFFFFF};
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        unsigned char lead = *s;
        int len = 0;
        while (len < 8 && (lead & (0x80 >> len)))
            ++len;
        if (len == 0) {
            put(lead);
            ++s;
            continue;
        }
        if (len == 1 || len == 8) { // lone continuation byte, or 0xFF
            raw(lead);
            ++s;
            continue;
        }
        unsigned long long value = lead & (0xFF >> (len + 1));
        int i = 1;
        for (; i < len; ++i) {
            if ((s[i] & 0xC0) != 0x80) break;
            value = (value << 6) | (s[i] & 0x3F);
        }
        bool ok = i == len && value > kMinValue[len] && !(value >= 0x100000 && value <= 0x1000FF) &&
                  value <= 0x10FFFF;
        if (!ok) {
            for (int k = 0; k < i; ++k)
                raw(s[k]);
            s += i;
            continue;
        }
        if (value > 0xFFFF) {
            value -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (value >> 10)));
            put(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
        } else {
            put(static_cast<char16_t>(value));
        }
        s += len;
    }
    return n;
}

void debugOutput(const char* format, ...) {
    char buffer[4096];
    std::memset(buffer, 0, sizeof buffer);
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    buffer[sizeof buffer - 1] = 0;
    // Count, then fill a buffer of that size plus a terminator.
    std::size_t units = utf8ToUtf16(buffer, nullptr, 0);
    char16_t wide[4096 * 2 + 1];
    utf8ToUtf16(buffer, wide, units);
    wide[units] = 0;
    quor::debugOutputW(wide);
}

} // namespace hair
