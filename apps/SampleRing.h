// A single-producer, single-consumer ring of samples: `serve`'s render thread hands its output
// to the main thread, which writes the file, so the render thread makes no file system calls.
// Push never blocks and never allocates; what does not fit is counted as dropped.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace MarrowfinApp {

class SampleRing {
public:
    // Holds at least `capacity` samples (rounded up to a power of two). Main thread, before use.
    explicit SampleRing(size_t capacity) {
        size_t size = 1;
        while (size < capacity) size <<= 1;
        m_buffer.assign(size, 0.0f);
        m_mask = size - 1;
    }

    // Producer thread. Writes all `count` samples or none; false (and counted) when full.
    bool Push(const float* samples, size_t count) {
        const size_t write = m_write.load(std::memory_order_relaxed);
        const size_t read = m_read.load(std::memory_order_acquire);
        if (m_buffer.size() - (write - read) < count) {
            m_dropped.fetch_add(count, std::memory_order_relaxed);
            return false;
        }
        for (size_t i = 0; i < count; ++i) m_buffer[(write + i) & m_mask] = samples[i];
        m_write.store(write + count, std::memory_order_release);
        return true;
    }

    // Consumer thread. Copies up to `max` samples out; returns how many.
    size_t Pop(float* out, size_t max) {
        const size_t read = m_read.load(std::memory_order_relaxed);
        const size_t write = m_write.load(std::memory_order_acquire);
        const size_t count = std::min(max, write - read);
        for (size_t i = 0; i < count; ++i) out[i] = m_buffer[(read + i) & m_mask];
        m_read.store(read + count, std::memory_order_release);
        return count;
    }

    // Samples refused by Push because the consumer fell behind.
    uint64_t Dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    std::vector<float> m_buffer;
    size_t m_mask = 0;
    std::atomic<size_t> m_write{0};
    std::atomic<size_t> m_read{0};
    std::atomic<uint64_t> m_dropped{0};
};

}  // namespace MarrowfinApp
