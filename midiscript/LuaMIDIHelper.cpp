// Placeholder bodies until the script host lands: no state, MIDI does nothing.
#include "midiscript/LuaMIDIHelper.h"

namespace TB {

LuaMIDIHelper::LuaMIDIHelper(AUBase* effect, OSCHelper* oscHelper) : m_effect(effect), m_oscHelper(oscHelper) {}
LuaMIDIHelper::~LuaMIDIHelper() = default;
lua_State* LuaMIDIHelper::LuaInit() { return m_state; }
void LuaMIDIHelper::LuaShutdown() {}
void LuaMIDIHelper::HandleNoteOn(UInt8, UInt8, UInt8, UInt32) {}
void LuaMIDIHelper::HandleNoteOff(UInt8, UInt8, UInt8, UInt32) {}
void LuaMIDIHelper::HandleControlChange(UInt8, UInt8, UInt8, UInt32) {}
void LuaMIDIHelper::HandlePitchWheel(UInt8, UInt8, UInt8, UInt32) {}
bool LuaMIDIHelper::isParameterUsed(SInt32) { return true; }
void LuaMIDIHelper::HandlePolyPressure(UInt8, UInt8, UInt8, UInt32) {}
void LuaMIDIHelper::HandleProgramChange(UInt8, UInt8) {}
void LuaMIDIHelper::HandleChannelPressure(UInt8, UInt8, UInt32) {}

}  // namespace TB
