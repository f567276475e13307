// Tracked pool blocks: each allocation is its own heap block, so AddressSanitizer sees a touch after free.
#include "Pool.h"

namespace host {

void* Pool::Allocate(uint32_t poolType, std::size_t size, uint32_t tag) {
    auto memory = std::make_unique<std::byte[]>(size == 0 ? 1 : size);
    void* address = memory.get();
    std::lock_guard lock(mutex_);
    blocks_.emplace(address, Block{PoolBlock{poolType, size, tag}, std::move(memory)});
    allocations_.fetch_add(1, std::memory_order_relaxed);
    return address;
}

Pool::FreeResult Pool::Free(void* block, uint32_t tag) {
    std::unique_ptr<std::byte[]> memory;  // released after the lock
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(block);
    if (it == blocks_.end()) {
        return FreeResult::Unknown;
    }
    if (tag != 0 && tag != it->second.info.tag) {
        return FreeResult::TagMismatch;
    }
    memory = std::move(it->second.memory);
    blocks_.erase(it);
    return FreeResult::Freed;
}

std::vector<PoolBlock> Pool::Outstanding() const {
    std::lock_guard lock(mutex_);
    std::vector<PoolBlock> blocks;
    for (const auto& [address, block] : blocks_) {
        blocks.push_back(block.info);
    }
    return blocks;
}

}  // namespace host
