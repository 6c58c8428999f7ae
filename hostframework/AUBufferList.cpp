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
    if (m_memory && nBuffers <= m_allocatedBuffers && stride <= m_bufferStride && maxFrames <= m_allocatedFrames) return;
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
    m_memory = static_cast<Float32*>(memory);
    m_ptrs = static_cast<AudioBufferList*>(ptrs);
    m_ptrs->mNumberBuffers = 0;
    m_bufferStride = stride;
    m_allocatedFrames = maxFrames;
    m_allocatedBuffers = nBuffers;
}

void AUBufferList::Deallocate() {
    if (m_ptrs != &m_empty) std::free(m_ptrs);
    std::free(m_memory);
    m_ptrs = &m_empty;
    m_memory = nullptr;
    m_bufferStride = m_allocatedFrames = m_allocatedBuffers = 0;
}

void AUBufferList::SetShape(const AudioStreamBasicDescription& format, UInt32 nFrames) {
    UInt32 nBuffers = NumberOfBuffers(format);
    if (nBuffers > m_allocatedBuffers) nBuffers = m_allocatedBuffers;
    m_ptrs->mNumberBuffers = nBuffers;
    const UInt32 channelsPerBuffer = (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) ? 1
                                                                                                : format.mChannelsPerFrame;
    for (UInt32 i = 0; i < nBuffers; ++i) {
        m_ptrs->mBuffers[i].mNumberChannels = channelsPerBuffer;
        m_ptrs->mBuffers[i].mDataByteSize = nFrames * BytesPerBufferFrame(format);
    }
}

AudioBufferList& AUBufferList::PrepareBuffer(const AudioStreamBasicDescription& format, UInt32 nFrames) {
    if (nFrames > m_allocatedFrames) nFrames = m_allocatedFrames;
    SetShape(format, nFrames);
    for (UInt32 i = 0; i < m_ptrs->mNumberBuffers; ++i) m_ptrs->mBuffers[i].mData = m_memory + size_t(i) * m_bufferStride;
    return *m_ptrs;
}

AudioBufferList& AUBufferList::PrepareNullBuffer(const AudioStreamBasicDescription& format, UInt32 nFrames) {
    SetShape(format, nFrames);
    for (UInt32 i = 0; i < m_ptrs->mNumberBuffers; ++i) m_ptrs->mBuffers[i].mData = nullptr;
    return *m_ptrs;
}

bool AUBufferList::SetBufferList(const AudioBufferList& abl) {
    if (abl.mNumberBuffers > m_allocatedBuffers) return false;
    if (&abl == m_ptrs) return true;
    m_ptrs->mNumberBuffers = abl.mNumberBuffers;
    for (UInt32 i = 0; i < abl.mNumberBuffers; ++i) m_ptrs->mBuffers[i] = abl.mBuffers[i];
    return true;
}

bool AUBufferList::UsesOwnMemory() const {
    if (m_memory == nullptr) return false;
    for (UInt32 i = 0; i < m_ptrs->mNumberBuffers; ++i)
        if (m_ptrs->mBuffers[i].mData != m_memory + size_t(i) * m_bufferStride) return false;
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
