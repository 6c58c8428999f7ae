// Outgoing OSC packets of the service: every reply, notification and sendOSC message is one
// bundle with the time tag "immediately" holding one message, built in a 1024-byte buffer and
// sent as one datagram from a fresh UDP socket connected to its target.
#pragma once

#include <cstddef>

#include <oscpack/ip/IpEndpointName.h>
#include <oscpack/osc/OscOutboundPacketStream.h>

namespace TB {

constexpr std::size_t kOSCPacketBufferSize = 1024;

class OSCReplyPacket {
public:
    // Throws osc::OutOfBufferMemoryException ("out of buffer memory") when the address does
    // not fit; so do the arguments written to Args().
    explicit OSCReplyPacket(const char* address) : m_stream(m_buffer, sizeof m_buffer) {
        m_stream << osc::BeginBundleImmediate << osc::BeginMessage(address);
    }
    osc::OutboundPacketStream& Args() { return m_stream; }
    // Ends the message and the bundle.
    void Finish() { m_stream << osc::EndMessage << osc::EndBundle; }
    const char* Data() const { return m_stream.Data(); }
    std::size_t Size() const { return m_stream.Size(); }

private:
    char m_buffer[kOSCPacketBufferSize];
    osc::OutboundPacketStream m_stream;
};

// Sends one datagram from a fresh socket connected to `target`. Does nothing for a target that
// nothing can be delivered to (OSCHelper::IsDeliverable). Throws std::runtime_error when no
// socket can be connected (no route to the target).
void SendOSCDatagram(const IpEndpointName& target, const char* data, std::size_t size);

}  // namespace TB
