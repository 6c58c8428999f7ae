// VoskMarrowfin: the effect unit a host instantiates. It owns the per-channel kernels (through
// the framework), the block records and LFO phases, the record shared with the editor, the MIDI
// script host and the OSC service, and answers the host's lifecycle, render, MIDI, property,
// preset and state calls.
#pragma once

#include <plist/plist.h>

#include "effect/DataToGui.h"
#include "effect/MarrowfinDSP.h"
#include "effect/MarrowfinParameters.h"
#include "hostframework/AUMIDIEffectBase.h"
#include "midiscript/LuaMIDIHelper.h"
#include "osc/OSCHelper.h"

class CMarrowfinKernel;

class VoskMarrowfin : public AUMIDIEffectBase {
public:
    // The MIDI script host, with the eight GUI bool values kept in this unit's DataToGui.
    class MarfLuaMIDIHelper : public TB::LuaMIDIHelper {
    public:
        MarfLuaMIDIHelper(VoskMarrowfin* effect, TB::OSCHelper* oscHelper);
        ~MarfLuaMIDIHelper() override;
        // Callers keep index below kNumGUIBools.
        void setGUIBoolValue(int index, int value) override;
        int getGUIBoolValue(int index) const override;

    private:
        VoskMarrowfin* m_unit;
    };

    explicit VoskMarrowfin(AudioComponentInstance inComponentInstance);
    ~VoskMarrowfin() override;

    OSStatus Version() override;
    OSStatus Initialize() override;
    void Cleanup() override;
    OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement) override;
    OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                             UInt32& outDataSize, Boolean& outWritable) override;
    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                         void* outData) override;
    // Non-real-time threads only (see AUBase::SetParameter): "OSC Port Offset" moves the OSC port.
    OSStatus SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                          AudioUnitParameterValue inValue, UInt32 inBufferOffsetInFrames) override;
    // Render thread.
    OSStatus RenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                       UInt32 inBusNumber, UInt32 inNumberFrames) override;
    OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                              AudioUnitParameterInfo& outParameterInfo) override;
    OSStatus RestoreState(plist_t inData) override;
    OSStatus GetParameterValueStrings(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                      CFArrayRef* outStrings) override;
    OSStatus GetPresets(CFArrayRef* outData) const override;
    OSStatus NewFactoryPresetSet(const AUPreset& inNewFactoryPreset) override;
    int GetNumCustomUIComponents() override;
    void GetUIComponentDescs(AudioComponentDescription* inDescArray) override;
    Float64 GetLatency() override;
    Float64 GetTailTime() override;
    bool SupportsTail() override;
    AUKernelBase* NewKernel() override;
    // Render thread: all channels of a non-interleaved slice in one pass, side by side.
    OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& inBuffer,
                                AudioBufferList& outBuffer, UInt32 offset, UInt32 nFrames, bool silentInput) override;

    // MIDI delivery thread: everything goes to the script host.
    OSStatus HandleNoteOn(UInt8 inChannel, UInt8 inNoteNumber, UInt8 inVelocity, UInt32 inStartFrame) override;
    OSStatus HandleNoteOff(UInt8 inChannel, UInt8 inNoteNumber, UInt8 inVelocity, UInt32 inStartFrame) override;
    OSStatus HandleControlChange(UInt8 inChannel, UInt8 inController, UInt8 inValue, UInt32 inStartFrame) override;
    OSStatus HandlePitchWheel(UInt8 inChannel, UInt8 inPitch1, UInt8 inPitch2, UInt32 inStartFrame) override;
    OSStatus HandleChannelPressure(UInt8 inChannel, UInt8 inValue, UInt32 inStartFrame) override;
    OSStatus HandleProgramChange(UInt8 inChannel, UInt8 inValue) override;
    OSStatus HandlePolyPressure(UInt8 inChannel, UInt8 inKey, UInt8 inValue, UInt32 inStartFrame) override;

    // Construction body: records zeroed, script state created, preset table completed.
    void Constructor();
    // Sizes the band-filter scratch buffer to the maximum frames per slice.
    void OnMaxSliceChange();
    // Render thread, before and after the framework render of one block.
    bool PreRender(UInt32 inFrames);
    void PostRender(UInt32 inFrames);

    const DataToGui& GetDataToGui() const { return m_dataToGui; }
    const MarrowfinBlock& GetBlock() const { return m_block; }
    MarfLuaMIDIHelper& GetLuaHelper() { return m_luaHelper; }
    TB::OSCHelper& GetOSCHelper() { return m_oscHelper; }

private:
    void ApplyOSCPortRule();
    void FreeScratch();

    MarfLuaMIDIHelper m_luaHelper;
    TB::OSCHelper m_oscHelper;
    MarrowfinBlock m_block;  // PreComp, PreCompNoInterp, LFO phases, scratch buffer
    DataToGuiAnalysis m_analysis;  // the render thread's smoothed values
    MarrowfinSmoothing m_smoothing{};  // ... and their smoothing coefficient
    DataToGui m_dataToGui;
    Float64 m_lastSampleTime;
    AUPreset m_presets[kNumPresets];
};
