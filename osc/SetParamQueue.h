// Parameter changes on their way from whatever thread set a parameter to the OSC notification
// task: 64 slots, at most 63 waiting.
//
// Many writers (the render thread included), one reader. Writers claim a slot with a
// compare-and-swap on the write index and publish it through the slot's sequence number, so the
// reader never sees a slot before it is filled and two writers never share a slot. No lock, no
// allocation, no system call.
#pragma once

#include <atomic>

#include "hostframework/AUTypes.h"

namespace TB {

class SetParamQueue {
public:
    static constexpr UInt32 kSlots = 64;
    static constexpr UInt32 kMaxWaiting = kSlots - 1;

    SetParamQueue() {
        for (UInt32 i = 0; i < kSlots; ++i) m_slots[i].sequence.store(i, std::memory_order_relaxed);
    }

    // Any thread. False when 63 changes wait already: the change is dropped.
    bool Write(SInt32 id, Float32 value) {
        UInt32 position = m_writeIndex.load(std::memory_order_relaxed);
        for (;;) {
            const SInt32 waiting = SInt32(position - m_readIndex.load(std::memory_order_acquire));
            if (waiting < 0) {  // a stale write index: others wrote and the reader caught up
                position = m_writeIndex.load(std::memory_order_relaxed);
                continue;
            }
            if (UInt32(waiting) >= kMaxWaiting) return false;
            Slot& slot = m_slots[position % kSlots];
            const UInt32 sequence = slot.sequence.load(std::memory_order_acquire);
            const SInt32 lag = SInt32(sequence - position);
            if (lag == 0) {
                if (m_writeIndex.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                    slot.id = id;
                    slot.value = value;
                    slot.sequence.store(position + 1, std::memory_order_release);
                    return true;
                }
            } else if (lag < 0) {
                return false;  // the reader has not released this slot yet
            } else {
                position = m_writeIndex.load(std::memory_order_relaxed);
            }
        }
    }

    // The notification task only. False when nothing is waiting (or the oldest slot is still
    // being filled; it is read on the next call).
    bool Read(SInt32& id, Float32& value) {
        const UInt32 position = m_readIndex.load(std::memory_order_relaxed);
        Slot& slot = m_slots[position % kSlots];
        if (slot.sequence.load(std::memory_order_acquire) != position + 1) return false;
        id = slot.id;
        value = slot.value;
        slot.sequence.store(position + kSlots, std::memory_order_release);
        m_readIndex.store(position + 1, std::memory_order_release);
        return true;
    }

    // Approximate when writers are active.
    UInt32 Waiting() const {
        return m_writeIndex.load(std::memory_order_acquire) - m_readIndex.load(std::memory_order_acquire);
    }

private:
    struct Slot {
        std::atomic<UInt32> sequence;
        SInt32 id = 0;
        Float32 value = 0;
    };
    Slot m_slots[kSlots];
    // Running counts; the slot is the count modulo kSlots.
    alignas(64) std::atomic<UInt32> m_writeIndex{0};
    alignas(64) std::atomic<UInt32> m_readIndex{0};
};

}  // namespace TB
