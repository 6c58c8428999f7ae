// The effect unit: lifecycle, render wrapper, parameters and presets, properties, MIDI.
#include "effect/VoskMarrowfin.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "effect/MarrowfinKernel.h"
#include "effect/VoskMarrowfinEntry.h"
#include "hostframework/AUParameterServices.h"
#include "hostframework/CFLite.h"
#include "osc/Preferences.h"
#include "osc/VoskInstanceTracker.h"

namespace {

constexpr const char* kViewFactoryClass = "ComVoskTestMarfCocoaViewFactory";

}  // namespace

// ---------------------------------------------------------------------------------------------
// Script host with the GUI bool values

VoskMarrowfin::MarfLuaMIDIHelper::MarfLuaMIDIHelper(VoskMarrowfin* effect, TB::OSCHelper* oscHelper)
    : TB::LuaMIDIHelper(effect, oscHelper), m_unit(effect) {}

VoskMarrowfin::MarfLuaMIDIHelper::~MarfLuaMIDIHelper() = default;

void VoskMarrowfin::MarfLuaMIDIHelper::setGUIBoolValue(int index, int value) {
    m_unit->m_dataToGui.SetGUIBool(index, value != 0);
}

int VoskMarrowfin::MarfLuaMIDIHelper::getGUIBoolValue(int index) const { return m_unit->m_dataToGui.GetGUIBool(index); }

// ---------------------------------------------------------------------------------------------
// Lifecycle

VoskMarrowfin::VoskMarrowfin(AudioComponentInstance inComponentInstance)
    : AUMIDIEffectBase(inComponentInstance, false),
      m_luaHelper(this, &m_oscHelper),
      m_oscHelper(this, &m_luaHelper),
      m_block(),
      m_lastSampleTime(std::nan("")) {
    Constructor();

    CreateElements();
    Globals()->UseIndexedParameters(kNumParams);
    for (UInt32 id = 0; id < kNumParams; ++id) AUEffectBase::SetParameter(id, astParamInfos[id].defaultValue);

    for (int n = 0; n < kNumPresets; ++n) {
        m_presets[n].presetNumber = n;
        m_presets[n].presetName = TBConstantString(esPresets[n].name);
    }
    SetAFactoryPresetAsCurrent(m_presets[0]);

    VoskInstanceTracker::Add(this);
}

void VoskMarrowfin::Constructor() {
    std::memset(&m_block.preCompNoInterp, 0, sizeof(m_block.preCompNoInterp));
    m_luaHelper.LuaInit();
    FillPresetDefaults();
}

VoskMarrowfin::~VoskMarrowfin() {
    VoskInstanceTracker::Remove(this);
    FreeScratch();
}

OSStatus VoskMarrowfin::Version() { return OSStatus(kMarrowfinComponentVersion); }

OSStatus VoskMarrowfin::Initialize() {
    OnMaxSliceChange();
    std::memset(&m_block.preComp, 0, sizeof(m_block.preComp));
    std::memset(&m_block.preCompNoInterp, 0, sizeof(m_block.preCompNoInterp));
    m_block.lfo = LFOPhases{};
    // A host that re-initialises starts its time line afresh; its first block must render.
    m_lastSampleTime = std::nan("");

    SetOSCBasePort(GetPrefInt(kPrefOSCBasePort, kDefaultOSCBasePort));
    m_oscHelper.CreateTask();

    const OSStatus result = AUMIDIEffectBase::Initialize();
    // A unit that failed to initialise is not running: leave no OSC task behind it.
    if (result != noErr) m_oscHelper.DestroyTask();
    return result;
}

void VoskMarrowfin::Cleanup() {
    m_oscHelper.DestroyTask();
    AUMIDIEffectBase::Cleanup();
}

OSStatus VoskMarrowfin::Reset(AudioUnitScope inScope, AudioUnitElement inElement) {
    m_block.lfo = LFOPhases{};
    return AUMIDIEffectBase::Reset(inScope, inElement);
}

void VoskMarrowfin::OnMaxSliceChange() {
    const UInt32 frames = GetMaxFramesPerSlice();
    if (m_block.scratch && m_block.scratchFrames == frames) return;
    FreeScratch();
    // 16-byte aligned; aligned_alloc wants a size that is a multiple of the alignment.
    const size_t bytes = ((size_t(frames) * sizeof(float) + 15) / 16) * 16;
    m_block.scratch = static_cast<float*>(std::aligned_alloc(16, bytes ? bytes : 16));
    if (!m_block.scratch) throw std::bad_alloc();
    std::memset(m_block.scratch, 0, bytes);
    m_block.scratchFrames = frames;
}

