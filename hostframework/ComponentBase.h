// The root of every unit: it knows its component instance, and it is built and torn down in two
// steps so that virtual calls work during set-up (PostConstructor) and tear-down (PreDestructor).
//
// A unit's entry function handles the open selector itself (it constructs the unit, which needs
// the concrete class) and hands every other selector to the framework's dispatch; close there
// runs PreDestructor and deletes the unit. Open and close run on a non-render host thread.
#pragma once

#include <new>

#include "hostframework/AudioUnitAPI.h"

class ComponentBase {
public:
    explicit ComponentBase(AudioComponentInstance inInstance);
    virtual ~ComponentBase();
    ComponentBase(const ComponentBase&) = delete;
    ComponentBase& operator=(const ComponentBase&) = delete;

    // Called once after construction (virtual calls are safe here) and once before deletion.
    virtual void PostConstructor();
    virtual void PreDestructor();

    AudioComponentInstance GetComponentInstance() const { return m_componentInstance; }
    // The description the instance was opened with (its type, subtype and manufacturer codes).
    AudioComponentDescription GetComponentDescription() const;

    virtual OSStatus Version();

    // The instance handle that the open selector carries (params[0]).
    static AudioComponentInstance InstanceFromOpenParams(const ComponentParameters* params);

    // Open helper for entry functions: constructs a `Unit` for the instance, calls its
    // PostConstructor and stores it (as `Unit*`) in *storage. Out of memory gives -108, a thrown status code
    // that code, anything else -1; a unit that fails is deleted and not stored. The caller takes
    // any process-wide open lock around it.
    template <class Unit>
    static OSStatus Open(ComponentParameters* params, void** storage);

    // Runs PreDestructor and deletes the unit; never throws.
    static OSStatus Close(ComponentBase* unit);

    // Maps the exception in flight (call inside a catch block) to a result code.
    static OSStatus ResultFromCurrentException() noexcept;

protected:
    AudioComponentInstance m_componentInstance;
};

template <class Unit>
OSStatus ComponentBase::Open(ComponentParameters* params, void** storage) {
    if (params == nullptr || storage == nullptr) return paramErr;
    AudioComponentInstance ci = InstanceFromOpenParams(params);
    Unit* unit = nullptr;
    try {
        unit = new Unit(ci);
        unit->PostConstructor();
    } catch (...) {
        OSStatus result = ResultFromCurrentException();
        delete unit;
        return result;
    }
    *storage = unit;  // the entry casts the storage back to `Unit*`
    return noErr;
}
