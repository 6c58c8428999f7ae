#include "hostframework/AUBufferList.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr UInt32 kAlignFloats = 4;  // 16 bytes
}

AUBufferList::~AUBufferList() { Deallocate(); }

UInt32 AUBufferList::NumberOfBuffers(const AudioStreamBasicDescription& format) {
    return (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) ? format.mChannelsPerFrame : 1;
}

UInt32 AUBufferList::BytesPerBufferFrame(const AudioStreamBasicDescription& format) {
    return (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) ? sizeof(Float32)
                                                                      : sizeof(Float32) * format.mChannelsPerFrame;
}

void AUBufferList::Allocate(const AudioStreamBasicDescription& format, UInt32 maxFrames) {
    const UInt32 nBuffers = NumberOfBuffers(format);
    const UInt32 floatsPerFrame = BytesPerBufferFrame(format) / sizeof(Float32);
    UInt32 stride = maxFrames * floatsPerFrame;
    stride = (stride + kAlignFloats - 1) / kAlignFloats * kAlignFloats;
    if (mMemory && nBuffers <= mAllocatedBuffers && stride <= mBufferStride && maxFrames <= mAllocatedFrames) return;
    Deallocate();
    const size_t bytes = size_t(stride ? stride : kAlignFloats) * (nBuffers ? nBuffers : 1) * sizeof(Float32);
    void* memory = std::aligned_alloc(16, (bytes + 15) / 16 * 16);
    void* ptrs = std::malloc(AudioBufferListSize(nBuffers));
    if (memory == nullptr || ptrs == nullptr) {
        std::free(memory);
        std::free(ptrs);
        throw static_cast<OSStatus>(memFullErr);
    }
    std::memset(memory, 0, bytes);
    mMemory = static_cast<Float32*>(memory);
    mPtrs = static_cast<AudioBufferList*>(ptrs);
    mPtrs->mNumberBuffers = 0;
    mBufferStride = stride;
    mAllocatedFrames = maxFrames;
    mAllocatedBuffers = nBuffers;
}

void AUBufferList::Deallocate() {
    if (mPtrs != &mEmpty) std::free(mPtrs);
    std::free(mMemory);
    mPtrs = &mEmpty;
    mMemory = nullptr;
    mBufferStride = mAllocatedFrames = mAllocatedBuffers = 0;
}

void AUBufferList::SetShape(const AudioStreamBasicDescription& format, UInt32 nFrames) {
    UInt32 nBuffers = NumberOfBuffers(format);
    if (nBuffers > mAllocatedBuffers) nBuffers = mAllocatedBuffers;
    mPtrs->mNumberBuffers = nBuffers;
    const UInt32 channelsPerBuffer = (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) ? 1
                                                                                                : format.mChannelsPerFrame;
    for (UInt32 i = 0; i < nBuffers; ++i) {
        mPtrs->mBuffers[i].mNumberChannels = channelsPerBuffer;
        mPtrs->mBuffers[i].mDataByteSize = nFrames * BytesPerBufferFrame(format);
    }
}

AudioBufferList& AUBufferList::PrepareBuffer(const AudioStreamBasicDescription& format, UInt32 nFrames) {
    if (nFrames > mAllocatedFrames) nFrames = mAllocatedFrames;
    SetShape(format, nFrames);
    for (UInt32 i = 0; i < mPtrs->mNumberBuffers; ++i) mPtrs->mBuffers[i].mData = mMemory + size_t(i) * mBufferStride;
    return *mPtrs;
}

AudioBufferList& AUBufferList::PrepareNullBuffer(const AudioStreamBasicDescription& format, UInt32 nFrames) {
    SetShape(format, nFrames);
    for (UInt32 i = 0; i < mPtrs->mNumberBuffers; ++i) mPtrs->mBuffers[i].mData = nullptr;
    return *mPtrs;
}

bool AUBufferList::SetBufferList(const AudioBufferList& abl) {
    if (abl.mNumberBuffers > mAllocatedBuffers) return false;
    if (&abl == mPtrs) return true;
    mPtrs->mNumberBuffers = abl.mNumberBuffers;
    for (UInt32 i = 0; i < abl.mNumberBuffers; ++i) mPtrs->mBuffers[i] = abl.mBuffers[i];
    return true;
}

bool AUBufferList::UsesOwnMemory() const {
    if (mMemory == nullptr) return false;
    for (UInt32 i = 0; i < mPtrs->mNumberBuffers; ++i)
        if (mPtrs->mBuffers[i].mData != mMemory + size_t(i) * mBufferStride) return false;
    return true;
}

void AUBufferList::CopyBufferContents(const AudioBufferList& source, AudioBufferList& dest) {
    const UInt32 n = source.mNumberBuffers < dest.mNumberBuffers ? source.mNumberBuffers : dest.mNumberBuffers;
    for (UInt32 i = 0; i < n; ++i) {
        const AudioBuffer& s = source.mBuffers[i];
        AudioBuffer& d = dest.mBuffers[i];
        if (s.mData == nullptr || d.mData == nullptr || s.mData == d.mData) continue;
        const UInt32 bytes = s.mDataByteSize < d.mDataByteSize ? s.mDataByteSize : d.mDataByteSize;
        std::memmove(d.mData, s.mData, bytes);
    }
}

void AUBufferList::ZeroBuffer(AudioBufferList& abl) {
    for (UInt32 i = 0; i < abl.mNumberBuffers; ++i)
        if (abl.mBuffers[i].mData) std::memset(abl.mBuffers[i].mData, 0, abl.mBuffers[i].mDataByteSize);
}
