// The OSC receive task's listening socket: a UDP socket bound to one local endpoint whose
// receive loop hands each datagram to one packet listener.
//
// Its own loop rather than oscpack's multiplexer, so that the listener is handed exactly the
// bytes a datagram carried: each datagram is read into a buffer one word longer than the longest
// packet the service accepts, and passed on with the size the read returned (a longer datagram
// arrives cut at that size and is refused by the packet check). The loop also looks at a break
// counter every kBreakCheckMilliseconds: a break that arrives before the loop has started is
// otherwise lost, and the receive task would keep an old port.
#pragma once

#include <atomic>
#include <vector>

#include <oscpack/ip/IpEndpointName.h>
#include <oscpack/ip/PacketListener.h>

#include "hostframework/AUTypes.h"

namespace TB {

class OSCListeningSocket {
public:
    // How often the receive loop looks at the break counter.
    static constexpr int kBreakCheckMilliseconds = 50;

    // Binds at once; throws std::runtime_error("unable to bind udp socket\n") when the endpoint
    // cannot be bound. The loop ends as soon as `breakGeneration` differs from `seenGeneration`.
    OSCListeningSocket(const IpEndpointName& localEndpoint, PacketListener* listener,
                       const std::atomic<UInt32>& breakGeneration, UInt32 seenGeneration);
    ~OSCListeningSocket();
    OSCListeningSocket(const OSCListeningSocket&) = delete;
    OSCListeningSocket& operator=(const OSCListeningSocket&) = delete;

    // The receive task: runs until a break; returns at once when one is already due.
    void Run();
    // Any thread.
    void AsynchronousBreak();

    // The receive task: the local endpoint through which `remote` is reached (the socket is
    // connected to it for a moment). Throws std::runtime_error when no route leads there.
    IpEndpointName LocalEndpointFor(const IpEndpointName& remote) const;

private:
    bool BreakDue() const { return m_breakGeneration.load() != m_seenGeneration; }
    void ReceiveOne();

    int m_socket = -1;
    int m_wake = -1;  // an eventfd that AsynchronousBreak makes readable
    PacketListener* m_listener;
    const std::atomic<UInt32>& m_breakGeneration;
    const UInt32 m_seenGeneration;
    std::vector<char> m_buffer;
};

}  // namespace TB
