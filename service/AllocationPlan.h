#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where each allocation of a repeated computation goes inside one block of memory, worked out from one
// recorded run. A network's pass over inputs of one shape asks for the same sizes in the same order each
// time; placed once, packed by when each is alive, the pass needs about its live peak. The C heap needs
// far more for the same pass: its holes rarely fit the next size asked for.
class AllocationPlan
{
public:
    static constexpr std::size_t alignment = 64;

    // Recording: the run's allocations in order, each answering its index, and their releases.
    int recordAllocation(std::size_t bytes);
    void recordRelease(int index);
    // Places every allocation the run released; one still held when the run ended gets no place.
    void place();

    std::size_t arenaSize() const { return arena; }
    // Whether a run's allocation index is the recorded one's size: a run that asks for another has
    // strayed from the recording.
    bool matches(int index, std::size_t bytes) const;
    // The offset of a matching allocation in the arena, -1 for one held past the recorded run's end.
    std::int64_t offsetOf(int index) const { return blocks[static_cast<size_t>(index)].offset; }
    // The allocations made before index whose places share bytes with index's: each must have been
    // released before index's place is handed out.
    const std::vector<int> &sharing(int index) const { return blocks[static_cast<size_t>(index)].sharing; }

private:
    struct Block
    {
        std::size_t bytes = 0;
        std::int64_t size = 0; // bytes rounded up to the alignment: the room it takes
        std::int64_t allocated = 0;
        std::int64_t released = -1; // -1: still held
        std::int64_t offset = -1;
        std::vector<int> sharing;
    };

    std::vector<Block> blocks;
    std::int64_t clock = 0;
    std::size_t arena = 0;
};
