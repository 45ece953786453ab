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

void WorkerPool::enqueue(std::int32_t songId)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return;
        queue.push_back(songId);
    }
    wake.notify_one();
}

void WorkerPool::halt()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        queue.clear();
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
            wake.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping)
                return;
            songId = queue.front();
            queue.pop_front();
        }
        job(songId, halted);
    }
}
