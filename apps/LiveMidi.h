// MIDI for `marrowfin live`: the JACK process callback only queues channel messages (with their
// frame offsets in the period); a delivery thread of its own hands them to the unit through the
// component interface. The unit passes every message to the MIDI scripts, which take the
// script lock and run Lua, so that never happens on the real-time thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace MarrowfinApp {

class UnitHost;

struct LiveMidiMessage {
    uint8_t status = 0;  // 0x80 to 0xEF
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint32_t frame = 0;  // offset in the period it arrived in
};

// Single producer (the process callback), single consumer (the delivery thread). Push never
// blocks, allocates or calls the system; a full queue drops the new message and counts it.
class LiveMidiQueue {
public:
    static constexpr size_t kCapacity = 1024;  // a power of two; kCapacity - 1 messages fit

    bool Push(const LiveMidiMessage& message) {
        const size_t head = m_head.load(std::memory_order_relaxed);
        const size_t next = (head + 1) & (kCapacity - 1);
        if (next == m_tail.load(std::memory_order_acquire)) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        m_items[head] = message;
        m_head.store(next, std::memory_order_release);
        return true;
    }

    bool Pop(LiveMidiMessage& message) {
        const size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire)) return false;
        message = m_items[tail];
        m_tail.store((tail + 1) & (kCapacity - 1), std::memory_order_release);
        return true;
    }

    uint64_t Dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    alignas(64) std::atomic<size_t> m_head{0};
    alignas(64) std::atomic<size_t> m_tail{0};
    alignas(64) std::atomic<uint64_t> m_dropped{0};
    LiveMidiMessage m_items[kCapacity];
};

// Turns one raw JACK MIDI event into a channel message; false for anything else (system
// messages, SysEx, a status byte missing or data bytes too few). Real-time safe.
bool LiveMidiFromBytes(const uint8_t* bytes, size_t size, uint32_t frame, LiveMidiMessage& message);

// The delivery thread. It looks at the queue every millisecond: the process callback never has
// to wake it, so it makes no system call for it.
class LiveMidiDelivery {
public:
    LiveMidiDelivery(UnitHost& host, LiveMidiQueue& queue) : m_host(host), m_queue(queue) {}
    ~LiveMidiDelivery() { Stop(); }
    LiveMidiDelivery(const LiveMidiDelivery&) = delete;
    LiveMidiDelivery& operator=(const LiveMidiDelivery&) = delete;

    // Main thread. Stop joins the thread, then delivers what is still queued.
    void Start();
    void Stop();

private:
    void DeliverPending();

    UnitHost& m_host;
    LiveMidiQueue& m_queue;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace MarrowfinApp
