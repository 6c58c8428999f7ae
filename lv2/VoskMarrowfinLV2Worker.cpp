// The per-instance MIDI and parameter delivery thread.
#include "lv2/VoskMarrowfinLV2Worker.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);

uint32_t* Word(std::atomic<uint32_t>& word) { return reinterpret_cast<uint32_t*>(&word); }

// Sleeps while the word holds `expected`; returns at once when it does not, and may return
// spuriously.
void FutexWait(std::atomic<uint32_t>& word, uint32_t expected) {
    syscall(SYS_futex, Word(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWake(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, Word(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

void VoskMarrowfinLV2Worker::Start() {
    if (m_thread.joinable()) return;
    m_stop.store(false, std::memory_order_relaxed);
    m_thread = std::thread([this] { Main(); });
}

void VoskMarrowfinLV2Worker::Stop() {
    if (m_thread.joinable()) {
        m_stop.store(true, std::memory_order_seq_cst);
        m_sleeping.store(0, std::memory_order_seq_cst);
        FutexWake(m_sleeping);
        m_thread.join();
    }
    DeliverPending();
}

void VoskMarrowfinLV2Worker::Wake() {
    // Pairs with the fence in Main: either the thread sees the new items before it sleeps, or
    // this sees that it sleeps.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (m_sleeping.load(std::memory_order_relaxed) == 1 && m_sleeping.exchange(0, std::memory_order_seq_cst) == 1)
        FutexWake(m_sleeping);
}

void VoskMarrowfinLV2Worker::Deliver(AudioUnit unit, const VoskMarrowfinLV2Job& job, uint32_t generation) {
    if (job.kind == VoskMarrowfinLV2Job::kMidi) {
        MusicDeviceMIDIEvent(unit, job.status, job.data1, job.data2, job.frame);
    } else if (job.generation == generation) {
        AudioUnitSetParameter(unit, job.paramID, kAudioUnitScope_Global, 0, job.value, 0);
    }
}

void VoskMarrowfinLV2Worker::DeliverPending() {
    VoskMarrowfinLV2Job job;
    while (m_queue.Pop(job)) Deliver(m_unit, job, m_generation.load(std::memory_order_acquire));
}

void VoskMarrowfinLV2Worker::Main() {
    for (;;) {
        DeliverPending();
        if (m_stop.load(std::memory_order_acquire)) return;
        m_sleeping.store(1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (!m_queue.Empty() || m_stop.load(std::memory_order_relaxed)) {
            m_sleeping.store(0, std::memory_order_relaxed);
            continue;
        }
        FutexWait(m_sleeping, 1);
        m_sleeping.store(0, std::memory_order_relaxed);
    }
}
