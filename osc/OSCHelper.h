// The per-unit OSC service: listens on UDP base port + "OSC Port Offset", publishes itself with
// Bonjour, dispatches requests and sends parameter-change notifications.
#pragma once

#include "hostframework/AUTypes.h"

class AUBase;

namespace TB {

class LuaMIDIHelper;

class OSCHelper {
public:
    OSCHelper(AUBase* au, LuaMIDIHelper* luaHelper);
    virtual ~OSCHelper();

    // Host threads, through the unit's Initialize / Cleanup.
    void CreateTask();
    void DestroyTask();
    // Any thread; no lock, no allocation.
    void SetPort(SInt32 port);
    void Disable();
    // Any thread, the render thread included: lock-free, never blocks.
    void NotifySetParam(SInt32 id, Float32 value);

    SInt32 GetPort() const { return m_port; }

protected:
    AUBase* m_au;
    LuaMIDIHelper* m_luaHelper;
    SInt32 m_port = 0;
};

}  // namespace TB
