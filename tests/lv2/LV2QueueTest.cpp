// The audio-to-worker queue and the MIDI byte parsing of the plug-in.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "lv2/MarrowfinLV2Util.h"
#include "lv2/VoskMarrowfinLV2Queue.h"

namespace {

using MarrowfinLV2::MidiJobFromBytes;

TEST(LV2QueueTest, KeepsOrderAcrossThreadsAndCountsWhatItDrops) {
    auto queue = std::make_unique<VoskMarrowfinLV2Queue>();
    constexpr uint32_t kItems = 300000;
    std::atomic<bool> done{false};
    uint32_t received = 0, last = 0;
    bool ordered = true;
    std::thread consumer([&] {
        VoskMarrowfinLV2Job job;
        for (;;) {
            const bool finished = done.load(std::memory_order_acquire);
            bool any = false;
            while (queue->Pop(job)) {
                any = true;
                if (received && job.frame <= last) ordered = false;
                last = job.frame;
                ++received;
            }
            if (finished && !any) break;
            if (!any) std::this_thread::yield();
        }
    });
    uint32_t accepted = 0;
    for (uint32_t i = 1; i <= kItems; ++i) {
        VoskMarrowfinLV2Job job;
        job.frame = i;
        accepted += queue->Push(job);
    }
    done.store(true, std::memory_order_release);
    consumer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(received, accepted);
    EXPECT_EQ(accepted + queue->Dropped(), kItems);
}

TEST(LV2QueueTest, FullQueueDropsOnlyNewItems) {
    auto queue = std::make_unique<VoskMarrowfinLV2Queue>();
    VoskMarrowfinLV2Job job;
    for (uint32_t i = 0; i < VoskMarrowfinLV2Queue::kCapacity - 1; ++i) {
        job.frame = i;
        ASSERT_TRUE(queue->Push(job));
    }
    job.frame = 9999;
    EXPECT_FALSE(queue->Push(job));
    EXPECT_EQ(queue->Dropped(), 1u);
    for (uint32_t i = 0; i < VoskMarrowfinLV2Queue::kCapacity - 1; ++i) {
        ASSERT_TRUE(queue->Pop(job));
        EXPECT_EQ(job.frame, i);
    }
    EXPECT_FALSE(queue->Pop(job));
}

TEST(LV2QueueTest, MidiBytesBecomeChannelMessagesOnly) {
    VoskMarrowfinLV2Job job;
    const uint8_t noteOn[] = {0x93, 60, 100};
    ASSERT_TRUE(MidiJobFromBytes(noteOn, 3, 17, job));
    EXPECT_EQ(job.kind, VoskMarrowfinLV2Job::kMidi);
    EXPECT_EQ(job.status, 0x93);
    EXPECT_EQ(job.data1, 60);
    EXPECT_EQ(job.data2, 100);
    EXPECT_EQ(job.frame, 17u);

    const uint8_t program[] = {0xC2, 7};
    ASSERT_TRUE(MidiJobFromBytes(program, 2, 0, job));
    EXPECT_EQ(job.status, 0xC2);
    EXPECT_EQ(job.data1, 7);
    EXPECT_EQ(job.data2, 0);
    const uint8_t pressure[] = {0xD0, 0xFF};  // data bytes keep 7 bits
    ASSERT_TRUE(MidiJobFromBytes(pressure, 2, 0, job));
    EXPECT_EQ(job.data1, 0x7F);

    const uint8_t truncated[] = {0x90, 60};
    const uint8_t running[] = {60, 100};
    const uint8_t sysex[] = {0xF0, 0x7E, 0xF7};
    const uint8_t clock[] = {0xF8};
    EXPECT_FALSE(MidiJobFromBytes(truncated, 2, 0, job));
    EXPECT_FALSE(MidiJobFromBytes(running, 2, 0, job));
    EXPECT_FALSE(MidiJobFromBytes(sysex, 3, 0, job));
    EXPECT_FALSE(MidiJobFromBytes(clock, 1, 0, job));
    EXPECT_FALSE(MidiJobFromBytes(noteOn, 0, 0, job));
    EXPECT_FALSE(MidiJobFromBytes(nullptr, 3, 0, job));
}

}  // namespace
