#include "apps/LiveMidi.h"

#include <chrono>

#include "apps/UnitHost.h"

namespace MarrowfinApp {

bool LiveMidiFromBytes(const uint8_t* bytes, size_t size, uint32_t frame, LiveMidiMessage& message) {
    if (!bytes || size == 0) return false;
    const uint8_t status = bytes[0];
    if (status < 0x80 || status > 0xEF) return false;
    // Program change and channel pressure carry one data byte, the others two.
    const uint8_t kind = status & 0xF0;
    const size_t needed = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    if (size < needed) return false;
    for (size_t i = 1; i < needed; ++i)
        if (bytes[i] & 0x80) return false;
    message.status = status;
    message.data1 = bytes[1];
    message.data2 = needed == 3 ? bytes[2] : 0;
    message.frame = frame;
    return true;
}

void LiveMidiDelivery::Start() {
    m_stop = false;
    m_thread = std::thread([this] {
        while (!m_stop.load(std::memory_order_acquire)) {
            DeliverPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

void LiveMidiDelivery::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    DeliverPending();
}

void LiveMidiDelivery::DeliverPending() {
    LiveMidiMessage m;
    while (m_queue.Pop(m)) m_host.MIDIEvent(m.status, m.data1, m.data2, m.frame);
}

}  // namespace MarrowfinApp
