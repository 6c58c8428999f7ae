// Reply targets: "[osc.udp://]host[:port]" texts, their resolution, and sending to them.
// Receive task, notification task and script threads; nothing here runs on the render thread
// (a host name lookup may block).
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include <oscpack/ip/UdpSocket.h>

#include "osc/OSCHelper.h"
#include "osc/OSCReply.h"

namespace TB {

namespace {

constexpr char kURLPrefix[] = "osc.udp://";
constexpr size_t kURLPrefixLength = sizeof kURLPrefix - 1;
constexpr size_t kMaxTargetCharacters = 1023;

// The first IPv4 address of a host name or dotted address, in host order; 0 when unresolvable.
unsigned long LookUpIPv4(const std::string& host) {
    if (host.empty()) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return 0;
    unsigned long address = 0;
    for (addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr) {
            address = ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
            break;
        }
    }
    freeaddrinfo(found);
    return address;
}

}  // namespace

void OSCHelper::ParseAddress(const char* text, std::string& host, SInt32& port) {
    host.clear();
    port = IpEndpointName::ANY_PORT;
    if (!text) return;
    const size_t length = strnlen(text, kMaxTargetCharacters);
    std::string target(text, length);
    size_t start = target.compare(0, kURLPrefixLength, kURLPrefix) == 0 ? kURLPrefixLength : 0;
    const size_t colon = target.find(':', start);
    if (colon == std::string::npos) {
        host = target.substr(start);
        return;
    }
    host = target.substr(start, colon - start);
    int number = 0;
    if (std::sscanf(target.c_str() + colon + 1, "%d", &number) == 1) port = number;
}

IpEndpointName OSCHelper::ResolveTarget(const char* text) {
    std::string host;
    SInt32 port = IpEndpointName::ANY_PORT;
    ParseAddress(text, host, port);
    return IpEndpointName(LookUpIPv4(host), port);
}

// An unresolved host reads as 0.0.0.0, which Linux would deliver to this machine: that is not
// where the client asked for its reply, so it counts as undeliverable like the wildcard port.
// A port beyond 16 bits would be cut to another port.
bool OSCHelper::IsDeliverable(const IpEndpointName& endpoint) {
    return endpoint.address != 0 && endpoint.address != IpEndpointName::ANY_ADDRESS && endpoint.port > 0 &&
           endpoint.port <= 65535;
}

void SendOSCDatagram(const IpEndpointName& target, const char* data, std::size_t size) {
    if (!OSCHelper::IsDeliverable(target)) return;
    UdpTransmitSocket socket(target);
    socket.Send(data, size);
}

}  // namespace TB
