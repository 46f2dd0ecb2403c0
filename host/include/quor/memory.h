// The host allocator and the debugger output, with hooks for tests.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

namespace quor {

/// The host's allocator: a block of at least size bytes, or null when refused.
void* vmalloc(std::size_t size);
/// Gives back a block from vmalloc; null is ignored.
void vfree(void* block);

/// Test hook: lets `skip` calls through, then makes the next n vmalloc calls fail.
void vmallocFailNext(int n, int skip = 0);
/// Test hook: how many times vmalloc has been called.
long vmallocCalls();
/// Bytes handed out by vmalloc and not yet given back through vfree (usable block sizes).
long long vmallocBytesInUse();

/// Debugger output for wide text. Without a capture hook lines go to stderr.
void debugOutputW(const char16_t* text);
/// Test hook: debugger output goes to hook instead of stderr (null restores stderr).
void setDebugCapture(std::function<void(const std::u16string&)> hook);

} // namespace quor
