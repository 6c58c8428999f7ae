// A fixed-size lock-free queue for one producer thread and one consumer thread.
//
// The plug-in's run() (producer, host audio thread) hands MIDI events and OSC-port changes to the
// instance's worker thread (consumer) through it: Push and Pop never allocate, lock or call the
// system. A full queue drops the new item and counts it; nothing already queued is lost.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// One item: a MIDI channel message, or a parameter value the worker must set off the audio thread.
struct VoskMarrowfinLV2Job {
    enum Kind : uint8_t { kMidi = 0, kParameter = 1 };
    Kind kind = kMidi;
    uint8_t status = 0;  // kMidi: status byte 0x80..0xEF
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint32_t frame = 0;    // kMidi: offset in the host block
    uint32_t paramID = 0;  // kParameter: the parameter id
    float value = 0.f;   // kParameter: the value
    // kParameter: the instance's state generation when run() queued it. A state restored since
    // then supersedes the value, so it is dropped.
    uint32_t generation = 0;
};

class VoskMarrowfinLV2Queue {
public:
    static constexpr size_t kCapacity = 1024;  // a power of two; kCapacity - 1 items fit

    // Producer thread only.
    bool Push(const VoskMarrowfinLV2Job& job) {
        const size_t head = m_head.load(std::memory_order_relaxed);
        const size_t next = (head + 1) & (kCapacity - 1);
        if (next == m_tail.load(std::memory_order_acquire)) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        m_items[head] = job;
        m_head.store(next, std::memory_order_release);
        return true;
    }

    // Consumer thread only.
    bool Pop(VoskMarrowfinLV2Job& job) {
        const size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire)) return false;
        job = m_items[tail];
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
    VoskMarrowfinLV2Job m_items[kCapacity];
};
