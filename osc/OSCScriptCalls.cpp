// "/exec", "/call", "/startNote" and "/stopNote": remote calls into the unit's MIDI script.
// Receive task. Script entries hold the script host's lock; the state is entered only inside
// lua_cpcall, so no script error (Lua's C build unwinds with longjmp) can cross a C++ frame with
// live destructors, and the stack is restored to its height whatever happens.
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "midiscript/LuaMIDIHelper.h"
#include "osc/OSCHelper.h"
#include "osc/OSCReply.h"

namespace TB {

namespace {

constexpr int kCallResults = 16;

// One OSC argument as the script receives it.
struct ScriptArgument {
    enum Kind : char { kNil, kBoolean, kNumber, kString } kind;
    double number;
    const char* text;  // points into the received packet
};

// What the protected part reads and writes: plain data only.
struct ScriptCall {
    const char* function;
    const ScriptArgument* arguments;
    int argumentCount;
    bool wantResults;

    int status;         // of the script function's own call; nonzero: it failed
    bool badResult;     // a result that is neither a number nor a string
    bool textOverflow;  // string results beyond what one reply can hold
    int resultCount;
    struct Result {
        bool isString;
        float number;
        size_t offset;  // into text
    } results[kCallResults];
    char text[kOSCPacketBufferSize];
    size_t textUsed;
};

// Runs under lua_cpcall: pushes the function and its arguments, calls it, and reads the results
// into the record. Errors raised here end the cpcall, not the receive task.
int RunScriptCall(lua_State* L) {
    ScriptCall* call = static_cast<ScriptCall*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    if (!lua_checkstack(L, call->argumentCount + kCallResults + 2)) return luaL_error(L, "too many arguments");
    lua_getglobal(L, call->function);
    for (int i = 0; i < call->argumentCount; ++i) {
        const ScriptArgument& a = call->arguments[i];
        switch (a.kind) {
            case ScriptArgument::kNil: lua_pushnil(L); break;
            case ScriptArgument::kBoolean: lua_pushboolean(L, a.number != 0); break;
            case ScriptArgument::kNumber: lua_pushnumber(L, a.number); break;
            case ScriptArgument::kString: lua_pushstring(L, a.text); break;
        }
    }
    call->status = lua_pcall(L, call->argumentCount, call->wantResults ? kCallResults : 0, 0);
    if (call->status != 0 || !call->wantResults) return 0;
    for (int i = 1; i <= kCallResults; ++i) {
        if (lua_isnil(L, i)) break;
        ScriptCall::Result& r = call->results[call->resultCount];
        if (lua_isnumber(L, i)) {  // a number, or a string that converts to one
            r.isString = false;
            r.number = static_cast<float>(lua_tonumber(L, i));
        } else if (lua_type(L, i) == LUA_TSTRING) {
            size_t length = 0;
            const char* s = lua_tolstring(L, i, &length);
            length = strnlen(s, length);  // OSC strings end at the first zero byte
            if (call->textUsed + length + 1 > sizeof call->text) {
                call->textOverflow = true;
                break;
            }
            r.isString = true;
            r.offset = call->textUsed;
            std::memcpy(call->text + call->textUsed, s, length);
            call->text[call->textUsed + length] = '\0';
            call->textUsed += length + 1;
        } else {
            call->badResult = true;
            break;
        }
        ++call->resultCount;
    }
    return 0;
}

// Low 8 bits of a value truncated toward zero; values beyond int saturate first.
UInt8 LowByte(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return UInt8(INT_MAX & 0xFF);
    if (v <= -2147483648.0) return 0;
    return UInt8(static_cast<int>(v) & 0xFF);
}

}  // namespace

void OSCHelper::ExecScript(const osc::ReceivedMessage& message, bool reply) {
    if (!m_luaHelper) throw osc::Exception("no Lua support from OSC");
    osc::ReceivedMessageArgumentIterator it = message.ArgumentsBegin();
    const osc::ReceivedMessageArgumentIterator end = message.ArgumentsEnd();
    auto nextString = [&]() {
        if (it == end) throw osc::MissingArgumentException();
        return (it++)->AsString();
    };
    const char* function = nextString();
    const char* target = reply ? nextString() : nullptr;
    const char* replyAddress = reply ? nextString() : nullptr;

    std::vector<ScriptArgument> arguments;
    for (; it != end; ++it) {
        switch (it->TypeTag()) {
            case osc::TRUE_TYPE_TAG: arguments.push_back({ScriptArgument::kBoolean, 1, nullptr}); break;
            case osc::FALSE_TYPE_TAG: arguments.push_back({ScriptArgument::kBoolean, 0, nullptr}); break;
            case osc::FLOAT_TYPE_TAG: arguments.push_back({ScriptArgument::kNumber, it->AsFloatUnchecked(), nullptr}); break;
            case osc::DOUBLE_TYPE_TAG: arguments.push_back({ScriptArgument::kNumber, it->AsDoubleUnchecked(), nullptr}); break;
            case osc::INT32_TYPE_TAG: arguments.push_back({ScriptArgument::kNumber, double(it->AsInt32Unchecked()), nullptr}); break;
            case osc::INT64_TYPE_TAG: arguments.push_back({ScriptArgument::kNumber, double(it->AsInt64Unchecked()), nullptr}); break;
            case osc::STRING_TYPE_TAG: arguments.push_back({ScriptArgument::kString, 0, it->AsStringUnchecked()}); break;
            case osc::NIL_TYPE_TAG: arguments.push_back({ScriptArgument::kNil, 0, nullptr}); break;
            default: throw osc::Exception("unhandled argument type to exec");
        }
    }

    ScriptCall call{};
    call.function = function;
    call.arguments = arguments.data();
    call.argumentCount = static_cast<int>(arguments.size());
    call.wantResults = reply;
    int status = 0;
    {
        LuaMIDIHelper::ScopedLock lock(*m_luaHelper);
        lua_State* L = m_luaHelper->LuaInit();
        if (!L) throw osc::Exception("no Lua support from OSC");
        const int top = lua_gettop(L);
        status = lua_cpcall(L, RunScriptCall, &call);
        lua_settop(L, top);
    }
    if (status != 0 || call.status != 0) throw osc::Exception("failed to exec function");
    if (!reply) return;
    if (call.badResult) throw osc::Exception("unhandled argument type return from call");
    if (call.textOverflow) throw osc::OutOfBufferMemoryException();

    const IpEndpointName endpoint = ResolveTarget(target);
    if (!IsDeliverable(endpoint)) return;
    OSCReplyPacket packet(replyAddress);
    for (int i = 0; i < call.resultCount; ++i) {
        const ScriptCall::Result& r = call.results[i];
        if (r.isString) packet.Args() << static_cast<const char*>(call.text + r.offset);
        else packet.Args() << r.number;
    }
    packet.Finish();
    SendOSCDatagram(endpoint, packet.Data(), packet.Size());
}

void OSCHelper::PlayNote(const osc::ReceivedMessage& message, bool on) {
    osc::int32 note = 0;
    float velocity = 0;
    message.ArgumentStream() >> note >> velocity >> osc::EndMessage;
    if (!m_luaHelper) return;
    // Channel index 1: scripts see MIDI channel 2. No range check: only the script hears it.
    const UInt8 noteByte = UInt8(note & 0xFF);
    const UInt8 velocityByte = LowByte(static_cast<double>(velocity * 127.0f));
    if (on) m_luaHelper->HandleNoteOn(1, noteByte, velocityByte, 0);
    else m_luaHelper->HandleNoteOff(1, noteByte, velocityByte, 0);
}

}  // namespace TB
