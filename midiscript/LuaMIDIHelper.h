// The per-unit MIDI script host: a private Lua 5.1 state running the user's MIDI scripts.
#pragma once

#include "hostframework/AUTypes.h"

struct lua_State;
class AUBase;

namespace TB {

class OSCHelper;

class LuaMIDIHelper {
public:
    // Stores both pointers and creates the locks; does not create the Lua state.
    LuaMIDIHelper(AUBase* effect, OSCHelper* oscHelper);
    virtual ~LuaMIDIHelper();

    // The state, created and loaded (built-in and user scripts) on the first call.
    lua_State* LuaInit();
    void LuaShutdown();

    // MIDI delivery thread. Channel 0..15, data bytes 0..127; the offset is not used.
    virtual void HandleNoteOn(UInt8 channel, UInt8 note, UInt8 velocity, UInt32 offset);
    virtual void HandleNoteOff(UInt8 channel, UInt8 note, UInt8 velocity, UInt32 offset);
    virtual void HandleControlChange(UInt8 channel, UInt8 controller, UInt8 value, UInt32 offset);
    virtual void HandlePitchWheel(UInt8 channel, UInt8 lsb, UInt8 msb, UInt32 offset);
    virtual bool isParameterUsed(SInt32 id);
    virtual void setGUIBoolValue(int index, int value) = 0;
    virtual int getGUIBoolValue(int index) const = 0;

    void HandlePolyPressure(UInt8 channel, UInt8 note, UInt8 pressure, UInt32 offset);
    void HandleProgramChange(UInt8 channel, UInt8 program);
    void HandleChannelPressure(UInt8 channel, UInt8 value, UInt32 offset);

    AUBase* GetEffect() const { return m_effect; }
    OSCHelper* GetOSCHelper() const { return m_oscHelper; }

protected:
    AUBase* m_effect;
    OSCHelper* m_oscHelper;
    lua_State* m_state = nullptr;
};

}  // namespace TB
