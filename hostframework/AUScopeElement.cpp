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

AUElement::AUElement(AUBase* inAudioUnit) : mAudioUnit(inAudioUnit) {}

AUElement::~AUElement() {
    if (mElementName) CFRelease(mElementName);
}

void AUElement::UseIndexedParameters(int numberOfParameters) {
    if (numberOfParameters < 0) numberOfParameters = 0;
    mIndexedParameters.reset(new AUParameterRecord[numberOfParameters]);
    mNumIndexedParameters = (UInt32)numberOfParameters;
    mUseIndexedParameters = true;
    mParameters.clear();
}

UInt32 AUElement::GetNumberOfParameters() const {
    return mUseIndexedParameters ? mNumIndexedParameters : (UInt32)mParameters.size();
}

void AUElement::GetParameterList(AudioUnitParameterID* outList) const {
    if (mUseIndexedParameters) {
        for (UInt32 i = 0; i < mNumIndexedParameters; ++i) outList[i] = i;
    } else {
        for (const auto& entry : mParameters) *outList++ = entry.first;
    }
}

AUParameterRecord* AUElement::FindParameter(AudioUnitParameterID paramID) {
    if (mUseIndexedParameters) return paramID < mNumIndexedParameters ? &mIndexedParameters[paramID] : nullptr;
    auto it = mParameters.find(paramID);
    return it == mParameters.end() ? nullptr : &it->second;
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
    if (mUseIndexedParameters && count <= mNumIndexedParameters) {
        for (UInt32 i = 0; i < count; ++i) out[i] = mIndexedParameters[i].startValue.load(std::memory_order_relaxed);
        return;
    }
    for (UInt32 i = 0; i < count; ++i) out[i] = GetParameter(i);
}

void AUElement::SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value, bool okWhenInitialized) {
    AUParameterRecord* record = FindParameter(paramID);
    if (record == nullptr) {
        if (mUseIndexedParameters || (mAudioUnit && mAudioUnit->IsInitialized() && !okWhenInitialized))
            throw static_cast<OSStatus>(kAudioUnitErr_InvalidParameter);
        record = &mParameters[paramID];
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
    if (mElementName) CFRelease(mElementName);
    mElementName = name;
}

// ---------------------------------------------------------------------------------------------
// AUIOElement

AUIOElement::AUIOElement(AUBase* inAudioUnit)
    : AUElement(inAudioUnit), mStreamFormat(CanonicalFormat(44100.0, 2, false)) {}

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
    if (result == noErr) mStreamFormat = format;
    return result;
}

void AUIOElement::AllocateBuffer(UInt32 maxFrames) { mIOBuffer.Allocate(mStreamFormat, maxFrames); }
void AUIOElement::DeallocateBuffer() { mIOBuffer.Deallocate(); }

Float32* AUIOElement::GetChannelData(UInt32 buffer) {
    AudioBufferList& abl = mIOBuffer.GetBufferList();
    return buffer < abl.mNumberBuffers ? static_cast<Float32*>(abl.mBuffers[buffer].mData) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// AUInputElement

AUInputElement::AUInputElement(AUBase* inAudioUnit) : AUIOElement(inAudioUnit) {}

void AUInputElement::SetConnection(const AudioUnitConnection& connection) {
    mConnection = connection;
    if (connection.sourceAudioUnit) mInputProc = nullptr;
}

void AUInputElement::SetInputCallback(AURenderCallback proc, void* refCon) {
    mInputProc = proc;
    mInputProcRefCon = refCon;
    if (proc) mConnection = AudioUnitConnection{nullptr, 0, 0};
}

OSStatus AUInputElement::PullInput(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                                   AudioUnitElement inElement, UInt32 nFrames) {
    if (!IsActive()) return kAudioUnitErr_NoConnection;
    OSStatus result;
    if (HasConnection()) {
        AudioBufferList& abl = PrepareNullBuffer(nFrames);
        result = AudioUnitRender(mConnection.sourceAudioUnit, &ioActionFlags, &inTimeStamp,
                                 mConnection.sourceOutputNumber, nFrames, &abl);
    } else {
        AudioBufferList& abl = PrepareBuffer(nFrames);
        result = mInputProc(mInputProcRefCon, &ioActionFlags, &inTimeStamp, inElement, nFrames, &abl);
    }
    if (result != noErr) return result;
    const AudioBufferList& abl = GetBufferList();
    if (abl.mNumberBuffers != AUBufferList::NumberOfBuffers(mStreamFormat)) return paramErr;
    const UInt32 bytes = nFrames * AUBufferList::BytesPerBufferFrame(mStreamFormat);
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
