#include "hostframework/AUEffectBase.h"

#include <cmath>

AUEffectBase::AUEffectBase(AudioComponentInstance inInstance, bool inProcessesInPlace)
    : AUBase(inInstance, 1, 1), m_processInPlace(inProcessesInPlace) {}

AUEffectBase::~AUEffectBase() {
    for (AUKernelBase* kernel : m_kernelList) delete kernel;
    m_kernelList.clear();
}

OSStatus AUEffectBase::Initialize() {
    const UInt32 inChannels = GetInput(0)->NumberChannels();
    const UInt32 outChannels = GetOutput(0)->NumberChannels();
    const AUChannelInfo* info = nullptr;
    const UInt32 numInfos = SupportedNumChannels(&info);
    if (numInfos == 0 || info == nullptr) {
        if (inChannels != outChannels || outChannels == 0) return kAudioUnitErr_FormatNotSupported;
    } else {
        bool found = false;
        for (UInt32 i = 0; i < numInfos && !found; ++i) {
            const SInt16 in = info[i].inChannels, out = info[i].outChannels;
            if (in == -1 && out == -1) found = inChannels == outChannels;  // any, equal
            else if (in == -1 && out == -2) found = true;                    // any to any
            else if (in == -1) found = out == (SInt16)outChannels;
            else if (out == -1) found = in == (SInt16)inChannels;
            else found = in == (SInt16)inChannels && out == (SInt16)outChannels;
        }
        if (!found) return kAudioUnitErr_FormatNotSupported;
    }
    // Kernels walk input and output with one stride: both sides interleave alike.
    if (GetInput(0)->IsInterleaved() != GetOutput(0)->IsInterleaved()) return kAudioUnitErr_FormatNotSupported;
    if (GetInput(0)->IsInterleaved() && inChannels != outChannels) return kAudioUnitErr_FormatNotSupported;
    MaintainKernels();
    m_silentTimeout = 0;
    return noErr;
}

void AUEffectBase::MaintainKernels() {
    const UInt32 nChannels = GetNumberOfChannels();
    m_kernelList.reserve(nChannels);
    while (m_kernelList.size() < nChannels) m_kernelList.push_back(NewKernel());
    while (m_kernelList.size() > nChannels) {
        delete m_kernelList.back();
        m_kernelList.pop_back();
    }
    for (UInt32 i = 0; i < nChannels; ++i)
        if (m_kernelList[i]) m_kernelList[i]->SetChannelNum(i);
}

void AUEffectBase::Cleanup() {
    for (AUKernelBase* kernel : m_kernelList) delete kernel;
    m_kernelList.clear();
}

OSStatus AUEffectBase::Reset(AudioUnitScope inScope, AudioUnitElement inElement) {
    for (AUKernelBase* kernel : m_kernelList)
        if (kernel) kernel->Reset();
    m_silentTimeout = 0;
    return AUBase::Reset(inScope, inElement);
}

AUKernelBase* AUEffectBase::NewKernel() { return nullptr; }

Float64 AUEffectBase::GetSampleRate() { return GetOutput(0)->GetStreamFormat().mSampleRate; }
UInt32 AUEffectBase::GetNumberOfChannels() { return GetOutput(0)->NumberChannels(); }

AudioUnitParameterValue AUEffectBase::GetParameter(AudioUnitParameterID paramID) {
    return Globals()->GetParameter(paramID);
}

void AUEffectBase::SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value) {
    Globals()->SetParameter(paramID, value);
}

bool AUEffectBase::StreamFormatWritable(AudioUnitScope, AudioUnitElement) { return !IsInitialized(); }

// ---------------------------------------------------------------------------------------------
// Properties 21 (bypass) and 29 (in-place)

OSStatus AUEffectBase::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                       UInt32& outDataSize, Boolean& outWritable) {
    if (inID == kAudioUnitProperty_BypassEffect || inID == kAudioUnitProperty_InPlaceProcessing) {
        if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        outDataSize = sizeof(UInt32);
        outWritable = true;
        return noErr;
    }
    return AUBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
}

OSStatus AUEffectBase::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                   void* outData) {
    if (inID == kAudioUnitProperty_BypassEffect || inID == kAudioUnitProperty_InPlaceProcessing) {
        if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        *static_cast<UInt32*>(outData) =
            inID == kAudioUnitProperty_BypassEffect ? IsBypassEffect() : ProcessesInPlace();
        return noErr;
    }
    return AUBase::GetProperty(inID, inScope, inElement, outData);
}

