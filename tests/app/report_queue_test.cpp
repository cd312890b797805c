#include "app/report_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace firmora::app {
namespace {

// Two workers post while the window's thread drains: every task runs once,
// on the draining thread, and each worker's tasks in the order it posted them.
TEST(ReportQueue, KeepsEachPostersOrderAcrossThreads) {
    ReportQueue queue;
    constexpr int kPerWorker = 5000;
    std::atomic<int> wakeUps{0};
    queue.onPosted = [&] { ++wakeUps; };
    std::vector<int> seen[2];
    const std::thread::id window = std::this_thread::get_id();
    bool elsewhere = false;
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < kPerWorker; ++i) {
                queue.Post([&, w, i] {
                    seen[w].push_back(i);
                    if (std::this_thread::get_id() != window) elsewhere = true;
                });
            }
        });
    }
    size_t ran = 0;
    while (ran < 2 * kPerWorker) {
        queue.WaitPending(1000);
        ran += queue.Drain();
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(queue.Drain(), 0U);
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(wakeUps.load(), 2 * kPerWorker);
    for (const std::vector<int>& lines : seen) {
        ASSERT_EQ(lines.size(), static_cast<size_t>(kPerWorker));
        for (int i = 0; i < kPerWorker; ++i) ASSERT_EQ(lines[static_cast<size_t>(i)], i);
    }
}

// A task that posts (the termination after the last line) runs in the same drain, after it.
TEST(ReportQueue, TasksPostedWhileDrainingRunInTheSameDrain) {
    ReportQueue queue;
    std::vector<int> order;
    queue.Post([&] {
        order.push_back(1);
        queue.Post([&] { order.push_back(3); });
    });
    queue.Post([&] { order.push_back(2); });
    EXPECT_EQ(queue.Drain(), 3U);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(queue.WaitPending(0));
}

}  // namespace
}  // namespace firmora::app
