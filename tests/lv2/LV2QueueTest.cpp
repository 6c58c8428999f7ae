// The audio-to-worker queue and the MIDI byte parsing of the plug-in.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "lv2/MarrowfinLV2Util.h"
#include "lv2/VoskMarrowfinLV2Queue.h"

namespace {

using MarrowfinLV2::MidiJobFromBytes;

TEST(LV2QueueTest, FullQueueDropsAndCountsOnlyNewItems) {
    auto queue = std::make_unique<VoskMarrowfinLV2Queue>();
    VoskMarrowfinLV2Job job;
    for (job.frame = 0; job.frame < VoskMarrowfinLV2Queue::kCapacity - 1; ++job.frame) ASSERT_TRUE(queue->Push(job));
    EXPECT_FALSE(queue->Push(job));
    EXPECT_EQ(queue->Dropped(), 1u);
    for (uint32_t i = 0; i < VoskMarrowfinLV2Queue::kCapacity - 1; ++i) {
        ASSERT_TRUE(queue->Pop(job));
        EXPECT_EQ(job.frame, i);
    }
    EXPECT_FALSE(queue->Pop(job));
}

TEST(LV2QueueTest, MidiBytesBecomeChannelMessagesOnly) {
    const struct {
        std::vector<uint8_t> bytes;
        bool accepted;
        uint8_t status = 0, data1 = 0, data2 = 0;
    } cases[] = {
        {{0x93, 60, 100}, true, 0x93, 60, 100},
        {{0xC2, 7}, true, 0xC2, 7, 0},
        {{0xD0, 0xFF}, true, 0xD0, 0x7F, 0},  // data bytes keep 7 bits
        {{0x90, 60}, false},                 // truncated
        {{60, 100}, false},                  // running status
        {{0xF0, 0x7E, 0xF7}, false},         // sysex
        {{}, false},
    };
    for (const auto& c : cases) {
        VoskMarrowfinLV2Job job;
        ASSERT_EQ(MidiJobFromBytes(c.bytes.data(), uint32_t(c.bytes.size()), 17, job), c.accepted) << int(c.bytes.size());
        if (!c.accepted) continue;
        EXPECT_EQ(job.kind, VoskMarrowfinLV2Job::kMidi);
        EXPECT_EQ(job.frame, 17u);
        EXPECT_EQ(std::vector<int>({job.status, job.data1, job.data2}), std::vector<int>({c.status, c.data1, c.data2}));
    }
    VoskMarrowfinLV2Job job;
    EXPECT_FALSE(MidiJobFromBytes(nullptr, 3, 0, job));
}

}  // namespace
