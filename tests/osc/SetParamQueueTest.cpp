// The lock-free parameter change queue between parameter setters and the notification task.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "osc/SetParamQueue.h"

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