void VoskMarrowfin::FreeScratch() {
    std::free(m_block.scratch);
    m_block.scratch = nullptr;
    m_block.scratchFrames = 0;
}

AUKernelBase* VoskMarrowfin::NewKernel() {
    return new CMarrowfinKernel(this, &m_block, SInt32(Kernels().size()));
}

// ---------------------------------------------------------------------------------------------
// Render

// The kernels of a unit run side by side (CMarrowfinKernel::ProcessChannels), which needs every
// channel's buffers at once; the framework's per-channel calls would hand them over one by one.
// Interleaved buffers keep the framework's path, whose kernels refuse them.
OSStatus VoskMarrowfin::ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& inBuffer,
                                           AudioBufferList& outBuffer, UInt32 offset, UInt32 nFrames,
                                           bool silentInput) {
    const auto& list = Kernels();
    const UInt32 count = UInt32(list.size());
    bool direct = !GetInput(0)->IsInterleaved() && count > 0 && count <= inBuffer.mNumberBuffers &&
                  count <= outBuffer.mNumberBuffers;
    for (UInt32 c = 0; direct && c < count; ++c) direct = list[c] != nullptr;
    if (!direct)
        return AUMIDIEffectBase::ProcessBufferLists(ioActionFlags, inBuffer, outBuffer, offset, nFrames, silentInput);

    constexpr UInt32 kGroup = 8;
    CMarrowfinKernel* kernels[kGroup];
    const Float32* in[kGroup];
    Float32* out[kGroup];
    for (UInt32 first = 0; first < count; first += kGroup) {
        const UInt32 n = count - first < kGroup ? count - first : kGroup;
        for (UInt32 j = 0; j < n; ++j) {
            kernels[j] = static_cast<CMarrowfinKernel*>(list[first + j]);
            in[j] = static_cast<const Float32*>(inBuffer.mBuffers[first + j].mData) + offset;
            out[j] = static_cast<Float32*>(outBuffer.mBuffers[first + j].mData) + offset;
        }
        const OSStatus result = CMarrowfinKernel::ProcessChannels(kernels, in, out, n, nFrames);
        if (result != noErr) return result;
    }
    // The kernels always produce output.
    ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
    return noErr;
}

OSStatus VoskMarrowfin::RenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                                  UInt32 inBusNumber, UInt32 inNumberFrames) {
    OSStatus result = noErr;
    if (PreRender(inNumberFrames)) {
        // A host that pulls the same time stamp again gets the block it already has; the block
        // control (and so the LFOs) still advances, as it does for every call.
        const bool repeated = inTimeStamp.mSampleTime == m_lastSampleTime;
        m_lastSampleTime = inTimeStamp.mSampleTime;
        if (!repeated) result = AUMIDIEffectBase::RenderBus(ioActionFlags, inTimeStamp, inBusNumber, inNumberFrames);
    }
    PostRender(inNumberFrames);
    return result;
}

bool VoskMarrowfin::PreRender(UInt32 inFrames) {
    // Each value is read once; the block control mends values it cannot use.
    Float32 params[kNumParams];
    Globals()->GetParameters(kNumParams, params);
    ComputeBlockControl(params, Float32(GetSampleRate()), inFrames, m_block);
    return true;
}

void VoskMarrowfin::PostRender(UInt32 inFrames) {
    const CMarrowfinKernel* kernels[2] = {nullptr, nullptr};
    const auto& list = Kernels();
    for (size_t c = 0; c < 2 && c < list.size(); ++c) kernels[c] = static_cast<const CMarrowfinKernel*>(list[c]);
    UpdateDataToGui(m_analysis, m_smoothing, Float32(GetSampleRate()), inFrames, kernels);
    m_dataToGui.Publish(m_analysis);
}

Float64 VoskMarrowfin::GetLatency() {
    return Float64(Float32(m_block.preCompNoInterp.window) / Float32(GetSampleRate()));
}

Float64 VoskMarrowfin::GetTailTime() { return 0.0; }

bool VoskMarrowfin::SupportsTail() { return true; }

// ---------------------------------------------------------------------------------------------
// Parameters and presets

