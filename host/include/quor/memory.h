// The host allocator and the debugger output, with hooks for tests.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

namespace quor {

void* vmalloc(std::size_t size);
void vfree(void* block);

// Test hooks: let `skip` calls through, then make the next n vmalloc calls fail; count calls.
void vmallocFailNext(int n, int skip = 0);
long vmallocCalls();
// Bytes handed out by vmalloc and not yet given back through vfree (usable block sizes).
long long vmallocBytesInUse();

// Debugger output for wide text. Without a capture hook lines go to stderr.
void debugOutputW(const char16_t* text);
void setDebugCapture(std::function<void(const std::u16string&)> hook);

} // namespace quor
