// Placeholder bodies until the OSC service lands: records the requested port only.
#include "osc/OSCHelper.h"

namespace TB {

OSCHelper::OSCHelper(AUBase* au, LuaMIDIHelper* luaHelper) : m_au(au), m_luaHelper(luaHelper) {}
OSCHelper::~OSCHelper() = default;
void OSCHelper::CreateTask() {}
void OSCHelper::DestroyTask() {}
void OSCHelper::SetPort(SInt32 port) { m_port = port; }
void OSCHelper::Disable() { m_port = 0; }
void OSCHelper::NotifySetParam(SInt32, Float32) {}

}  // namespace TB
