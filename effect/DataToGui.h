// The record a unit shares with its editor (and, for the GUI bool values, with other units'
// scripts) through property 64001.
//
// The analysis values (meters, detected frequency) have one writer, the render thread, which
// publishes each block's values at once under a sequence count; a reader on any thread takes a
// snapshot that always comes from one block, never half of one and half of the next. The eight
// GUI bool values are set and read one by one from any thread (scripts, OSC, the editor). Every
// field is an atomic, so no access is a data race; nothing here locks or allocates.
#pragma once

#include <atomic>
#include <cstdint>

#include "effect/MarrowfinConstants.h"

// One block's analysis, as the editor reads it.
struct DataToGuiAnalysis {
    float frequency[2] = {};  // smoothed detected input frequency per channel, Hz (0 until rendered)
    float peak[2] = {};       // smoothed cycle envelope per channel, 0..1
    float envelope[2] = {};   // smoothed follower envelope per channel
    bool noLock[2] = {};      // the channel's last analysis found no cycle
};

class DataToGui {
public:
    // Render thread only.
    void Publish(const DataToGuiAnalysis& values) noexcept {
        // Odd while being written. The acquire keeps the stores below from moving above it.
        const uint32_t sequence = m_sequence.fetch_add(1, std::memory_order_acquire);
        for (int ch = 0; ch < 2; ++ch) {
            m_frequency[ch].store(values.frequency[ch], std::memory_order_relaxed);
            m_peak[ch].store(values.peak[ch], std::memory_order_relaxed);
            m_envelope[ch].store(values.envelope[ch], std::memory_order_relaxed);
            m_noLock[ch].store(values.noLock[ch], std::memory_order_relaxed);
        }
        m_sequence.store(sequence + 2, std::memory_order_release);
    }

    // Any thread: the values of the last block published.
    DataToGuiAnalysis Analysis() const noexcept {
        DataToGuiAnalysis values;
        for (;;) {
            const uint32_t before = m_sequence.load(std::memory_order_acquire);
            for (int ch = 0; ch < 2; ++ch) {
                values.frequency[ch] = m_frequency[ch].load(std::memory_order_relaxed);
                values.peak[ch] = m_peak[ch].load(std::memory_order_relaxed);
                values.envelope[ch] = m_envelope[ch].load(std::memory_order_relaxed);
                values.noLock[ch] = m_noLock[ch].load(std::memory_order_relaxed);
            }
            // A read that writes nothing; its release keeps the loads above from moving below it.
            if (!(before & 1) && m_sequence.fetch_add(0, std::memory_order_release) == before) return values;
        }
    }

    // Any thread; callers keep index in 0..kNumGUIBools-1.
    void SetGUIBool(int index, bool value) noexcept { m_guiBool[index].store(value, std::memory_order_relaxed); }
    bool GetGUIBool(int index) const noexcept { return m_guiBool[index].load(std::memory_order_relaxed); }

private:
    mutable std::atomic<uint32_t> m_sequence{0};  // the reader's check is a read-modify-write
    std::atomic<float> m_frequency[2] = {};
    std::atomic<float> m_peak[2] = {};
    std::atomic<float> m_envelope[2] = {};
    std::atomic<bool> m_noLock[2] = {};
    std::atomic<bool> m_guiBool[kNumGUIBools] = {};
};

// The custom property that hands out the address of a unit's DataToGui (8 bytes, read-only).
enum : uint32_t { kMarrowfinProperty_DataToGui = 64001 };
