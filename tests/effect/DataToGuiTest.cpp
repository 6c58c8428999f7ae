#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "effect/DataToGui.h"

namespace {

// The editor must never see half of one block and half of the next: a writer publishes blocks
// whose every field holds the block number, and every snapshot must be one block's.
TEST(DataToGuiTest, SnapshotsNeverMixTwoBlocks) {
    DataToGui record;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int block = 1; block <= 200000; ++block) {
            DataToGuiAnalysis values;
            const float v = float(block);
            for (int ch = 0; ch < 2; ++ch) {
                values.frequency[ch] = values.peak[ch] = values.envelope[ch] = v;
                values.noLock[ch] = block & 1;
            }
            record.Publish(values);
        }
        done = true;
    });
    float last = 0;
    int snapshots = 0;
    while (!done || snapshots == 0) {
        const DataToGuiAnalysis got = record.Analysis();
        const float v = got.frequency[0];
        ASSERT_GE(v, last);  // blocks are seen in order
        for (int ch = 0; ch < 2; ++ch) {
            ASSERT_EQ(got.frequency[ch], v);
            ASSERT_EQ(got.peak[ch], v);
            ASSERT_EQ(got.envelope[ch], v);
            ASSERT_EQ(got.noLock[ch], v != 0 && (int(v) & 1));
        }
        last = v;
        ++snapshots;
    }
    writer.join();
    EXPECT_EQ(record.Analysis().frequency[1], 200000.f);
}

}  // namespace
