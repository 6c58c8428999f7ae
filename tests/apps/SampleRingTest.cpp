// The ring between `serve`'s render thread and the file writer: every sample arrives once and in
// order under concurrent use, and a full ring refuses whole blocks and counts them.
#include <gtest/gtest.h>

#include <thread>

#include "apps/SampleRing.h"

using MarrowfinApp::SampleRing;

TEST(SampleRing, FullRingRefusesWholeBlocksAndCountsThem) {
    SampleRing ring(8);
    float block[5] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(ring.Push(block, 5));
    EXPECT_FALSE(ring.Push(block, 5));  // only 3 free: nothing of it is written
    EXPECT_EQ(ring.Dropped(), 5u);
    float out[16];
    ASSERT_EQ(ring.Pop(out, 16), 5u);
    EXPECT_EQ(out[4], 5.0f);
    EXPECT_TRUE(ring.Push(block, 5));  // wraps round the end
    EXPECT_TRUE(ring.Push(block, 3));
    ASSERT_EQ(ring.Pop(out, 16), 8u);
    EXPECT_EQ(out[5], 1.0f);
    EXPECT_EQ(out[7], 3.0f);
    EXPECT_EQ(ring.Pop(out, 16), 0u);
}

TEST(SampleRing, ConcurrentProducerAndConsumerKeepEverySampleInOrder) {
    SampleRing ring(1000);
    constexpr int kBlocks = 200000, kBlock = 7;
    std::thread producer([&] {
        float block[kBlock];
        float next = 0;
        for (int b = 0; b < kBlocks; ++b) {
            for (float& v : block) v = next++;
            while (!ring.Push(block, kBlock)) std::this_thread::yield();
        }
    });
    float expected = 0;
    float out[64];
    bool inOrder = true;
    while (expected < float(kBlocks * kBlock)) {
        size_t n = ring.Pop(out, 64);
        for (size_t i = 0; i < n; ++i) inOrder = inOrder && out[i] == expected++;
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(ring.Pop(out, 64), 0u);
}
