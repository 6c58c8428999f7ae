// The OSC receive task's listening socket: a UDP socket bound to one local endpoint whose
// receive loop (oscpack's multiplexer) hands each datagram to one packet listener.
//
// Like oscpack's UdpListeningReceiveSocket, plus a periodic check of a break counter: an
// asynchronous break that arrives before the loop has started is otherwise lost (the loop
// clears its break flag on entry), and the receive task would keep an old port.
#pragma once

#include <atomic>

#include <oscpack/ip/PacketListener.h>
#include <oscpack/ip/TimerListener.h>
#include <oscpack/ip/UdpSocket.h>

#include "hostframework/AUTypes.h"

namespace TB {

class OSCListeningSocket : public UdpSocket, private TimerListener {
public:
    // How often the receive loop looks at the break counter.
    static constexpr int kBreakCheckMilliseconds = 50;

    // Binds at once; throws std::runtime_error when the endpoint cannot be bound.
    // The loop ends as soon as `breakGeneration` differs from `seenGeneration`.
    OSCListeningSocket(const IpEndpointName& localEndpoint, PacketListener* listener,
                       const std::atomic<UInt32>& breakGeneration, UInt32 seenGeneration)
        : m_listener(listener), m_breakGeneration(breakGeneration), m_seenGeneration(seenGeneration) {
        Bind(localEndpoint);
        m_mux.AttachSocketListener(this, m_listener);
        m_mux.AttachPeriodicTimerListener(kBreakCheckMilliseconds, this);
    }
    ~OSCListeningSocket() override {
        m_mux.DetachPeriodicTimerListener(this);
        m_mux.DetachSocketListener(this, m_listener);
    }

    // The receive task: runs until a break; returns at once when one is already due.
    void Run() {
        if (BreakDue()) return;
        m_mux.Run();
    }
    // Any thread.
    void AsynchronousBreak() { m_mux.AsynchronousBreak(); }

private:
    bool BreakDue() const { return m_breakGeneration.load() != m_seenGeneration; }
    void TimerExpired() override {
        if (BreakDue()) m_mux.Break();
    }

    SocketReceiveMultiplexer m_mux;
    PacketListener* m_listener;
    const std::atomic<UInt32>& m_breakGeneration;
    const UInt32 m_seenGeneration;
};

}  // namespace TB
