// The per-instance non-real-time thread that takes MIDI events and OSC-port changes off the
// audio thread and hands them to the unit through the component interface, for hosts that do
// not offer their own worker (LV2 work:schedule).
//
// MIDI reaches the unit's scripts, which take the script lock and may be slow, so run() only
// queues the events. The thread sleeps on a futex until there is work. run() wakes it at most
// once per call, and only when the thread has said it is going to sleep: an idle instance costs
// no CPU, and a busy one no system call per event.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "hostframework/AudioUnitAPI.h"
#include "lv2/VoskMarrowfinLV2Queue.h"

class VoskMarrowfinLV2Worker {
public:
    // `generation`: the instance's state generation (see VoskMarrowfinLV2Job).
    VoskMarrowfinLV2Worker(AudioUnit unit, const std::atomic<uint32_t>& generation)
        : m_unit(unit), m_generation(generation) {}
    ~VoskMarrowfinLV2Worker() { Stop(); }
    VoskMarrowfinLV2Worker(const VoskMarrowfinLV2Worker&) = delete;
    VoskMarrowfinLV2Worker& operator=(const VoskMarrowfinLV2Worker&) = delete;

    // Host instantiation thread (activate / deactivate). Start may throw std::system_error when
    // no thread can be made. Stop joins the thread and then delivers whatever is still queued,
    // so nothing queued before Stop is lost.
    void Start();
    void Stop();
    bool Running() const { return m_thread.joinable(); }

    // Audio thread: queue one item; false (and counted) when the queue is full. No wake-up.
    bool Post(const VoskMarrowfinLV2Job& job) { return m_queue.Push(job); }
    // Audio thread, after the items of one run() are posted: wakes the thread if it sleeps.
    void Wake();

    // Consumer side: delivers every queued item now. Worker thread, or any thread while the
    // worker is stopped.
    void DeliverPending();
    // Hands one item to the unit, unless it is a parameter value from an older state
    // generation. Any non-real-time thread.
    static void Deliver(AudioUnit unit, const VoskMarrowfinLV2Job& job, uint32_t generation);

private:
    void Main();

    AudioUnit m_unit;
    const std::atomic<uint32_t>& m_generation;
    VoskMarrowfinLV2Queue m_queue;
    std::atomic<bool> m_stop{false};
    // 1 while the thread sleeps or is about to; the futex word it sleeps on.
    std::atomic<uint32_t> m_sleeping{0};
    std::thread m_thread;
};
