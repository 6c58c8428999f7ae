// MIDI for `marrowfin live`: the JACK process callback only queues channel messages (with their
// frame offsets in the period); a delivery thread of its own hands them to the unit through the
// component interface. The unit passes every message to the MIDI scripts, which take the
// script lock and run Lua, so that never happens on the real-time thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "hostframework/SPSCQueue.h"

namespace MarrowfinApp {

class UnitHost;

struct LiveMidiMessage {
    uint8_t status = 0;  // 0x80 to 0xEF
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint32_t frame = 0;  // offset in the period it arrived in
};

// Single producer (the process callback), single consumer (the delivery thread).
typedef TB::SPSCQueue<LiveMidiMessage, 1024> LiveMidiQueue;

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
