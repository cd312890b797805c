#include "app/report_queue.h"

#include <chrono>
#include <utility>

namespace firmora::app {

void ReportQueue::Post(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    posted_.notify_all();
    if (onPosted) onPosted();
}

size_t ReportQueue::Drain() {
    size_t ran = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return ran;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        // Run without the lock: a task may post further tasks.
        task();
        ++ran;
    }
}

bool ReportQueue::WaitPending(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !tasks_.empty(); });
}

}  // namespace firmora::app
