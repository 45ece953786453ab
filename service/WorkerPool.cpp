#include "WorkerPool.h"

WorkerPool::WorkerPool(int threadCount, Job job)
    : job(std::move(job))
{
    for (int i = 0; i < threadCount; ++i)
        threads.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool()
{
    stop();
}

void WorkerPool::enqueue(std::int32_t songId, std::int32_t userId)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return;
        std::deque<std::int32_t> &songs = queues[userId];
        if (songs.empty())
            turns.push_back(userId);
        songs.push_back(songId);
    }
    wake.notify_one();
}

std::int32_t WorkerPool::take()
{
    const std::int32_t userId = turns.front();
    turns.pop_front();
    std::deque<std::int32_t> &songs = queues[userId];
    const std::int32_t songId = songs.front();
    songs.pop_front();
    if (songs.empty())
        queues.erase(userId);
    else
        turns.push_back(userId);
    return songId;
}

std::vector<std::int32_t> WorkerPool::order()
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto savedQueues = queues;
    const auto savedTurns = turns;
    std::vector<std::int32_t> ids;
    while (!turns.empty())
        ids.push_back(take());
    queues = savedQueues;
    turns = savedTurns;
    return ids;
}

void WorkerPool::halt()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        queues.clear();
        turns.clear();
    }
    halted = true;
    wake.notify_all();
}

void WorkerPool::stop()
{
    halt();
    for (std::thread &thread : threads) {
        if (thread.joinable())
            thread.join();
    }
}

void WorkerPool::run()
{
    for (;;) {
        std::int32_t songId = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || !turns.empty(); });
            if (stopping)
                return;
            songId = take();
        }
        job(songId, halted);
    }
}
