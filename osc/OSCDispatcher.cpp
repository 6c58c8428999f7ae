// The address dispatcher: what every received OSC message does. Receive task only, one message
// at a time. Addresses match whole, exactly and case-sensitively; script-registered paths first,
// then the built-in ones; anything else goes to the hook. A message that fails prints one line
// "error while parsing message: <address>: <reason>" and sends no reply.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <oscpack/ip/UdpSocket.h>

#include "MarrowfinFacts.h"
#include "effect/MarrowfinParameters.h"
#include "hostframework/AUBase.h"
#include "hostframework/AUParameterServices.h"
#include "hostframework/Log.h"
#include "osc/OSCHelper.h"
#include "osc/OSCListeningSocket.h"
#include "osc/OSCReply.h"

namespace TB {

namespace {

constexpr size_t kNameBufferSize = 256;

void CheckId(SInt32 id, const char* reason) {
    if (id < 0 || id >= kOSCNumParameters) throw osc::Exception(reason);
}

void ReportFailure(const char* address, const char* reason) {
    std::string line = "error while parsing message: ";
    line += address;
    line += ": ";
    line += reason;
    line += '\n';
    LogLine(LogLevel::kNote, line.c_str());
}

// One reply: id and value, or whatever `fill` writes, to a reply target under a reply address.
template <typename Fill>
void Reply(const char* target, const char* replyAddress, Fill fill) {
    const IpEndpointName endpoint = OSCHelper::ResolveTarget(target);
    if (!OSCHelper::IsDeliverable(endpoint)) return;
    OSCReplyPacket packet(replyAddress);
    fill(packet.Args());
    packet.Finish();
    SendOSCDatagram(endpoint, packet.Data(), packet.Size());
}

// Parameter names as ASCII, at most 255 characters; anything else becomes '?'.
void AsciiName(const char* name, char (&buffer)[kNameBufferSize]) {
    size_t i = 0;
    for (; name && name[i] && i < kNameBufferSize - 1; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        buffer[i] = c < 0x80 ? char(c) : '?';
    }
    buffer[i] = '\0';
}

}  // namespace

void OSCHelper::ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName& remoteEndpoint) {
    const char* address = message.AddressPattern();
    try {
        if (DispatchRegisteredPath(address, message)) return;
        if (DispatchBuiltIn(address, message)) return;
    } catch (const osc::Exception& e) {
        ReportFailure(address, e.what());
        return;
    }
    ProcessMessage(address, message, remoteEndpoint);
}

bool OSCHelper::DispatchBuiltIn(const char* address, const osc::ReceivedMessage& message) {
    auto is = [address](const char* name) { return std::strcmp(address, name) == 0; };
    osc::ReceivedMessageArgumentStream args = message.ArgumentStream();
    osc::int32 id = 0;
    const char* target = nullptr;
    const char* replyAddress = nullptr;

    if (is("/ping")) {
        args >> target >> replyAddress >> osc::EndMessage;
        const IpEndpointName endpoint = ResolveTarget(target);
        if (!IsDeliverable(endpoint)) return true;
        const std::string own = "osc.udp://" + OwnAddressText(endpoint);
        OSCReplyPacket packet(replyAddress);
        packet.Args() << own.c_str() << kMarrowfinVersionText;
        packet.Finish();
        SendOSCDatagram(endpoint, packet.Data(), packet.Size());
    } else if (is("/set")) {
        float value = 0;
        args >> id >> value >> osc::EndMessage;
        CheckId(id, "parameter id out of range in set");
        SetParameterValue(id, value);
    } else if (is("/get")) {
        args >> id >> target >> replyAddress >> osc::EndMessage;
        CheckId(id, "parameter id out of range in get");
        const float value = GetParameterValue(id);
        Reply(target, replyAddress, [&](osc::OutboundPacketStream& out) { out << id << value; });
    } else if (is("/getAll")) {
        args >> target >> replyAddress >> osc::EndMessage;
        const IpEndpointName endpoint = ResolveTarget(target);
        if (!IsDeliverable(endpoint)) return true;
        UdpTransmitSocket socket(endpoint);  // one socket for all the packets
        for (SInt32 i = 0; i < kOSCNumParameters; ++i) {
            if (!isParameterUsed(i)) continue;
            OSCReplyPacket packet(replyAddress);
            packet.Args() << osc::int32(i) << GetParameterValue(i);
            packet.Finish();
            socket.Send(packet.Data(), packet.Size());
        }
    } else if (is("/getAllRegistered")) {
        args >> osc::EndMessage;
        std::vector<std::pair<SInt64, OSCUpdateTarget>> targets;
        {
            std::lock_guard<std::mutex> lock(m_listsLock);
            targets.assign(m_updateTargets.begin(), m_updateTargets.end());
        }
        for (const auto& [paramID, subscriber] : targets) {
            const IpEndpointName endpoint(static_cast<unsigned long>(subscriber.address), subscriber.port);
            if (!IsDeliverable(endpoint)) continue;
            OSCReplyPacket packet(subscriber.replyAddress.c_str());
            packet.Args() << osc::int32(paramID) << GetParameterValue(SInt32(paramID));
            packet.Finish();
            try {
                SendOSCDatagram(endpoint, packet.Data(), packet.Size());
            } catch (const std::runtime_error&) {
                // An unreachable subscriber: skipped, as its notifications are.
            }
        }
    } else if (is("/getNumParameters")) {
        args >> target >> replyAddress >> osc::EndMessage;
        Reply(target, replyAddress, [](osc::OutboundPacketStream& out) { out << osc::int32(kOSCNumParameters); });
    } else if (is("/isParameterUsed")) {
        args >> id >> target >> replyAddress >> osc::EndMessage;
        CheckId(id, "parameter id out of range in isParameterUsed");
        const bool used = isParameterUsed(id);
        Reply(target, replyAddress, [&](osc::OutboundPacketStream& out) { out << id << used; });
    } else if (is("/getInfo")) {
        args >> id >> target >> replyAddress >> osc::EndMessage;
        CheckId(id, "parameter id out of range in getInfo");
        if (!isParameterUsed(id)) throw osc::Exception("parameter id is unused");
        const ParamInfo& info = astParamInfos[id];
        char name[kNameBufferSize];
        AsciiName(info.name, name);
        Reply(target, replyAddress, [&](osc::OutboundPacketStream& out) {
            out << id << info.minValue << info.maxValue << info.defaultValue << name << osc::int32(info.unit);
        });
    } else if (is("/registerUpdate")) {
        args >> id >> target >> replyAddress >> osc::EndMessage;
        CheckId(id, "parameter id out of range in registerUpdate");
        AddUpdateTarget(id, target, replyAddress);
    } else if (is("/unregisterUpdate")) {
        args >> id >> target >> replyAddress >> osc::EndMessage;
        CheckId(id, "parameter id out of range in unregisterUpdate");
        RemoveUpdateTarget(id, target, replyAddress);
    } else if (is("/exec")) {
        ExecScript(message, false);
    } else if (is("/call")) {
        ExecScript(message, true);
    } else if (is("/startNote")) {
        PlayNote(message, true);
    } else if (is("/stopNote")) {
        PlayNote(message, false);
    } else {
        return false;
    }
    return true;
}