OSStatus VoskMarrowfin::GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                         AudioUnitParameterInfo& outParameterInfo) {
    if (inScope != kAudioUnitScope_Global || inParameterID >= kNumParams) return kAudioUnitErr_InvalidParameter;
    const ParamInfo& info = astParamInfos[inParameterID];
    std::memset(&outParameterInfo, 0, sizeof(outParameterInfo));
    std::strncpy(outParameterInfo.name, info.name, sizeof(outParameterInfo.name) - 1);
    outParameterInfo.cfNameString = TBConstantString(info.name);  // constant: the host does not release it
    outParameterInfo.unit = info.unit;
    outParameterInfo.minValue = info.minValue;
    outParameterInfo.maxValue = info.maxValue;
    outParameterInfo.defaultValue = info.defaultValue;
    outParameterInfo.flags = kAudioUnitParameterFlag_Global | kAudioUnitParameterFlag_IsReadable |
                             kAudioUnitParameterFlag_IsWritable | kAudioUnitParameterFlag_HasCFNameString;
    if (ParamValuesHaveStrings(inParameterID)) outParameterInfo.flags |= kAudioUnitParameterFlag_ValuesHaveStrings;
    return noErr;
}

OSStatus VoskMarrowfin::GetParameterValueStrings(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                                 CFArrayRef* outStrings) {
    if (!outStrings) return noErr;
    if (inScope == kAudioUnitScope_Global && ParamIsLFOShape(inParameterID)) {
        const void* names[kNumLFOShapes];
        for (int i = 0; i < kNumLFOShapes; ++i) names[i] = TBConstantString(pLFOShapeNames[i]);
        *outStrings = CFArrayCreate(nullptr, names, kNumLFOShapes, &kCFTypeArrayCallBacks);
        return noErr;
    }
    return AUMIDIEffectBase::GetParameterValueStrings(inScope, inParameterID, outStrings);
}

OSStatus VoskMarrowfin::SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                     AudioUnitParameterValue inValue, UInt32 inBufferOffsetInFrames) {
    const OSStatus result = AUMIDIEffectBase::SetParameter(inID, inScope, inElement, inValue, inBufferOffsetInFrames);
    if (result == noErr && inScope == kAudioUnitScope_Global) {
        if (inID == kParam_OSCPortOffset) ApplyOSCPortRule();
        m_oscHelper.NotifySetParam(SInt32(inID), Globals()->GetParameter(inID));
    }
    return result;
}

void VoskMarrowfin::ApplyOSCPortRule() {
    const Float32 offset = Globals()->GetParameter(kParam_OSCPortOffset);
    // Truncation toward zero; a value no port can be made of (NaN, beyond the int range)
    // turns remote control off rather than converting it undefinedly.
    const SInt32 p = (offset > -2147483648.f && offset < 2147483648.f) ? SInt32(offset) : 0;
    if (p != 0)
        m_oscHelper.SetPort(SInt32(SInt64(GetOSCBasePort()) + p));
    else
        m_oscHelper.Disable();
}

OSStatus VoskMarrowfin::GetPresets(CFArrayRef* outData) const {
    if (!outData) return noErr;
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, kNumPresets, nullptr);
    for (const AUPreset& preset : m_presets) CFArrayAppendValue(array, &preset);
    *outData = array;
    return noErr;
}

OSStatus VoskMarrowfin::NewFactoryPresetSet(const AUPreset& inNewFactoryPreset) {
    for (const AUPreset& preset : m_presets) {
        if (preset.presetNumber != inNewFactoryPreset.presetNumber) continue;
        const PresetRecord& record = esPresets[preset.presetNumber];
        for (UInt32 id = 0; id < kNumParams; ++id) {
            const AudioUnitParameter param = {GetComponentInstance(), id, kAudioUnitScope_Global, 0};
            AUParameterSet(nullptr, nullptr, &param, record.values[id], 0);
        }
        SetAFactoryPresetAsCurrent(preset);
        ApplyOSCPortRule();
        return noErr;
    }
    return kAudioUnitErr_InvalidPropertyValue;
}

OSStatus VoskMarrowfin::RestoreState(plist_t inData) {
    const OSStatus result = AUMIDIEffectBase::RestoreState(inData);
    if (result == noErr) ApplyOSCPortRule();
    return result;
}

// ---------------------------------------------------------------------------------------------
// Properties served by the unit itself (scope and element are not examined)

