// What the OSC service needs of a unit's script host, in OSC's own terms: no script-language
// type crosses this line, so the OSC service builds and is tested without a script engine, and
// the script host depends on the OSC service, never the other way round.
#pragma once

#include <cstddef>

#include "hostframework/AUTypes.h"

namespace TB {

// One value passed between OSC and a script: an OSC argument going in, a script's result coming
// out, or a value a script sends (nil, true/false, a number, a string).
struct OSCScriptValue {
    enum Kind : char { kNil, kBoolean, kNumber, kString } kind;
    double number;     // kBoolean: 0 or 1; kNumber: the value
    const char* text;  // kString: zero-terminated, owned by whoever made the value
};

// The results of one remote call, copied out of the script before its lock is released.
struct OSCScriptResults {
    static constexpr int kMaxResults = 16;
    static constexpr size_t kTextBytes = 1024;

    int count = 0;
    bool badResult = false;     // a result that is neither a number nor a string (reading stopped)
    bool textOverflow = false;  // strings beyond what one reply can hold (reading stopped)
    struct Result {
        bool isString;
        float number;
        size_t offset;  // into text
    } results[kMaxResults];
    char text[kTextBytes];
    size_t textUsed = 0;
};

class OSCScriptHost {
public:
    enum CallStatus {
        kCalled,       // the function ran and returned
        kFailed,       // it is not a function the unit's scripts defined, or it raised an error
        kUnavailable,  // the unit has no script state
    };

    // OSC receive task. Calls the global function `name` that the unit's own scripts defined (not
    // a function of the standard library or of the script API: the remote control reaches only
    // what the scripts chose to offer) with the arguments, under the script lock and its time
    // bound. With `results` non-null, the function's results are read into it.
    virtual CallStatus CallScriptFunction(const char* name, const OSCScriptValue* arguments, int count,
                                          OSCScriptResults* results) = 0;

    // OSC receive task. A note played into the scripts as if it came from MIDI channel index 1.
    virtual void PlayScriptNote(bool on, UInt8 note, UInt8 velocity) = 0;

protected:
    ~OSCScriptHost() = default;
};

}  // namespace TB
