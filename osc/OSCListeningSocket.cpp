#include "osc/OSCListeningSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "osc/OSCPacketCheck.h"

namespace TB {

namespace {

sockaddr_in SockaddrFrom(const IpEndpointName& endpoint) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr =
        endpoint.address == IpEndpointName::ANY_ADDRESS ? INADDR_ANY : htonl(uint32_t(endpoint.address));
    address.sin_port = endpoint.port == IpEndpointName::ANY_PORT ? 0 : htons(uint16_t(endpoint.port));
    return address;
}

IpEndpointName EndpointFrom(const sockaddr_in& address) {
    return IpEndpointName(address.sin_addr.s_addr == INADDR_ANY ? IpEndpointName::ANY_ADDRESS
                                                               : (unsigned long)ntohl(address.sin_addr.s_addr),
                          address.sin_port == 0 ? IpEndpointName::ANY_PORT : int(ntohs(address.sin_port)));
}

}  // namespace

OSCListeningSocket::OSCListeningSocket(const IpEndpointName& localEndpoint, PacketListener* listener,
                                       const std::atomic<UInt32>& breakGeneration, UInt32 seenGeneration)
    : m_listener(listener), m_breakGeneration(breakGeneration), m_seenGeneration(seenGeneration),
      m_buffer(kMaxOSCPacketBytes + 4) {
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) throw std::runtime_error("unable to initialize udp socket\n");
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const sockaddr_in address = SockaddrFrom(localEndpoint);
    if (m_wake < 0 || ::bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (m_wake >= 0) ::close(m_wake);
        ::close(m_socket);
        throw std::runtime_error("unable to bind udp socket\n");
    }
}

OSCListeningSocket::~OSCListeningSocket() {
    ::close(m_wake);
    ::close(m_socket);
}

void OSCListeningSocket::Run() {
    while (!BreakDue()) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake, POLLIN, 0}};
        const int ready = ::poll(fds, 2, kBreakCheckMilliseconds);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("poll failed\n");
        }
        if (fds[1].revents) {
            uint64_t count = 0;
            ssize_t got = ::read(m_wake, &count, sizeof count);
            (void)got;
            return;
        }
        if (fds[0].revents) ReceiveOne();
    }
}

void OSCListeningSocket::ReceiveOne() {
    sockaddr_in from;
    socklen_t fromLength = sizeof from;
    std::memset(&from, 0, sizeof from);
    const ssize_t got = ::recvfrom(m_socket, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
    // Errors (an ICMP report left by a reply, an interrupted read) belong to no datagram.
    if (got <= 0) return;
    m_listener->ProcessPacket(m_buffer.data(), int(got), EndpointFrom(from));
}

void OSCListeningSocket::AsynchronousBreak() {
    const uint64_t one = 1;
    ssize_t written = ::write(m_wake, &one, sizeof one);
    (void)written;
}

IpEndpointName OSCListeningSocket::LocalEndpointFor(const IpEndpointName& remote) const {
    const sockaddr_in target = SockaddrFrom(remote);
    if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
        throw std::runtime_error("unable to connect udp socket\n");
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    socklen_t length = sizeof local;
    const int named = ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length);
    // Dissolve the association again, so datagrams from everyone arrive.
    sockaddr_in none;
    std::memset(&none, 0, sizeof none);
    none.sin_family = AF_UNSPEC;
    if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&none), sizeof none) != 0 && errno != EAFNOSUPPORT)
        throw std::runtime_error("unable to un-connect udp socket\n");
    if (named != 0) throw std::runtime_error("unable to getsockname\n");
    return EndpointFrom(local);
}

}  // namespace TB
