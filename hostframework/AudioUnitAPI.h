// The component interface: instance handles, selector dispatch and the host-side calls.
//
// A host never calls a unit's methods. It opens a component instance with the unit's entry
// function and then talks to it only through the calls below, each of which packs its arguments
// into a ComponentParameters record and hands it to the entry with a selector number.
// Every call may be made from any thread; which thread the unit expects is documented per call.
#pragma once

#include "hostframework/AUTypes.h"

// Selector numbers (the platform's values).
enum : SInt16 {
    kComponentOpenSelect = -1,
    kComponentCloseSelect = -2,
    kComponentCanDoSelect = -3,
    kComponentVersionSelect = -4,

    kAudioUnitInitializeSelect = 1,
    kAudioUnitUninitializeSelect = 2,
    kAudioUnitGetPropertyInfoSelect = 3,
    kAudioUnitGetPropertySelect = 4,
    kAudioUnitSetPropertySelect = 5,
    kAudioUnitGetParameterSelect = 6,
    kAudioUnitSetParameterSelect = 7,
    kAudioUnitResetSelect = 9,
    kAudioUnitAddPropertyListenerSelect = 10,
    kAudioUnitRemovePropertyListenerSelect = 11,
    kAudioUnitRenderSelect = 14,
    kAudioUnitAddRenderNotifySelect = 15,
    kAudioUnitRemoveRenderNotifySelect = 16,
    kAudioUnitScheduleParametersSelect = 17,
    kAudioUnitRemovePropertyListenerWithUserDataSelect = 18,

    kMusicDeviceMIDIEventSelect = 0x0101,
    kMusicDeviceSysExSelect = 0x0102,
};

// Arguments of one selector call, in the order of the public call's parameter list
// (the instance itself is not among them). Integers travel widened to intptr_t, floats
// by their 32-bit pattern in `fp`, pointers as they are.
struct ComponentParameters {
    SInt16 what;         // selector
    int count;           // number of entries used in params
    intptr_t params[8];  // integer or pointer arguments, in call order
    Float32 fp[2];       // float arguments, in call order
};

// A component's entry function (for example VoskMarrowfinEntry). `storage` is the instance's
// storage slot: the open selector stores the new unit there, every later call reads it.
typedef ComponentResult (*ComponentEntryProc)(ComponentParameters* params, void** storage);

// ---------------------------------------------------------------------------------------------
// Component Manager stand-in

// Registers the component description that an entry's instances report (class-info state).
// OpenComponent creates an instance handle, calls the open selector and returns the handle,
// or null with *outErr set when the open failed. CloseComponent calls the close selector and
// frees the handle. Both: any non-render thread.
AudioComponentInstance OpenComponent(ComponentEntryProc entry, const AudioComponentDescription& desc,
                                     OSStatus* outErr = nullptr);
OSStatus CloseComponent(AudioComponentInstance ci);

// The description the instance was opened with (the unit reads its codes back for its state).
OSStatus GetComponentInfo(AudioComponentInstance ci, AudioComponentDescription* outDesc);

// The instance's storage: the unit object. Null for an unknown or closed handle.
void* GetComponentInstanceStorage(AudioComponentInstance ci);

// Generic dispatch: calls the instance's entry with the record.
ComponentResult CallComponentDispatch(AudioComponentInstance ci, ComponentParameters* params);

// ---------------------------------------------------------------------------------------------
// Host-side calls (each is one selector call)

OSStatus AudioUnitInitialize(AudioUnit ci);
OSStatus AudioUnitUninitialize(AudioUnit ci);
OSStatus AudioUnitGetPropertyInfo(AudioUnit ci, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                  UInt32* outDataSize, Boolean* outWritable);
OSStatus AudioUnitGetProperty(AudioUnit ci, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                              void* outData, UInt32* ioDataSize);
OSStatus AudioUnitSetProperty(AudioUnit ci, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                              const void* inData, UInt32 inDataSize);
OSStatus AudioUnitAddPropertyListener(AudioUnit ci, AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                      void* refCon);
OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit ci, AudioUnitPropertyID id,
                                                     AudioUnitPropertyListenerProc proc, void* refCon);
OSStatus AudioUnitAddRenderNotify(AudioUnit ci, AURenderCallback proc, void* refCon);
OSStatus AudioUnitRemoveRenderNotify(AudioUnit ci, AURenderCallback proc, void* refCon);
OSStatus AudioUnitGetParameter(AudioUnit ci, AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                               AudioUnitParameterValue* outValue);
OSStatus AudioUnitSetParameter(AudioUnit ci, AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                               AudioUnitParameterValue value, UInt32 bufferOffsetInFrames);
OSStatus AudioUnitScheduleParameters(AudioUnit ci, const AudioUnitParameterEvent* events, UInt32 numEvents);
// Render thread: no allocation, no lock, no system call on the way to the unit.
OSStatus AudioUnitRender(AudioUnit ci, AudioUnitRenderActionFlags* ioActionFlags, const AudioTimeStamp* inTimeStamp,
                         UInt32 inOutputBusNumber, UInt32 inNumberFrames, AudioBufferList* ioData);
OSStatus AudioUnitReset(AudioUnit ci, AudioUnitScope scope, AudioUnitElement element);
ComponentResult GetComponentVersion(AudioUnit ci);
ComponentResult ComponentCanDo(AudioUnit ci, SInt16 selector);

// MIDI delivery thread. A status byte, two data bytes and the frame offset in the next render.
OSStatus MusicDeviceMIDIEvent(AudioUnit ci, UInt32 status, UInt32 data1, UInt32 data2, UInt32 offsetSampleFrame);
OSStatus MusicDeviceSysEx(AudioUnit ci, const UInt8* data, UInt32 length);
