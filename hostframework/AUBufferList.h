// The buffers of one input or output element: memory for the element's channels at the maximum
// frames per slice, and an AudioBufferList that points either at that memory, at buffers a host
// or an input callback supplied, or nowhere (null data, for a source to fill in).
//
// Allocate/Deallocate run on a non-render thread (Initialize). Everything else runs on the render
// thread and never allocates.
#pragma once

#include "hostframework/AUTypes.h"

class AUBufferList {
public:
    AUBufferList() = default;
    ~AUBufferList();
    AUBufferList(const AUBufferList&) = delete;
    AUBufferList& operator=(const AUBufferList&) = delete;

    // Memory for `format` (canonical or interleaved 32-bit float) at `maxFrames` frames.
    // Keeps existing memory when it is already large enough. Throws -108 when out of memory.
    void Allocate(const AudioStreamBasicDescription& format, UInt32 maxFrames);
    void Deallocate();

    // Points the list at the own memory for `nFrames` frames and returns it. The frame count
    // must not exceed the allocated maximum (the render entry checks this first).
    AudioBufferList& PrepareBuffer(const AudioStreamBasicDescription& format, UInt32 nFrames);
    // The same shape with null data pointers.
    AudioBufferList& PrepareNullBuffer(const AudioStreamBasicDescription& format, UInt32 nFrames);
    // Points the list at the buffers of `abl` (same buffer count, at most the allocated count).
    // Returns false and changes nothing when the shapes differ.
    bool SetBufferList(const AudioBufferList& abl);

    AudioBufferList& GetBufferList() { return *m_ptrs; }
    const AudioBufferList& GetBufferList() const { return *m_ptrs; }
    // True when every buffer of the list points into the own memory.
    bool UsesOwnMemory() const;

    // Copies as many bytes of each buffer as both sides hold.
    static void CopyBufferContents(const AudioBufferList& source, AudioBufferList& dest);
    static void ZeroBuffer(AudioBufferList& abl);
    // Bytes per frame of one buffer of `format` (4 for non-interleaved, 4 x channels interleaved).
    static UInt32 BytesPerBufferFrame(const AudioStreamBasicDescription& format);
    static UInt32 NumberOfBuffers(const AudioStreamBasicDescription& format);

private:
    void SetShape(const AudioStreamBasicDescription& format, UInt32 nFrames);

    Float32* m_memory = nullptr;      // every buffer's samples, 16-byte aligned per buffer
    UInt32 m_bufferStride = 0;        // floats from one buffer's start to the next
    UInt32 m_allocatedFrames = 0;
    UInt32 m_allocatedBuffers = 0;
    AudioBufferList* m_ptrs = &m_empty; // room for m_allocatedBuffers entries (at least one)
    AudioBufferList m_empty{0, {{0, 0, nullptr}}};
};
