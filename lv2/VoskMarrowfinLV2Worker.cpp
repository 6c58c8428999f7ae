// The per-instance MIDI and parameter delivery thread.
#include "lv2/VoskMarrowfinLV2Worker.h"

void VoskMarrowfinLV2Worker::Start() {
    if (m_thread.joinable()) return;
    m_stop.store(false, std::memory_order_relaxed);
    m_thread = std::thread([this] { Main(); });
}

void VoskMarrowfinLV2Worker::Stop() {
    if (m_thread.joinable()) {
        m_stop.store(true, std::memory_order_relaxed);
        m_thread.join();
    }
    DeliverPending();
}

void VoskMarrowfinLV2Worker::DeliverPending() {
    VoskMarrowfinLV2Job job;
    while (m_queue.Pop(job)) {
        if (job.kind == VoskMarrowfinLV2Job::kMidi) {
            MusicDeviceMIDIEvent(m_unit, job.status, job.data1, job.data2, job.frame);
        } else {
            AudioUnitSetParameter(m_unit, job.frame, kAudioUnitScope_Global, 0, job.value, 0);
        }
    }
}

void VoskMarrowfinLV2Worker::Main() {
    while (!m_stop.load(std::memory_order_relaxed)) {
        DeliverPending();
        std::this_thread::sleep_for(kPollInterval);
    }
}
