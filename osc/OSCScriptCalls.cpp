// "/exec", "/call", "/startNote" and "/stopNote": remote calls into the unit's MIDI script,
// through the script host's OSCScriptHost side. Receive task.
#include <climits>
#include <vector>

#include "osc/OSCHelper.h"
#include "osc/OSCReply.h"

namespace TB {

namespace {

// Low 8 bits of a value truncated toward zero; values beyond int saturate first.
UInt8 LowByte(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return UInt8(INT_MAX & 0xFF);
    if (v <= -2147483648.0) return 0;
    return UInt8(static_cast<int>(v) & 0xFF);
}

}  // namespace

void OSCHelper::ExecScript(const osc::ReceivedMessage& message, bool reply) {
    if (!m_scriptHost) throw osc::Exception("no Lua support from OSC");
    osc::ReceivedMessageArgumentIterator it = message.ArgumentsBegin();
    const osc::ReceivedMessageArgumentIterator end = message.ArgumentsEnd();
    auto nextString = [&]() {
        if (it == end) throw osc::MissingArgumentException();
        return (it++)->AsString();
    };
    const char* function = nextString();
    const char* target = reply ? nextString() : nullptr;
    const char* replyAddress = reply ? nextString() : nullptr;

    using Value = OSCScriptValue;
    std::vector<Value> arguments;
    for (; it != end; ++it) {
        switch (it->TypeTag()) {
            case osc::TRUE_TYPE_TAG: arguments.push_back({Value::kBoolean, 1, nullptr}); break;
            case osc::FALSE_TYPE_TAG: arguments.push_back({Value::kBoolean, 0, nullptr}); break;
            case osc::FLOAT_TYPE_TAG: arguments.push_back({Value::kNumber, it->AsFloatUnchecked(), nullptr}); break;
            case osc::DOUBLE_TYPE_TAG: arguments.push_back({Value::kNumber, it->AsDoubleUnchecked(), nullptr}); break;
            case osc::INT32_TYPE_TAG: arguments.push_back({Value::kNumber, double(it->AsInt32Unchecked()), nullptr}); break;
            case osc::INT64_TYPE_TAG: arguments.push_back({Value::kNumber, double(it->AsInt64Unchecked()), nullptr}); break;
            case osc::STRING_TYPE_TAG: arguments.push_back({Value::kString, 0, it->AsStringUnchecked()}); break;
            case osc::NIL_TYPE_TAG: arguments.push_back({Value::kNil, 0, nullptr}); break;
            default: throw osc::Exception("unhandled argument type to exec");
        }
    }

    OSCScriptResults results;
    const OSCScriptHost::CallStatus status =
        m_scriptHost->CallScriptFunction(function, arguments.data(), int(arguments.size()), reply ? &results : nullptr);
    if (status == OSCScriptHost::kUnavailable) throw osc::Exception("no Lua support from OSC");
    if (status != OSCScriptHost::kCalled) throw osc::Exception("failed to exec function");
    if (!reply) return;
    if (results.badResult) throw osc::Exception("unhandled argument type return from call");
    if (results.textOverflow) throw osc::OutOfBufferMemoryException();

    const IpEndpointName endpoint = ResolveTarget(target);
    if (!IsDeliverable(endpoint)) return;
    OSCReplyPacket packet(replyAddress);
    for (int i = 0; i < results.count; ++i) {
        const OSCScriptResults::Result& r = results.results[i];
        if (r.isString) packet.Args() << static_cast<const char*>(results.text + r.offset);
        else packet.Args() << r.number;
    }
    packet.Finish();
    SendOSCDatagram(endpoint, packet.Data(), packet.Size());
}

void OSCHelper::PlayNote(const osc::ReceivedMessage& message, bool on) {
    osc::int32 note = 0;
    float velocity = 0;
    message.ArgumentStream() >> note >> velocity >> osc::EndMessage;
    if (!m_scriptHost) return;
    // No range check: only the script hears it.
    m_scriptHost->PlayScriptNote(on, UInt8(note & 0xFF), LowByte(static_cast<double>(velocity * 127.0f)));
}

}  // namespace TB