OSStatus VoskMarrowfin::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                        AudioUnitElement inElement, UInt32& outDataSize, Boolean& outWritable) {
    switch (inID) {
        case kAudioUnitProperty_ParameterStringFromValue:
            outDataSize = sizeof(AudioUnitParameterStringFromValue);
            outWritable = false;
            return noErr;
        case kAudioUnitProperty_CocoaUI:
            outDataSize = sizeof(AudioUnitCocoaViewInfo);
            outWritable = false;
            return noErr;
        case kMarrowfinProperty_DataToGui:
            outDataSize = sizeof(DataToGui*);
            outWritable = false;
            return noErr;
        default:
            return AUMIDIEffectBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
    }
}

OSStatus VoskMarrowfin::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                    void* outData) {
    switch (inID) {
        case kAudioUnitProperty_ParameterStringFromValue: {
            auto* request = static_cast<AudioUnitParameterStringFromValue*>(outData);
            request->outString = nullptr;
            if (!ParamValuesHaveStrings(request->inParamID)) return kAudioUnitErr_InvalidParameter;
            const Float32 value = request->inValue ? *request->inValue : Globals()->GetParameter(request->inParamID);
            if (const char* text = ParamStringForValue(request->inParamID, value))
                request->outString = static_cast<CFStringRef>(CFRetain(TBConstantString(text)));
            return noErr;
        }
        case kAudioUnitProperty_CocoaUI: {
            CFBundleRef bundle = CFBundleGetBundleWithIdentifier(TBConstantString(kMarrowfinBundleIdentifier));
            if (!bundle) return fnfErr;
            CFURLRef url = CFBundleCopyBundleURL(bundle);
            if (!url) return fnfErr;
            auto* info = static_cast<AudioUnitCocoaViewInfo*>(outData);
            info->mCocoaAUViewBundleLocation = url;
            info->mCocoaAUViewClass[0] = TBConstantString(kViewFactoryClass);
            return noErr;
        }
        case kMarrowfinProperty_DataToGui:
            *static_cast<DataToGui**>(outData) = &m_dataToGui;
            return noErr;
        default:
            return AUMIDIEffectBase::GetProperty(inID, inScope, inElement, outData);
    }
}

// No legacy (non-Cocoa) view exists, so none is reported.
int VoskMarrowfin::GetNumCustomUIComponents() { return 0; }

void VoskMarrowfin::GetUIComponentDescs(AudioComponentDescription*) {}

// ---------------------------------------------------------------------------------------------
// MIDI

OSStatus VoskMarrowfin::HandleNoteOn(UInt8 inChannel, UInt8 inNoteNumber, UInt8 inVelocity, UInt32 inStartFrame) {
    m_luaHelper.HandleNoteOn(inChannel, inNoteNumber, inVelocity, inStartFrame);
    return noErr;
}

OSStatus VoskMarrowfin::HandleNoteOff(UInt8 inChannel, UInt8 inNoteNumber, UInt8 inVelocity, UInt32 inStartFrame) {
    m_luaHelper.HandleNoteOff(inChannel, inNoteNumber, inVelocity, inStartFrame);
    return noErr;
}

OSStatus VoskMarrowfin::HandleControlChange(UInt8 inChannel, UInt8 inController, UInt8 inValue,
                                            UInt32 inStartFrame) {
    m_luaHelper.HandleControlChange(inChannel, inController, inValue, inStartFrame);
    return noErr;
}

OSStatus VoskMarrowfin::HandlePitchWheel(UInt8 inChannel, UInt8 inPitch1, UInt8 inPitch2, UInt32 inStartFrame) {
    m_luaHelper.HandlePitchWheel(inChannel, inPitch1, inPitch2, inStartFrame);
    return noErr;
}

OSStatus VoskMarrowfin::HandleChannelPressure(UInt8 inChannel, UInt8 inValue, UInt32 inStartFrame) {
    m_luaHelper.HandleChannelPressure(inChannel, inValue, inStartFrame);
    return noErr;
}

OSStatus VoskMarrowfin::HandleProgramChange(UInt8 inChannel, UInt8 inValue) {
    m_luaHelper.HandleProgramChange(inChannel, inValue);
    return noErr;
}

OSStatus VoskMarrowfin::HandlePolyPressure(UInt8 inChannel, UInt8 inKey, UInt8 inValue, UInt32 inStartFrame) {
    m_luaHelper.HandlePolyPressure(inChannel, inKey, inValue, inStartFrame);
    return noErr;
}