OSStatus AUEffectBase::SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                   const void* inData, UInt32 inDataSize) {
    if (inID == kAudioUnitProperty_BypassEffect || inID == kAudioUnitProperty_InPlaceProcessing) {
        if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        if (inDataSize < sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
        const bool on = *static_cast<const UInt32*>(inData) != 0;
        if (inID == kAudioUnitProperty_BypassEffect) {
            if (!on && IsBypassEffect() && IsInitialized()) Reset(kAudioUnitScope_Global, 0);
            SetBypassEffect(on);
        } else {
            SetProcessesInPlace(on);
        }
        PropertyChanged(inID, inScope, inElement);
        return noErr;
    }
    return AUBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
}

// ---------------------------------------------------------------------------------------------
// Render

bool AUEffectBase::IsInputSilent(AudioUnitRenderActionFlags inActionFlags, UInt32 inFramesToProcess) {
    if (!(inActionFlags & kAudioUnitRenderAction_OutputIsSilence)) {
        // The countdown is measured when the silence begins, not at every sounding block.
        m_silentTimeout = kSilenceNotMeasured;
        return false;
    }
    // Silent input: the kernels may idle only once latency plus tail have passed.
    if (m_silentTimeout == kSilenceNotMeasured) {
        const double frames = (GetLatency() + GetTailTime()) * GetSampleRate();
        if (!std::isfinite(frames) || frames <= 0)
            m_silentTimeout = 0;
        else
            m_silentTimeout = frames < 1e18 ? UInt64(frames) : UInt64(1e18);  // never the mark
    }
    if (m_silentTimeout == 0) return true;
    m_silentTimeout = m_silentTimeout > inFramesToProcess ? m_silentTimeout - inFramesToProcess : 0;
    return false;
}

OSStatus AUEffectBase::ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& inBuffer,
                                      AudioBufferList& outBuffer, UInt32 offset, UInt32 nFrames, bool silentInput) {
    const bool interleaved = GetInput(0)->IsInterleaved();
    const UInt32 nKernels = (UInt32)m_kernelList.size();
    if (!interleaved) {
        for (UInt32 ch = 0; ch < nKernels && ch < inBuffer.mNumberBuffers && ch < outBuffer.mNumberBuffers; ++ch) {
            AUKernelBase* kernel = m_kernelList[ch];
            const Float32* src = static_cast<const Float32*>(inBuffer.mBuffers[ch].mData) + offset;
            Float32* dst = static_cast<Float32*>(outBuffer.mBuffers[ch].mData) + offset;
            if (kernel == nullptr) {
                if (src != dst) for (UInt32 i = 0; i < nFrames; ++i) dst[i] = src[i];
                ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
                continue;
            }
            bool silence = silentInput;
            const OSStatus result = kernel->Process(src, dst, nFrames, 1, silence);
            if (result != noErr) return result;
            if (!silence) ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
        }
    } else if (inBuffer.mNumberBuffers >= 1 && outBuffer.mNumberBuffers >= 1) {
        const UInt32 nChannels = inBuffer.mBuffers[0].mNumberChannels;
        const Float32* src = static_cast<const Float32*>(inBuffer.mBuffers[0].mData) + size_t(offset) * nChannels;
        Float32* dst = static_cast<Float32*>(outBuffer.mBuffers[0].mData) + size_t(offset) * nChannels;
        for (UInt32 ch = 0; ch < nKernels && ch < nChannels; ++ch) {
            AUKernelBase* kernel = m_kernelList[ch];
            if (kernel == nullptr) {
                if (src != dst) for (UInt32 i = 0; i < nFrames; ++i) dst[i * nChannels + ch] = src[i * nChannels + ch];
                ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
                continue;
            }
            bool silence = silentInput;
            const OSStatus result = kernel->Process(src + ch, dst + ch, nFrames, nChannels, silence);
            if (result != noErr) return result;
            if (!silence) ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
        }
    }
    return noErr;
}

OSStatus AUEffectBase::Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                              UInt32 nFrames) {
    AUInputElement* input = GetInput(0);
    AUOutputElement* output = GetOutput(0);
    if (!input->IsActive()) return kAudioUnitErr_NoConnection;

    AudioUnitRenderActionFlags pullFlags = 0;
    OSStatus result = input->PullInput(pullFlags, inTimeStamp, 0, nFrames);
    if (result != noErr) return result;
    const AudioBufferList& inBuffer = input->GetBufferList();

    // In place: with no host buffers to write into, the output is the input's buffers.
    if (ProcessesInPlace() && output->GetBuffers().UsesOwnMemory()) output->SetBufferList(inBuffer);
    AudioBufferList& outBuffer = output->GetBufferList();
    bool samePlace = inBuffer.mNumberBuffers == outBuffer.mNumberBuffers;
    for (UInt32 i = 0; samePlace && i < inBuffer.mNumberBuffers; ++i)
        samePlace = inBuffer.mBuffers[i].mData == outBuffer.mBuffers[i].mData;

    if (IsBypassEffect()) {
        if (!samePlace) AUBufferList::CopyBufferContents(inBuffer, outBuffer);
        ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
        ioActionFlags |= pullFlags & kAudioUnitRenderAction_OutputIsSilence;
        ClearScheduledEvents();
        return noErr;
    }

    const bool silentInput = IsInputSilent(pullFlags, nFrames);
    ioActionFlags |= kAudioUnitRenderAction_OutputIsSilence;

    const UInt32 numEvents = NumScheduledEvents();
    if (numEvents == 0) {
        result = ProcessBufferLists(ioActionFlags, inBuffer, outBuffer, 0, nFrames, silentInput);
    } else {
        // Slices start at each distinct event offset; every event is recorded in its element at
        // the start of its slice, and events beyond the buffer after the last slice.
        SortScheduledEvents();
        const AudioUnitParameterEvent* events = ScheduledEvents();
        UInt32 next = 0, start = 0;
        while (start < nFrames) {
            while (next < numEvents && ScheduledEventOffset(events[next]) <= start) ApplyScheduledEvent(events[next++], start);
            UInt32 end = nFrames;
            if (next < numEvents && ScheduledEventOffset(events[next]) < nFrames) end = ScheduledEventOffset(events[next]);
            if (result == noErr) result = ProcessBufferLists(ioActionFlags, inBuffer, outBuffer, start, end - start, silentInput);
            start = end;
        }
        while (next < numEvents) ApplyScheduledEvent(events[next++], nFrames);
        ClearScheduledEvents();
    }

    if (result != noErr) return result;
    if ((ioActionFlags & kAudioUnitRenderAction_OutputIsSilence) && !ProcessesInPlace())
        AUBufferList::ZeroBuffer(outBuffer);
    return noErr;
}