void OSCHelper::ProcessMessage(const char*, const osc::ReceivedMessage&, const IpEndpointName&) {}

bool OSCHelper::isParameterUsed(SInt32) {
    return true;
}

// ---------------------------------------------------------------------------------------------
// Parameters of the unit

void OSCHelper::SetParameterValue(SInt32 id, Float32 value) {
    if (!m_au) return;
    const AudioUnitParameter parameter{m_au->GetComponentInstance(), static_cast<AudioUnitParameterID>(id),
                                       kAudioUnitScope_Global, 0};
    AUParameterSet(nullptr, nullptr, &parameter, value, 0);
}

Float32 OSCHelper::GetParameterValue(SInt32 id) {
    if (!m_au) return 0;
    try {
        return m_au->Globals()->GetParameter(static_cast<AudioUnitParameterID>(id));
    } catch (...) {
        return 0;  // the framework rejects an id it does not hold
    }
}

// ---------------------------------------------------------------------------------------------
// "/ping"

std::string OSCHelper::OwnAddressText(const IpEndpointName& target) {
    IpEndpointName local(IpEndpointName::ANY_ADDRESS, IpEndpointName::ANY_PORT);
    // The listening socket belongs to this (the receive) task; connecting it to the target for
    // a moment gives the local address that route uses, and its own port.
    if (OSCListeningSocket* socket = m_socket.load())
        local = socket->LocalEndpointFor(target);
    else if (SInt32 port = m_boundPort.load())
        local.port = port;
    char text[IpEndpointName::ADDRESS_AND_PORT_STRING_LENGTH];
    local.AddressAndPortAsString(text);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Subscriptions (receive task; the notification task walks them under the same lock)

void OSCHelper::AddUpdateTarget(SInt32 id, const char* target, const char* replyAddress) {
    const IpEndpointName endpoint = ResolveTarget(target);
    OSCUpdateTarget subscriber{endpoint.address, endpoint.port, replyAddress};
    std::lock_guard<std::mutex> lock(m_listsLock);
    auto range = m_updateTargets.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) {
        const OSCUpdateTarget& t = it->second;
        if (t.address == subscriber.address && t.port == subscriber.port && t.replyAddress == subscriber.replyAddress)
            return;
    }
    m_updateTargets.emplace_hint(range.second, id, std::move(subscriber));  // after those of this id
    m_paramHasTargets[id].store(1);
}

void OSCHelper::RemoveUpdateTarget(SInt32 id, const char* target, const char* replyAddress) {
    const IpEndpointName endpoint = ResolveTarget(target);
    std::lock_guard<std::mutex> lock(m_listsLock);
    auto range = m_updateTargets.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) {
        const OSCUpdateTarget& t = it->second;
        if (t.address == endpoint.address && t.port == endpoint.port && t.replyAddress == replyAddress) {
            m_updateTargets.erase(it);
            break;
        }
    }
    if (m_updateTargets.count(id) == 0) m_paramHasTargets[id].store(0);
}

std::vector<OSCUpdateTarget> OSCHelper::UpdateTargets(SInt32 id) {
    std::vector<OSCUpdateTarget> result;
    std::lock_guard<std::mutex> lock(m_listsLock);
    auto range = m_updateTargets.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) result.push_back(it->second);
    return result;
}

}  // namespace TB
