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
    // Four writers race one reader; every change arrives exactly once, untorn, and each
    // writer's changes arrive in the order written. A writer that finds the queue full retries.
    TB::SetParamQueue queue;
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 5000;
    std::atomic<int> accepted[kWriters] = {};
    std::atomic<bool> done{false};
    std::vector<int> lastSeen(kWriters, -1);
    std::vector<int> received(kWriters, 0);
    bool intact = true, ordered = true;

    std::thread reader([&] {
        SInt32 id;
        Float32 value;
        for (;;) {
            const bool finished = done.load();
            bool any = false;
            while (queue.Read(id, value)) {
                any = true;
                const int sequence = int(value);
                if (id < 0 || id >= kWriters || Float32(sequence) != value) {
                    intact = false;
                    continue;
                }
                if (sequence <= lastSeen[id]) ordered = false;
                lastSeen[id] = sequence;
                ++received[id];
            }
            if (finished && !any) break;
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                while (!queue.Write(w, Float32(i))) std::this_thread::yield();
                accepted[w].fetch_add(1);
            }
        });
    }
    for (auto& t : writers) t.join();
    done.store(true);
    reader.join();
    EXPECT_TRUE(intact);
    EXPECT_TRUE(ordered);
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(accepted[w].load(), kPerWriter);
        EXPECT_EQ(received[w], kPerWriter) << "writer " << w;
    }
}
