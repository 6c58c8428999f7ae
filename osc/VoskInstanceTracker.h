// The process-wide registry of effect units through which a MIDI script reads and sets the
// parameters and GUI bool values of other units in the same process. A unit is addressed by its
// OSC index: the current value of its "OSC Port Offset" parameter (id 39), compared as a float
// with exact equality, so 3.5 matches no integer index. Several units may share an index: the
// set operations reach all of them in registry order, the get operations read the first.
//
// Any thread. Callers hold their own unit's script lock; every operation takes
// ms_criticalSection after it (script lock, then registry lock). The registry lock is held
// across parameter sets on other units, which never enter a script.
#pragma once

#include <vector>

#include "hostframework/AUTypes.h"
#include "hostframework/MPServices.h"

class AUBase;

class VoskInstanceTracker {
public:
    VoskInstanceTracker() = delete;

    // A unit enters after its parameters exist and leaves before it is destroyed.
    static void Add(AUBase* unit);
    static void Remove(AUBase* unit);

    // Sets the parameter through the host's parameter-set call on every matching unit.
    static void SetParameterOnAllByOSCIndex(SInt32 oscIndex, SInt32 id, Float32 value);
    // The first matching unit's current value; 0 when none matches or it has no such id.
    static Float32 GetParameterFromAllByOSCIndex(SInt32 oscIndex, SInt32 id);
    // Stores value != 0 into guiBool[index] of every matching unit; index 0..7.
    static void SetGUIBoolValueOnAllByOSCIndex(SInt32 oscIndex, SInt32 index, SInt32 value);
    // The first matching unit's guiBool[index]; false when none matches.
    static bool GetGUIBoolValueFromAllByOSCIndex(SInt32 oscIndex, SInt32 index);

private:
    static std::vector<AUBase*> ms_instances;
    static MPCriticalRegionID ms_criticalSection;
};
