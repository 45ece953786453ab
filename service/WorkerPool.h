#pragma once

#include <atomic>
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
    // A job gives up soon after stop is set, leaving its song as it found it.
    using Job = std::function<void(std::int32_t songId, const std::atomic<bool> &stop)>;

    WorkerPool(int threads, Job job);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void enqueue(std::int32_t songId);
    // Asks the running jobs to give up and drops the queued ones (they stay queued in the database).
    void halt();
    // Halts and joins.
    void stop();

private:
    void run();

    const Job job;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::int32_t> queue;
    bool stopping = false;
    std::atomic<bool> halted { false };
    std::vector<std::thread> threads;
};
