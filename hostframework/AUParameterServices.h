// The host's parameter services: set a parameter so every listener learns of it, listen to
// parameters at a bounded rate, map values to and from 0..1, format values, gesture events.
#pragma once

#include <string>

#include "hostframework/AudioUnitAPI.h"

namespace TB { class RunLoop; }

typedef struct AUListenerBase* AUParameterListenerRef;
typedef AUParameterListenerRef AUEventListenerRef;

typedef void (*AUParameterListenerProc)(void* inRefCon, void* inObject, const AudioUnitParameter* inParameter,
                                        AudioUnitParameterValue inValue);

// Sets the parameter through the unit's SetParameter (a selector call), then notifies every
// listener registered for it, except `sendingListener` when given. Any thread; the unit's
// SetParameter runs on the calling thread, listener callbacks on their own run loops.
OSStatus AUParameterSet(AUParameterListenerRef sendingListener, void* sendingObject, const AudioUnitParameter* param,
                        AudioUnitParameterValue value, UInt32 bufferOffsetInFrames);

// Notifies listeners of a change made some other way (the value is read from the unit).
OSStatus AUParameterListenerNotify(AUParameterListenerRef sendingListener, void* sendingObject,
                                   const AudioUnitParameter* param);

// A listener delivers its callbacks on `runLoop`, at most once per `notificationInterval`
// seconds per parameter, with the latest value (changes in between are coalesced).
OSStatus AUListenerCreate(AUParameterListenerProc proc, void* refCon, TB::RunLoop* runLoop, void* runLoopMode,
                          Float32 notificationInterval, AUParameterListenerRef* outListener);
OSStatus AUListenerDispose(AUParameterListenerRef listener);
OSStatus AUListenerAddParameter(AUParameterListenerRef listener, void* object, const AudioUnitParameter* param);
OSStatus AUListenerRemoveParameter(AUParameterListenerRef listener, void* object, const AudioUnitParameter* param);

// Linear map of [min, max] to [0, 1] for parameters without display-curve flags.
Float32 AUParameterValueToLinear(Float32 value, const AudioUnitParameter* param);
Float32 AUParameterValueFromLinear(Float32 linear, const AudioUnitParameter* param);
// A short decimal text of the value with `digits` significant digits; returns textBuffer.
char* AUParameterFormatValue(Float64 value, const AudioUnitParameter* param, char* textBuffer, UInt32 digits);

// Gesture events.
enum AudioUnitEventType : UInt32 {
    kAudioUnitEvent_ParameterValueChange = 0,
    kAudioUnitEvent_BeginParameterChangeGesture = 1,
    kAudioUnitEvent_EndParameterChangeGesture = 2,
    kAudioUnitEvent_PropertyChange = 3,
};
struct AudioUnitEvent {
    AudioUnitEventType mEventType;
    union {
        AudioUnitParameter mParameter;
        struct {
            AudioUnit mAudioUnit;
            AudioUnitPropertyID mPropertyID;
            AudioUnitScope mScope;
            AudioUnitElement mElement;
        } mProperty;
    } mArgument;
};
typedef void (*AUEventListenerProc)(void* inCallbackRefCon, void* inObject, const AudioUnitEvent* inEvent,
                                    UInt64 inEventHostTime, AudioUnitParameterValue inParameterValue);
OSStatus AUEventListenerCreate(AUEventListenerProc proc, void* refCon, TB::RunLoop* runLoop, void* runLoopMode,
                               Float32 notificationInterval, Float32 valueChangeGranularity,
                               AUEventListenerRef* outListener);
OSStatus AUEventListenerAddEventType(AUEventListenerRef listener, void* object, const AudioUnitEvent* event);
OSStatus AUEventListenerNotify(AUEventListenerRef sendingListener, void* sendingObject, const AudioUnitEvent* event);
