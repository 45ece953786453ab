#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A few threads that run the queued songs away from the HTTP threads, the users' songs taken in turn:
// one user's long queue does not hold up everyone else's.
class WorkerPool
{
public:
    // A job gives up soon after stop is set, leaving its song as it found it.
    using Job = std::function<void(std::int32_t songId, const std::atomic<bool> &stop)>;

    WorkerPool(int threads, Job job);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void enqueue(std::int32_t songId, std::int32_t userId);
    // The queued songs in the order they will be taken.
    std::vector<std::int32_t> order();
    // Asks the running jobs to give up and drops the queued ones (they stay queued in the database).
    void halt();
    // Halts and joins.
    void stop();

private:
    void run();

    const Job job;
    std::mutex mutex;
    std::condition_variable wake;
    // Each user's songs, and the users with songs in the order of their turns.
    std::map<std::int32_t, std::deque<std::int32_t>> queues;
    std::deque<std::int32_t> turns;
    // Takes the next song; called with the mutex held and a song queued.
    std::int32_t take();
    bool stopping = false;
    std::atomic<bool> halted { false };
    std::vector<std::thread> threads;
};
