// One channel's processor inside an effect: the framework creates one per channel and calls
// Process for every slice of every render. Render thread only.
#pragma once

#include "hostframework/AUTypes.h"

class AUEffectBase;

class AUKernelBase {
public:
    explicit AUKernelBase(AUEffectBase* inAudioUnit) : mAudioUnit(inAudioUnit) {}
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

    void SetChannelNum(UInt32 inChan) { mChannelNum = inChan; }
    UInt32 GetChannelNum() const { return mChannelNum; }
    AUEffectBase* GetAudioUnit() const { return mAudioUnit; }

protected:
    AUEffectBase* mAudioUnit;
    UInt32 mChannelNum = 0;
};
