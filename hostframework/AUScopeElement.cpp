#include "hostframework/AUScopeElement.h"

#include <cmath>
#include <cstring>

#include "hostframework/AUBase.h"
#include "hostframework/CFLite.h"

// ---------------------------------------------------------------------------------------------
// AUParameterRecord

void AUParameterRecord::SetImmediate(AudioUnitParameterValue value, SInt32 offset) {
    eventType.store(kParameterEvent_Immediate, std::memory_order_relaxed);
    bufferOffset.store(offset, std::memory_order_relaxed);
    durationInFrames.store(0, std::memory_order_relaxed);
    endValue.store(value, std::memory_order_relaxed);
    startValue.store(value, std::memory_order_relaxed);
}

void AUParameterRecord::SetRamp(SInt32 offset, UInt32 duration, AudioUnitParameterValue start,
                                AudioUnitParameterValue end) {
    eventType.store(kParameterEvent_Ramped, std::memory_order_relaxed);
    bufferOffset.store(offset, std::memory_order_relaxed);
    durationInFrames.store(duration, std::memory_order_relaxed);
    endValue.store(end, std::memory_order_relaxed);
    startValue.store(start, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------
// AUElement

AUElement::AUElement(AUBase* inAudioUnit) : m_audioUnit(inAudioUnit) {}

AUElement::~AUElement() {
    if (m_elementName) CFRelease(m_elementName);
}

void AUElement::UseIndexedParameters(int numberOfParameters) {
    if (numberOfParameters < 0) numberOfParameters = 0;
    m_indexedParameters.reset(new AUParameterRecord[numberOfParameters]);
    m_numIndexedParameters = (UInt32)numberOfParameters;
    m_useIndexedParameters = true;
    m_parameters.clear();
}

UInt32 AUElement::GetNumberOfParameters() const {
    return m_useIndexedParameters ? m_numIndexedParameters : (UInt32)m_parameters.size();
}

void AUElement::GetParameterList(AudioUnitParameterID* outList) const {
    if (m_useIndexedParameters) {
        for (UInt32 i = 0; i < m_numIndexedParameters; ++i) outList[i] = i;
    } else {
        for (const auto& entry : m_parameters) *outList++ = entry.first;
    }
}

AUParameterRecord* AUElement::FindParameter(AudioUnitParameterID paramID) {
    if (m_useIndexedParameters) return paramID < m_numIndexedParameters ? &m_indexedParameters[paramID] : nullptr;
    auto it = m_parameters.find(paramID);
    return it == m_parameters.end() ? nullptr : &it->second;
}

const AUParameterRecord* AUElement::FindParameter(AudioUnitParameterID paramID) const {
    return const_cast<AUElement*>(this)->FindParameter(paramID);
}

bool AUElement::HasParameterID(AudioUnitParameterID paramID) const { return FindParameter(paramID) != nullptr; }

AudioUnitParameterValue AUElement::GetParameter(AudioUnitParameterID paramID) const {
    const AUParameterRecord* record = FindParameter(paramID);
    if (record == nullptr) throw static_cast<OSStatus>(kAudioUnitErr_InvalidParameter);
    return record->startValue.load(std::memory_order_relaxed);
}

void AUElement::GetParameters(UInt32 count, AudioUnitParameterValue* out) const {
    if (m_useIndexedParameters && count <= m_numIndexedParameters) {
        // Every render reads all of them: unrolled, a value costs a load and a store.
#pragma GCC unroll 8
        for (UInt32 i = 0; i < count; ++i) out[i] = m_indexedParameters[i].startValue.load(std::memory_order_relaxed);
        return;
    }
    for (UInt32 i = 0; i < count; ++i) out[i] = GetParameter(i);
}

void AUElement::SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value, bool okWhenInitialized) {
    AUParameterRecord* record = FindParameter(paramID);
    if (record == nullptr) {
        if (m_useIndexedParameters || (m_audioUnit && m_audioUnit->IsInitialized() && !okWhenInitialized))
            throw static_cast<OSStatus>(kAudioUnitErr_InvalidParameter);
        record = &m_parameters[paramID];
    }
    record->SetImmediate(value);
}

void AUElement::SetScheduledEvent(const AudioUnitParameterEvent& event, UInt32 sliceOffsetInBuffer) {
    AUParameterRecord* record = FindParameter(event.parameter);
    if (record == nullptr) return;
    if (event.eventType == kParameterEvent_Ramped) {
        const auto& ramp = event.eventValues.ramp;
        record->SetRamp(ramp.startBufferOffset - (SInt32)sliceOffsetInBuffer, ramp.durationInFrames,
                        ramp.startValue, ramp.endValue);
    } else {
        record->SetImmediate(event.eventValues.immediate.value,
                             (SInt32)event.eventValues.immediate.bufferOffset - (SInt32)sliceOffsetInBuffer);
    }
}

void AUElement::SetName(CFStringRef name) {
    if (name) CFRetain(name);
    if (m_elementName) CFRelease(m_elementName);
    m_elementName = name;
}

// ---------------------------------------------------------------------------------------------
// AUIOElement

AUIOElement::AUIOElement(AUBase* inAudioUnit)
    : AUElement(inAudioUnit), m_streamFormat(CanonicalFormat(44100.0, 2, false)) {}

AudioStreamBasicDescription AUIOElement::CanonicalFormat(Float64 sampleRate, UInt32 channels, bool interleaved) {
    return CanonicalStreamFormat(sampleRate, channels, interleaved);
}

OSStatus AUIOElement::ValidateFormat(const AudioStreamBasicDescription& f) {
    if (!std::isfinite(f.mSampleRate) || !(f.mSampleRate > 0.0)) return kAudioUnitErr_FormatNotSupported;
    if (f.mChannelsPerFrame == 0 || f.mChannelsPerFrame > kMaxChannels) return kAudioUnitErr_FormatNotSupported;
    if (f.mFormatID != kAudioFormatLinearPCM) return kAudioUnitErr_FormatNotSupported;
    if (!(f.mFormatFlags & kAudioFormatFlagIsFloat) || (f.mFormatFlags & kAudioFormatFlagIsBigEndian) ||
        (f.mFormatFlags & kAudioFormatFlagIsSignedInteger))
        return kAudioUnitErr_FormatNotSupported;
    if (f.mBitsPerChannel != 32 || f.mFramesPerPacket != 1) return kAudioUnitErr_FormatNotSupported;
    const bool nonInterleaved = (f.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
    const UInt32 bytesPerFrame = nonInterleaved ? 4 : 4 * f.mChannelsPerFrame;
    if (f.mBytesPerFrame != bytesPerFrame || f.mBytesPerPacket != bytesPerFrame)
        return kAudioUnitErr_FormatNotSupported;
    return noErr;
}

OSStatus AUIOElement::SetStreamFormat(const AudioStreamBasicDescription& format) {
    OSStatus result = ValidateFormat(format);
    if (result == noErr) m_streamFormat = format;
    return result;
}

void AUIOElement::AllocateBuffer(UInt32 maxFrames) { m_ioBuffer.Allocate(m_streamFormat, maxFrames); }
void AUIOElement::DeallocateBuffer() { m_ioBuffer.Deallocate(); }

Float32* AUIOElement::GetChannelData(UInt32 buffer) {
    AudioBufferList& abl = m_ioBuffer.GetBufferList();
    return buffer < abl.mNumberBuffers ? static_cast<Float32*>(abl.mBuffers[buffer].mData) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// AUInputElement

AUInputElement::AUInputElement(AUBase* inAudioUnit) : AUIOElement(inAudioUnit) {}

void AUInputElement::SetConnection(const AudioUnitConnection& connection) {
    m_connection = connection;
    if (connection.sourceAudioUnit) m_inputProc = nullptr;
}

void AUInputElement::SetInputCallback(AURenderCallback proc, void* refCon) {
    m_inputProc = proc;
    m_inputProcRefCon = refCon;
    if (proc) m_connection = AudioUnitConnection{nullptr, 0, 0};
}

OSStatus AUInputElement::PullInput(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                                   AudioUnitElement inElement, UInt32 nFrames) {
    if (!IsActive()) return kAudioUnitErr_NoConnection;
    OSStatus result;
    if (HasConnection()) {
        AudioBufferList& abl = PrepareNullBuffer(nFrames);
        result = AudioUnitRender(m_connection.sourceAudioUnit, &ioActionFlags, &inTimeStamp,
                                 m_connection.sourceOutputNumber, nFrames, &abl);
    } else {
        AudioBufferList& abl = PrepareBuffer(nFrames);
        result = m_inputProc(m_inputProcRefCon, &ioActionFlags, &inTimeStamp, inElement, nFrames, &abl);
    }
    if (result != noErr) return result;
    const AudioBufferList& abl = GetBufferList();
    if (abl.mNumberBuffers != AUBufferList::NumberOfBuffers(m_streamFormat)) return paramErr;
    const UInt32 bytes = nFrames * AUBufferList::BytesPerBufferFrame(m_streamFormat);
    for (UInt32 i = 0; i < abl.mNumberBuffers; ++i)
        if (abl.mBuffers[i].mData == nullptr || abl.mBuffers[i].mDataByteSize < bytes) return paramErr;
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// AUOutputElement, AUScope

AUOutputElement::AUOutputElement(AUBase* inAudioUnit) : AUIOElement(inAudioUnit) {}

AUElement* AUScope::SafeGetElement(AudioUnitElement element) const {
    AUElement* e = GetElement(element);
    if (e == nullptr) throw static_cast<OSStatus>(kAudioUnitErr_InvalidElement);
    return e;
}

AUIOElement* AUScope::GetIOElement(AudioUnitElement element) const {
    AUIOElement* e = dynamic_cast<AUIOElement*>(SafeGetElement(element));
    if (e == nullptr) throw static_cast<OSStatus>(kAudioUnitErr_InvalidElement);
    return e;
}
