// The lock-free parameter change queue between parameter setters and the notification task.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "osc/SetParamQueue.h"

TEST(SetParamQueue, HoldsAtMost63InOrderAcrossWrapAround) {
    TB::SetParamQueue queue;
    SInt32 id = 0;
    Float32 value = 0;
    EXPECT_FALSE(queue.Read(id, value));
    int next = 0, expected = 0;
    for (int round = 0; round < 5; ++round) {
        int written = 0;
        while (queue.Write(next % 40, Float32(next))) {
            ++next;
            ++written;
        }
        EXPECT_EQ(written, round == 0 ? 63 : 40);
        EXPECT_EQ(queue.Waiting(), 63u);
        // Drain part of it so the indices wrap at different places.
        for (int i = 0; i < (round == 4 ? 63 : 40); ++i) {
            ASSERT_TRUE(queue.Read(id, value));
            EXPECT_EQ(id, expected % 40);
            EXPECT_EQ(value, Float32(expected));
            ++expected;
        }
    }
    EXPECT_FALSE(queue.Read(id, value));
}

TEST(SetParamQueue, ConcurrentWritersDeliverEachChangeOnceAndIntact) {
    // Four writers race one reader; every change arrives once, untorn, in each writer's order.
    TB::SetParamQueue queue;
    constexpr int kWriters = 4, kPerWriter = 5000;
    std::atomic<int> finished{0};
    std::vector<int> next(kWriters, 0);
    bool intact = true;
    std::thread reader([&] {
        SInt32 id;
        Float32 value;
        for (bool last = false; !last;) {
            last = finished.load() == kWriters;
            while (queue.Read(id, value)) {
                intact = intact && id >= 0 && id < kWriters && value == Float32(next[id]);
                if (intact) ++next[id];
            }
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < kPerWriter; ++i)
                while (!queue.Write(w, Float32(i))) std::this_thread::yield();
            ++finished;
        });
    for (auto& t : writers) t.join();
    reader.join();
    EXPECT_TRUE(intact);
    EXPECT_EQ(next, std::vector<int>(kWriters, kPerWriter));
}
