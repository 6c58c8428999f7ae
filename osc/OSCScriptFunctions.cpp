// Script-driven OSC in OSC's own terms: sending a message a script built, registering
// script-owned OSC paths, and dispatching them. The script functions that call these live with
// the script host; nothing here raises into a script.
#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "effect/MarrowfinParameters.h"
#include "osc/OSCHelper.h"
#include "osc/OSCReply.h"

namespace TB {

namespace {

// A script number truncated toward zero to an int32, saturating (NaN gives the lowest).
osc::int32 TruncateToInt32(double v) {
    if (!(v == v)) return INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<osc::int32>(v);
}

}  // namespace

OSCHelper::SendResult OSCHelper::SendScriptMessage(const char* destination, const char* address, const char* types,
                                                   const OSCScriptValue* values, int count) noexcept {
    try {
        const IpEndpointName target = ResolveTarget(destination);
        OSCReplyPacket packet(address);
        for (int i = 0; i < count; ++i) {
            const OSCScriptValue& v = values[i];
            switch (v.kind) {
                case OSCScriptValue::kNil: packet.Args() << osc::OscNil; break;
                case OSCScriptValue::kBoolean:
                case OSCScriptValue::kNumber:
                    if (types && types[i] == 'i') packet.Args() << TruncateToInt32(v.number);
                    else packet.Args() << static_cast<float>(v.number);
                    break;
                case OSCScriptValue::kString: packet.Args() << v.text; break;
            }
        }
        packet.Finish();
        SendOSCDatagram(target, packet.Data(), packet.Size());
        return kSent;
    } catch (const osc::OutOfBufferMemoryException&) {
        return kOutOfBuffer;
    } catch (const std::runtime_error&) {
        return kNoSocket;
    } catch (...) {
        return kSendFailed;
    }
}

// ---------------------------------------------------------------------------------------------
// Registered paths

OSCHelper::RegisterResult OSCHelper::RegisterPathForParameters(const char* address, const int* ids, int count,
                                                               bool normalized) noexcept {
    try {
        std::vector<RegisteredPathParam> list;
        list.reserve(size_t(count));
        for (int i = 0; i < count; ++i) {
            if (ids[i] < 0 || ids[i] >= kOSCNumParameters) return kBadParameter;
            const ParamInfo& info = astParamInfos[ids[i]];
            if (normalized) list.push_back({ids[i], info.minValue, info.maxValue - info.minValue});
            else list.push_back({ids[i], 0.0f, 1.0f});
        }
        std::string key(address);
        std::lock_guard<std::mutex> guard(m_listsLock);
        auto existing = m_registeredPaths.find(key);
        if (existing != m_registeredPaths.end() && existing->second.size() != list.size()) return kInconsistentSizes;
        m_registeredPaths.emplace_hint(m_registeredPaths.upper_bound(key), std::move(key), std::move(list));
        return kRegistered;
    } catch (...) {
        return kNoMemory;
    }
}

// Receive task. Every registration of the address gets the same float arguments.
bool OSCHelper::DispatchRegisteredPath(const char* address, const osc::ReceivedMessage& message) {
    std::vector<std::vector<RegisteredPathParam>> registrations;
    {
        std::lock_guard<std::mutex> lock(m_listsLock);
        if (m_registeredPaths.empty()) return false;
        auto range = m_registeredPaths.equal_range(address);
        if (range.first == range.second) return false;
        for (auto it = range.first; it != range.second; ++it) registrations.push_back(it->second);
    }
    const size_t count = registrations.front().size();
    std::vector<float> values(count);
    osc::ReceivedMessageArgumentStream args = message.ArgumentStream();
    for (float& v : values) args >> v;
    args >> osc::EndMessage;
    for (const auto& list : registrations)
        for (size_t i = 0; i < count && i < list.size(); ++i)
            SetParameterValue(list[i].paramID, values[i] * list[i].scale + list[i].offset);
    return true;
}

}  // namespace TB
