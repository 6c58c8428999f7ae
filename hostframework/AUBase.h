// The general unit: elements and parameters, the standard properties, initialise/clean-up,
// the render entry, scheduled parameter events, presets and the class-info state.
//
// Threads: the render entry (DoRender -> RenderBus -> Render) runs on the host's render thread
// and never allocates, locks or makes a system call; everything sized at Initialize stays put
// until Cleanup. Parameter values may be set from any thread. Properties, presets, state,
// initialise and clean-up run on the host's non-render threads.
#pragma once

#include <plist/plist.h>

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

#include "hostframework/AUScopeElement.h"
#include "hostframework/CFLite.h"
#include "hostframework/ComponentBase.h"

struct AUChannelInfo {
    SInt16 inChannels;
    SInt16 outChannels;
};

class AUBase : public ComponentBase {
public:
    AUBase(AudioComponentInstance inInstance, UInt32 numInputElements, UInt32 numOutputElements);
    ~AUBase() override;

    void PostConstructor() override;  // CreateElements()
    // Builds the global element 0 and the input and output elements (idempotent).
    void CreateElements();

    // ---- lifecycle (non-render threads)
    virtual OSStatus Initialize();
    virtual void Cleanup();
    virtual OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement);
    // Initialise (when not yet) and allocate the I/O buffers; clean up and clear the flag.
    OSStatus DoInitialize();
    void DoCleanup();
    bool IsInitialized() const { return m_initialized.load(std::memory_order_acquire); }

    // ---- properties. The unit sees every property first and hands the others down.
    virtual OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                     UInt32& outDataSize, Boolean& outWritable);
    virtual OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                 void* outData);
    virtual OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                 const void* inData, UInt32 inDataSize);
    // Tells the property listeners of `inID` (any thread but render).
    void PropertyChanged(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement);
    OSStatus AddPropertyListener(AudioUnitPropertyID inID, AudioUnitPropertyListenerProc proc, void* refCon);
    // Removes every registration of (id, proc), or only those with `refCon` when matchRefCon.
    OSStatus RemovePropertyListener(AudioUnitPropertyID inID, AudioUnitPropertyListenerProc proc, void* refCon,
                                    bool matchRefCon);

    // ---- parameters
    // Any thread, the render thread included: reads one stored value.
    virtual OSStatus GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                  AudioUnitParameterValue& outValue);
    // Stores an immediate value in the addressed element and returns the result (no throw).
    // A NON-REAL-TIME thread only: a unit may do slow work when a parameter changes (Marrowfin's
    // "OSC Port Offset" wakes its OSC task, which binds a socket), so hosts never call this from
    // their render thread; a change that must land at a sample goes through ScheduleParameter,
    // which only stores values. The LV2 plug-in hands such changes to its worker.
    virtual OSStatus SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                  AudioUnitParameterValue inValue, UInt32 inBufferOffsetInFrames);
    // Render thread, before the render call: keeps the events for the next render, which applies
    // them at their offsets. Every event must name an existing element (-10877) and parameter
    // (-10878); more than kMaxScheduledEvents waiting gives -10863. Nothing is kept on failure.
    virtual OSStatus ScheduleParameter(const AudioUnitParameterEvent* inParameterEvent, UInt32 inNumEvents);
    virtual OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                      AudioUnitParameterInfo& outParameterInfo);
    // Default: -10879. outStrings null means the host only asks whether strings exist.
    virtual OSStatus GetParameterValueStrings(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                              CFArrayRef* outStrings);

    // ---- state and presets (non-render threads)
    // A new class-info dictionary; the caller frees it (plist_free).
    virtual OSStatus SaveState(plist_t* outData);
    // Restores a class-info dictionary; -10851 and no change when it is not acceptable.
    virtual OSStatus RestoreState(plist_t inData);
    virtual OSStatus GetPresets(CFArrayRef* outData) const;                     // default -10879
    virtual OSStatus NewFactoryPresetSet(const AUPreset& inNewFactoryPreset);  // default -10879
    // Records a non-negative numbered, named preset as current; false (no change) otherwise.
    bool SetAFactoryPresetAsCurrent(const AUPreset& inPreset);
    // Number and name; the name is not retained for the caller.
    AUPreset GetCurrentPreset() const;

    // ---- host queries
    virtual Float64 GetLatency();
    virtual Float64 GetTailTime();
    virtual bool SupportsTail();
    virtual int GetNumCustomUIComponents();
    virtual void GetUIComponentDescs(AudioComponentDescription* inDescArray);
    // Channel configurations the unit supports; 0 = none declared.
    virtual UInt32 SupportedNumChannels(const AUChannelInfo** outInfo);
    // Whether the stream format of an element may change now (default: only while uninitialised).
    virtual bool StreamFormatWritable(AudioUnitScope scope, AudioUnitElement element);
    // Stores a validated format in the element (override to react to the change).
    virtual OSStatus ChangeStreamFormat(AudioUnitScope scope, AudioUnitElement element,
                                        const AudioStreamBasicDescription& newFormat);

    // ---- render (render thread)
    // The render entry: checks, flush-to-zero around the whole call, render notifications,
    // output buffers, RenderBus, then hands the host the output.
    OSStatus DoRender(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                      UInt32 inNumberFrames, AudioBufferList& ioData);
    virtual OSStatus RenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                               UInt32 inBusNumber, UInt32 inNumberFrames);
    virtual OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                            UInt32 inNumberFrames);
    OSStatus AddRenderNotify(AURenderCallback proc, void* refCon);
    OSStatus RemoveRenderNotify(AURenderCallback proc, void* refCon);

    // ---- elements
    UInt32 GetMaxFramesPerSlice() const { return m_maxFramesPerSlice; }
    // -10849 while initialised, -10851 for 0 or above kMaxFramesPerSliceLimit.
    OSStatus SetMaxFramesPerSlice(UInt32 nFrames);
    AUScope& GetScope(AudioUnitScope inScope);  // throws -10866 for an unknown scope
    AUElement* Globals() { return m_globalScope.GetElement(0); }
    AUElement* GetElement(AudioUnitScope inScope, AudioUnitElement inElement);  // throws -10877 when missing
    AUIOElement* GetIOElement(AudioUnitScope inScope, AudioUnitElement inElement);  // throws
    AUInputElement* GetInput(AudioUnitElement inElement);    // throws -10877 when missing
    AUOutputElement* GetOutput(AudioUnitElement inElement);  // throws -10877 when missing

    // ---- the selector dispatch: every selector except open and the MIDI ones. Never throws.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUBase* This);

    static constexpr UInt32 kDefaultMaxFramesPerSlice = 1156;
    static constexpr UInt32 kMaxFramesPerSliceLimit = 65536;
    static constexpr UInt32 kMaxScheduledEvents = 256;
    static constexpr UInt32 kMaxRenderNotifications = 16;

