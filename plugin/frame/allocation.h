// The library's memory, its one exception type and its debug output.
//
// All memory comes from the host allocator. Failure to get memory is the only error the
// library raises; shading code itself never throws.
#pragma once
#include <cstddef>
#include <new>
#include <string>
#include <utility>

namespace hair {

class ExceptionMsg {
  public:
    ExceptionMsg(const char* format, ...) __attribute__((format(printf, 2, 3)));
    ExceptionMsg(const ExceptionMsg&) = default;
    ExceptionMsg& operator=(const ExceptionMsg&) = default;
    virtual ~ExceptionMsg() = default;
    virtual const char* text() const { return text_; }

  private:
    char text_[1024];
};

// Object allocation: a block from the host, or the failure report and ExceptionMsg.
void* libAlloc(std::size_t size);
void libFree(void* block);

// Aligned allocation for arrays with a count in front: null on failure, no report.
// The address is a multiple of 128 and the host block's address is stored just before it.
void* libAllocAligned(std::size_t size);
void libFreeAligned(void* p);

// A constructor that raises (out of memory part way) gives its block back before the
// exception goes on: the half-built object has already undone its members.
template <class T, class... Args> T* libNew(Args&&... args) {
    void* p = libAlloc(sizeof(T));
    try {
        return new (p) T(std::forward<Args>(args)...);
    } catch (...) {
        libFree(p);
        throw;
    }
}

template <class T> void libDelete(T* p) {
    if (!p) return;
    p->~T();
    libFree(p);
}

// Formats into a 4096-byte buffer and writes it, as UTF-16, to the debugger output.
void debugOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));

// UTF-8 to UTF-16. Returns the number of units the text needs; writes at most `capacity`
// units to `out` when it is not null. Bytes of malformed sequences map to 0xDBC0, 0xDC00 + byte.
std::size_t utf8ToUtf16(const char* text, char16_t* out, std::size_t capacity);

} // namespace hair
