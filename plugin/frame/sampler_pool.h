// Per-render-thread pools of samplers.
//
// Each render thread owns one entry: a free list of samplers given back and a sequence of
// blocks of 10 constructed samplers. A thread only ever touches its own entry, so nothing
// locks. Blocks are only appended; nothing is freed before the pool is destroyed, and in
// the steady state taking and giving back a sampler allocates nothing.
//
// What a host gets wrong costs one comparison here, never memory: a thread index outside the
// pool takes nothing and gives nothing back, and a sampler given back to an entry other than
// the one whose block holds it (another thread's, another instance's) is refused; it stays
// with its block until the pool is destroyed.
#pragma once
#include <cstdint>
#include <new>

#include "frame/allocation.h"
#include "quor/memory.h"

namespace hair {

// The pooled form of a sampler: the sampler, the link of the free list and the entry whose
// block holds it.
template <class T> struct PoolElement : T {
    PoolElement* nextFree = nullptr;
    const void* home = nullptr;
};

template <class T> class SamplerPool {
  public:
    using Element = PoolElement<T>;
    static constexpr int kElementsPerBlock = 10;

    struct Block {
        Block* next = nullptr;
        Block* prev = nullptr;
        int used = 0;
        int capacity = 0;
        Element* elements = nullptr;

        // Constructs every element once; a refused element array raises the block's own text.
        explicit Block(int n) : capacity(n) {
            void* mem = quor::vmalloc(sizeof(Element) * n);
            if (!mem) throw ExceptionMsg("[_SequenceBlock] Could not allocate memory");
            elements = static_cast<Element*>(mem);
            for (int i = 0; i < n; ++i)
                new (&elements[i]) Element();
        }
        ~Block() {
            for (int i = capacity - 1; i >= 0; --i)
                elements[i].~Element();
            libFree(elements);
        }
    };

    struct Entry {
        Element* freeList = nullptr;
        Block* first = nullptr;
        Block* current = nullptr;
        int perBlock = kElementsPerBlock;
    };

    SamplerPool() = default;
    SamplerPool(const SamplerPool&) = delete;
    SamplerPool& operator=(const SamplerPool&) = delete;
    ~SamplerPool() { destroy(); }

    // One entry per render thread; any previous pool is destroyed first.
    void create(int threads) {
        destroy();
        if (threads <= 0) return;
        void* mem = libAllocAligned(sizeof(std::int64_t) * 2 + sizeof(Entry) * threads);
        if (!mem) return; // no pool: newBSDF answers null for the whole render
        // Count in front of the entries, as the aligned allocator's arrays keep it.
        static_cast<std::int64_t*>(mem)[0] = threads;
        entries_ = reinterpret_cast<Entry*>(static_cast<char*>(mem) + sizeof(std::int64_t) * 2);
        for (int i = 0; i < threads; ++i)
            new (&entries_[i]) Entry();
        count_ = threads;
        array_ = mem;
    }

    void destroy() {
        if (!array_) return;
        std::int64_t n = static_cast<std::int64_t*>(array_)[0];
        for (std::int64_t i = 0; i < n; ++i) {
            Entry& e = entries_[i];
            for (Block* b = e.first; b;) {
                Block* next = b->next;
                b->~Block();
                libFree(b);
                b = next;
            }
            e = Entry();
        }
        libFreeAligned(array_);
        array_ = nullptr;
        entries_ = nullptr;
        count_ = 0;
    }

    bool active() const { return entries_ != nullptr; }
    int threadCount() const { return count_; }
    const Entry& entry(int thread) const { return entries_[thread]; }

    // Whether a thread index has an entry (false for every index outside rendering).
    bool hasEntry(int thread) const { return static_cast<unsigned>(thread) < static_cast<unsigned>(count_); }

    // A sampler for the thread, or null for a thread index without an entry.
    T* take(int thread) {
        if (!hasEntry(thread)) return nullptr;
        Entry& e = entries_[thread];
        if (Element* el = e.freeList) {
            e.freeList = el->nextFree;
            el->nextFree = nullptr;
            return el;
        }
        return fromSequence(e);
    }

    // Puts a sampler on the free list of the entry it came from; false (and nothing touched)
    // for a thread index without an entry or a sampler from another entry.
    bool give(int thread, T* sampler) {
        if (!hasEntry(thread)) return false;
        Entry& e = entries_[thread];
        Element* el = static_cast<Element*>(sampler);
        if (el->home != &e) return false;
        el->nextFree = e.freeList;
        e.freeList = el;
        return true;
    }

  private:
    static Element* fromSequence(Entry& e) {
        Block* last = nullptr;
        Block* b = e.current;
        while (b && b->used >= b->capacity) {
            last = b;
            b = b->next;
        }
        if (b) {
            e.current = b;
            return &b->elements[b->used++];
        }
        // The header goes back to the host if the element array is refused.
        struct HeaderGuard {
            void* p;
            ~HeaderGuard() { libFree(p); }
        } guard{libAlloc(sizeof(Block))};
        Block* nb = new (guard.p) Block(e.perBlock);
        guard.p = nullptr;
        for (int i = 0; i < nb->capacity; ++i)
            nb->elements[i].home = &e;
        nb->prev = last;
        if (last)
            last->next = nb;
        else
            e.first = nb;
        e.current = nb;
        nb->used = 1;
        return &nb->elements[0];
    }

    void* array_ = nullptr;
    Entry* entries_ = nullptr;
    int count_ = 0;
};

} // namespace hair
