// A fixed-size lock-free queue for one producer thread and one consumer thread.
//
// Push and Pop never allocate, lock or call the system, so a real-time thread (a host's audio
// thread, a JACK process callback) can hand items to a worker through it. A full queue drops the
// new item and counts it; nothing already queued is lost.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace TB {

template <class Item, size_t Capacity>
class SPSCQueue {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "the capacity is a power of two");

public:
    static constexpr size_t kCapacity = Capacity;  // kCapacity - 1 items fit

    // Producer thread only.
    bool Push(const Item& item) {
        const size_t head = m_head.load(std::memory_order_relaxed);
        const size_t next = (head + 1) & (kCapacity - 1);
        if (next == m_tail.load(std::memory_order_acquire)) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        m_items[head] = item;
        m_head.store(next, std::memory_order_release);
        return true;
    }

    // Consumer thread only.
    bool Pop(Item& item) {
        const size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire)) return false;
        item = m_items[tail];
        m_tail.store((tail + 1) & (kCapacity - 1), std::memory_order_release);
        return true;
    }

    // Consumer thread only: true when nothing is waiting.
    bool Empty() const { return m_tail.load(std::memory_order_relaxed) == m_head.load(std::memory_order_acquire); }

    // Any thread: items dropped because the queue was full, since construction.
    uint64_t Dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    alignas(64) std::atomic<size_t> m_head{0};
    alignas(64) std::atomic<size_t> m_tail{0};
    alignas(64) std::atomic<uint64_t> m_dropped{0};
    Item m_items[kCapacity];
};

}  // namespace TB
