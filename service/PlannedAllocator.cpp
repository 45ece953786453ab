#include "PlannedAllocator.h"

#include <c10/core/CPUAllocator.h>
#include <c10/util/Exception.h>

#include <sys/mman.h>

#include <cstdlib>

namespace {

// A recorded tensor this large gets a mapping of its own, so that the recording pass does not leave the
// heap holding its peak.
constexpr std::size_t ownMappingBytes = 1 << 20;

void *mapped(std::size_t bytes)
{
    void *data = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return data == MAP_FAILED ? nullptr : data;
}

} // namespace

PlannedAllocator &PlannedAllocator::instance()
{
    static PlannedAllocator allocator;
    return allocator;
}

PlannedAllocator::PlannedAllocator()
{
    // Above LibTorch's own default, which registers at priority 0.
    c10::SetCPUAllocator(this, 1);
}

void PlannedAllocator::begin(std::int64_t passShape)
{
    const std::lock_guard<std::mutex> guard(lock);
    passThread = std::this_thread::get_id();
    next = 0;
    strayed = false;
    mode = Mode::Heap;
    // A block of an earlier pass still held keeps its arena, and the pass goes to the heap.
    if (arenaInUse > 0)
        return;
    if (plan && shape == passShape) {
        if (!arena && plan->arenaSize() > 0) {
            arena = static_cast<char *>(mapped(plan->arenaSize()));
            arenaBytes = arena ? plan->arenaSize() : 0;
        }
        if (arena || plan->arenaSize() == 0)
            mode = Mode::Replay;
        return;
    }
    dropArena();
    plan.reset();
    recording = std::make_unique<AllocationPlan>();
    shape = passShape;
    mode = Mode::Record;
}

void PlannedAllocator::end(bool completed)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (mode == Mode::Record) {
        // Blocks the pass still holds belong to no plan; their release is no longer the recording's.
        for (auto &entry : held)
            if (entry.second.kind == Held::Kind::Recorded)
                entry.second.index = -1;
        if (completed) {
            recording->place();
            plan = std::move(recording);
            inUse.assign(static_cast<size_t>(next), 0);
        }
        recording.reset();
    } else if (mode == Mode::Replay && strayed) {
        // The network did something else this time; the next pass of the shape records it afresh.
        plan.reset();
    }
    last = strayed ? Mode::Heap : mode;
    mode = Mode::Heap;
}

c10::DataPtr PlannedAllocator::allocate(std::size_t bytes) const
{
    if (bytes == 0)
        return { nullptr, nullptr, &release, c10::Device(c10::DeviceType::CPU) };
    // LibTorch allocates through a const allocator; the one instance is not const.
    void *data = const_cast<PlannedAllocator *>(this)->take(bytes);
    return { data, data, &release, c10::Device(c10::DeviceType::CPU) };
}

void *PlannedAllocator::take(std::size_t bytes)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (mode == Mode::Heap || std::this_thread::get_id() != passThread)
        return fromHeap(bytes);
    const int index = next++;
    if (mode == Mode::Record) {
        void *data = bytes >= ownMappingBytes ? mapped(bytes) : nullptr;
        const bool ownMapping = data != nullptr;
        if (!data)
            data = fromHeap(bytes);
        held[data] = { Held::Kind::Recorded, recording->recordAllocation(bytes), bytes, ownMapping };
        return data;
    }
    if (strayed || !plan->matches(index, bytes)) {
        strayed = true;
        return fromHeap(bytes);
    }
    // A tensor the recording held past its end has no place: the heap serves it.
    const std::int64_t offset = plan->offsetOf(index);
    if (offset < 0)
        return fromHeap(bytes);
    for (const int earlier : plan->sharing(index))
        if (inUse[static_cast<size_t>(earlier)]) {
            strayed = true;
            return fromHeap(bytes);
        }
    inUse[static_cast<size_t>(index)] = 1;
    ++arenaInUse;
    void *data = arena + offset;
    held[data] = { Held::Kind::Arena, index, bytes, false };
    return data;
}

void *PlannedAllocator::fromHeap(std::size_t bytes) const
{
    void *data = nullptr;
    // LibTorch's own allocator aligns to 64 bytes, and its kernels may rely on it.
    if (::posix_memalign(&data, AllocationPlan::alignment, bytes) != 0)
        data = nullptr;
    TORCH_CHECK(data, "PlannedAllocator: can't allocate memory: you tried to allocate ", bytes, " bytes.");
    return data;
}

void PlannedAllocator::release(void *data)
{
    if (data)
        instance().give(data);
}

void PlannedAllocator::give(void *data)
{
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = held.find(data);
    if (found == held.end()) {
        std::free(data);
        return;
    }
    const Held block = found->second;
    held.erase(found);
    if (block.kind == Held::Kind::Arena) {
        inUse[static_cast<size_t>(block.index)] = 0;
        --arenaInUse;
        return;
    }
    if (block.index >= 0 && recording)
        recording->recordRelease(block.index);
    if (block.mapped)
        ::munmap(data, block.bytes);
    else
        std::free(data);
}

void PlannedAllocator::dropArena()
{
    if (arena)
        ::munmap(arena, arenaBytes);
    arena = nullptr;
    arenaBytes = 0;
}

PlannedAllocator::Mode PlannedAllocator::lastPass() const
{
    const std::lock_guard<std::mutex> guard(lock);
    return last;
}

std::size_t PlannedAllocator::arenaSize() const
{
    const std::lock_guard<std::mutex> guard(lock);
    return arenaBytes;
}
