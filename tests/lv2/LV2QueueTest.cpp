// The audio-to-worker queue and the MIDI byte parsing of the plug-in.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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
