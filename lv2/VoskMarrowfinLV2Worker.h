// The per-instance non-real-time thread that takes MIDI events and OSC-port changes off the
// audio thread and hands them to the unit through the component interface.
//
// MIDI reaches the unit's scripts, which take the script lock and may be slow, so run() only
// queues the events. The worker polls the queue every kPollInterval instead of being woken:
// waking a sleeping thread is a system call, which run() must not make.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "hostframework/AudioUnitAPI.h"
#include "lv2/VoskMarrowfinLV2Queue.h"

class VoskMarrowfinLV2Worker {
public:
    static constexpr std::chrono::microseconds kPollInterval{1000};

    explicit VoskMarrowfinLV2Worker(AudioUnit unit) : m_unit(unit) {}
    ~VoskMarrowfinLV2Worker() { Stop(); }
    VoskMarrowfinLV2Worker(const VoskMarrowfinLV2Worker&) = delete;
    VoskMarrowfinLV2Worker& operator=(const VoskMarrowfinLV2Worker&) = delete;

    // Host instantiation thread (activate / deactivate). Stop joins the thread and then delivers
    // whatever is still queued, so nothing queued before Stop is lost.
    void Start();
    void Stop();
    bool Running() const { return m_thread.joinable(); }

    // Audio thread: queue one item; false (and counted) when the queue is full.
    bool Post(const VoskMarrowfinLV2Job& job) { return m_queue.Push(job); }
    const VoskMarrowfinLV2Queue& Queue() const { return m_queue; }

    // Consumer side: delivers every queued item now. Worker thread, or any thread while the
    // worker is stopped.
    void DeliverPending();

private:
    void Main();

    AudioUnit m_unit;
    VoskMarrowfinLV2Queue m_queue;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
