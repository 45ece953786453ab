#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A few threads that run the queued songs one after another, away from the HTTP threads.
class WorkerPool
{
public:
    using Job = std::function<void(std::int32_t songId)>;

    WorkerPool(int threads, Job job);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void enqueue(std::int32_t songId);
    // Lets the running jobs end, drops the queued ones (they stay queued in the database) and joins.
    void stop();

private:
    void run();

    const Job job;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::int32_t> queue;
    bool stopping = false;
    std::vector<std::thread> threads;
};
