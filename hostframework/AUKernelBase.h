// One channel's processor inside an effect: the framework creates one per channel and calls
// Process for every slice of every render. Render thread only.
#pragma once

#include "hostframework/AUTypes.h"

class AUEffectBase;

class AUKernelBase {
public:
    explicit AUKernelBase(AUEffectBase* inAudioUnit) : m_audioUnit(inAudioUnit) {}
    virtual ~AUKernelBase() {}

    // Any non-render thread while not rendering (the framework's Reset), or at creation.
    virtual void Reset() {}
    // Render thread. inNumChannels is 1 for non-interleaved buffers; for one interleaved buffer
    // it is the buffer's channel count and the pointers start at this channel's first sample.
    // ioSilence comes in true when the input has been silent for longer than latency + tail.
    // A kernel that cannot process the slice returns a result code (the render returns it);
    // it never throws, allocates, locks or makes a system call.
    virtual OSStatus Process(const Float32* inSourceP, Float32* inDestP, UInt32 inFramesToProcess, UInt32 inNumChannels,
                         bool& ioSilence) = 0;

    void SetChannelNum(UInt32 inChan) { m_channelNum = inChan; }
    UInt32 GetChannelNum() const { return m_channelNum; }
    AUEffectBase* GetAudioUnit() const { return m_audioUnit; }

protected:
    AUEffectBase* m_audioUnit;
    UInt32 m_channelNum = 0;
};
