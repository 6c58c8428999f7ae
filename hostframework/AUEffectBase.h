// An effect with one input and one output element, equal channel counts and one kernel per
// channel. Adds bypass (property 21) and in-place processing (property 29), input pull, slicing
// at scheduled parameter events and silence tracking.
//
// Threads: Initialize/Cleanup/Reset and the properties on non-render threads; Render and the
// kernels on the render thread (no allocation, no lock). Kernels exist only while initialised.
#pragma once

#include <vector>

#include "hostframework/AUBase.h"
#include "hostframework/AUKernelBase.h"

class AUEffectBase : public AUBase {
public:
    explicit AUEffectBase(AudioComponentInstance inInstance, bool inProcessesInPlace = true);
    ~AUEffectBase() override;

    // Checks the channel configuration (-10868) and brings the kernel list to one kernel per
    // output channel, creating missing ones through NewKernel in channel order.
    OSStatus Initialize() override;
    // Deletes all kernels.
    void Cleanup() override;
    // Resets every kernel, then the base.
    OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement) override;

    OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                             UInt32& outDataSize, Boolean& outWritable) override;
    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                         void* outData) override;
    OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                         const void* inData, UInt32 inDataSize) override;
    bool StreamFormatWritable(AudioUnitScope scope, AudioUnitElement element) override;

    // Render thread: pull input, bypass or kernels (in slices at scheduled events), silence.
    OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                    UInt32 inNumberFrames) override;

    // One new kernel for the next channel (Kernels().size() is its channel). Default: null (the
    // effect then passes its input through unchanged).
    virtual AUKernelBase* NewKernel();
    const std::vector<AUKernelBase*>& Kernels() const { return m_kernelList; }

    // The output element's sample rate and channel count.
    Float64 GetSampleRate();
    UInt32 GetNumberOfChannels();

    // Global element 0. GetParameter throws -10878 for an unknown id; SetParameter stores the
    // value and nothing else (no side effects of a subclass's SetParameter override).
    using AUBase::GetParameter;
    using AUBase::SetParameter;
    AudioUnitParameterValue GetParameter(AudioUnitParameterID paramID);
    void SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value);

    bool IsBypassEffect() const { return m_bypassEffect.load(std::memory_order_relaxed); }
    void SetBypassEffect(bool inFlag) { m_bypassEffect.store(inFlag, std::memory_order_relaxed); }
    bool ProcessesInPlace() const { return m_processInPlace.load(std::memory_order_relaxed); }
    void SetProcessesInPlace(bool inFlag) { m_processInPlace.store(inFlag, std::memory_order_relaxed); }

protected:
    // Runs every kernel over frames [offset, offset + nFrames) of the buffers, one Process call
    // per channel. A unit may render all its channels in one pass instead. Render thread.
    virtual OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& inBuffer,
                            AudioBufferList& outBuffer, UInt32 offset, UInt32 nFrames, bool silentInput);
    // Counts down the input's silence: true once the input has been silent for longer than
    // latency plus tail.
    bool IsInputSilent(AudioUnitRenderActionFlags inActionFlags, UInt32 inFramesToProcess);
    void MaintainKernels();

private:
    std::vector<AUKernelBase*> m_kernelList;
    std::atomic<bool> m_bypassEffect{false};
    std::atomic<bool> m_processInPlace;
    // Frames of silent input still to come before kernels may idle; kSilenceNotMeasured after
    // sounding input, until the first silent block measures latency plus tail.
    static constexpr UInt64 kSilenceNotMeasured = ~UInt64(0);
    UInt64 m_silentTimeout = 0;
};