protected:
    // Scheduled events, sorted by offset, for the render in progress (render thread only).
    const AudioUnitParameterEvent* ScheduledEvents() const { return m_scheduledEvents.data(); }
    UInt32 NumScheduledEvents() const { return m_numScheduledEvents; }
    void SortScheduledEvents();
    // Records one scheduled event in its element at the start of the slice at `sliceOffset`.
    void ApplyScheduledEvent(const AudioUnitParameterEvent& event, UInt32 sliceOffset);
    // The frame at which an event starts (a negative ramp start counts as 0).
    static UInt32 ScheduledEventOffset(const AudioUnitParameterEvent& event);
    void ClearScheduledEvents() { m_numScheduledEvents = 0; }
    void ReallocateBuffers();
    // The dispatch's property paths: size checks and the host's buffer conventions.
    OSStatus DispatchGetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                 void* outData, UInt32* ioDataSize);

private:
    OSStatus GetParameterList(AudioUnitScope scope, AudioUnitParameterID* outList, UInt32& outNumParams);
    OSStatus SetPresentPreset(const AUPreset& preset);
    void RestoreElementNames(plist_t names);

    AUScope m_globalScope, m_inputScope, m_outputScope;
    UInt32 m_numInputElements, m_numOutputElements;
    bool m_elementsCreated = false;
    std::atomic<bool> m_initialized{false};
    UInt32 m_maxFramesPerSlice = kDefaultMaxFramesPerSlice;
    // Written by the render thread, read and cleared by a host thread through the property.
    std::atomic<OSStatus> m_lastRenderError{noErr};

    AUPreset m_currentPreset{-1, nullptr};
    mutable std::mutex m_presetLock;

    struct PropertyListener {
        AudioUnitPropertyID propID;
        AudioUnitPropertyListenerProc proc;
        void* refCon;
    };
    std::vector<PropertyListener> m_propertyListeners;
    std::mutex m_propertyListenerLock;

    struct RenderNotify {
        std::atomic<AURenderCallback> proc{nullptr};
        std::atomic<void*> refCon{nullptr};
    };
    std::array<RenderNotify, kMaxRenderNotifications> m_renderNotify;
    std::atomic<UInt32> m_renderNotifyUsed{0};  // slots [0, used) have been filled at some time

    std::array<AudioUnitParameterEvent, kMaxScheduledEvents> m_scheduledEvents{};
    UInt32 m_numScheduledEvents = 0;
};
