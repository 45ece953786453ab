#pragma once

#include "AllocationPlan.h"

#include <c10/core/Allocator.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

// LibTorch's CPU allocator in a job that runs a network chunk after chunk. The first pass over a shape
// is recorded, and every later pass of that shape takes its tensors from one arena mapped once, placed by
// an AllocationPlan. On the C heap the same passes leave it holding about twice their live peak, a
// third of the job's memory; mapping each large tensor afresh instead would fault its pages in again on
// every pass and halve the speed. Anything outside a pass (loading, other threads, a pass that strays
// from its recording) takes the C heap, as LibTorch's own allocator does.
class PlannedAllocator final : public c10::Allocator
{
public:
    // One pass of the network, begun and ended around its call; a pass that throws records nothing.
    class Pass
    {
    public:
        explicit Pass(std::int64_t shape) { instance().begin(shape); }
        ~Pass() { instance().end(completed); }
        Pass(const Pass &) = delete;
        Pass &operator=(const Pass &) = delete;
        void complete() { completed = true; }

    private:
        bool completed = false;
    };

    // The process's one instance, LibTorch's CPU allocator from its first use on.
    static PlannedAllocator &instance();

    c10::DataPtr allocate(std::size_t bytes) const override;
    c10::DeleterFnPtr raw_deleter() const override { return &release; }

    // What the last pass did, for tests: recorded, replayed from the arena, or strayed to the heap.
    enum class Mode { Heap, Record, Replay };
    Mode lastPass() const;
    std::size_t arenaSize() const;

private:
    PlannedAllocator();
    ~PlannedAllocator() override = default;
    PlannedAllocator(const PlannedAllocator &) = delete;
    PlannedAllocator &operator=(const PlannedAllocator &) = delete;

    struct Held
    {
        enum class Kind { Recorded, Arena } kind;
        int index; // in the recording or the plan; -1 once that recording is over
        std::size_t bytes;
        bool mapped; // a recorded block of its own mapping rather than of the heap
    };

    void begin(std::int64_t passShape);
    void end(bool completed);
    static void release(void *data);
    void *fromHeap(std::size_t bytes) const;
    void *take(std::size_t bytes);
    void give(void *data);
    void dropArena();

    mutable std::mutex lock;
    Mode mode = Mode::Heap;
    Mode last = Mode::Heap;
    bool strayed = false;
    std::thread::id passThread;
    std::int64_t shape = -1; // of the recording, or of the plan it became
    std::unique_ptr<AllocationPlan> recording;
    std::unique_ptr<AllocationPlan> plan;
    int next = 0; // the index of the pass's next allocation
    std::vector<char> inUse; // per planned allocation: handed out and not yet released
    int arenaInUse = 0;
    char *arena = nullptr;
    std::size_t arenaBytes = 0;
    std::unordered_map<void *, Held> held;
};
