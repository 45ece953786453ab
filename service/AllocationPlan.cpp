#include "AllocationPlan.h"

#include <algorithm>

namespace {

std::size_t aligned(std::size_t bytes)
{
    return (bytes + AllocationPlan::alignment - 1) / AllocationPlan::alignment * AllocationPlan::alignment;
}

} // namespace

int AllocationPlan::recordAllocation(std::size_t bytes)
{
    Block block;
    block.bytes = bytes;
    block.size = static_cast<std::int64_t>(aligned(bytes));
    block.allocated = clock++;
    blocks.push_back(block);
    return static_cast<int>(blocks.size() - 1);
}

void AllocationPlan::recordRelease(int index)
{
    blocks[static_cast<size_t>(index)].released = clock++;
}

void AllocationPlan::place()
{
    // Largest first, each at the lowest offset free for its whole life: the big activations settle
    // first and the small ones fill the gaps around them.
    std::vector<int> order;
    for (size_t i = 0; i < blocks.size(); ++i)
        if (blocks[i].released >= 0)
            order.push_back(static_cast<int>(i));
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return blocks[static_cast<size_t>(a)].bytes > blocks[static_cast<size_t>(b)].bytes;
    });

    std::vector<int> placed;
    for (const int index : order) {
        Block &block = blocks[static_cast<size_t>(index)];
        std::vector<const Block *> alive;
        for (const int other : placed) {
            const Block &rival = blocks[static_cast<size_t>(other)];
            if (rival.allocated < block.released && block.allocated < rival.released)
                alive.push_back(&rival);
        }
        std::sort(
            alive.begin(), alive.end(), [](const Block *a, const Block *b) { return a->offset < b->offset; });
        std::int64_t offset = 0;
        for (const Block *rival : alive) {
            if (offset + block.size <= rival->offset)
                break;
            offset = std::max(offset, rival->offset + rival->size);
        }
        block.offset = offset;
        arena = std::max(arena, static_cast<std::size_t>(offset + block.size));
        placed.push_back(index);
    }

    for (size_t i = 0; i < blocks.size(); ++i) {
        Block &block = blocks[i];
        if (block.offset < 0)
            continue;
        for (size_t j = 0; j < i; ++j) {
            const Block &earlier = blocks[j];
            if (earlier.offset >= 0 && earlier.offset < block.offset + block.size
                && block.offset < earlier.offset + earlier.size)
                block.sharing.push_back(static_cast<int>(j));
        }
    }
}

bool AllocationPlan::matches(int index, std::size_t bytes) const
{
    return index >= 0 && static_cast<size_t>(index) < blocks.size()
        && blocks[static_cast<size_t>(index)].bytes == bytes;
}
