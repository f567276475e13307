// Pool memory of the stand-in kernel: every block tracked with its tag, so leaks and bad frees show.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace host {

struct PoolBlock {
    uint32_t poolType;
    std::size_t size;
    uint32_t tag;
};

class Pool {
public:
    void* Allocate(uint32_t poolType, std::size_t size, uint32_t tag);
    enum class FreeResult { Freed, Unknown, TagMismatch };
    // A tag of 0 frees whatever the block's tag; a block that is unknown or tagged otherwise stays as it is.
    FreeResult Free(void* block, uint32_t tag);

    std::vector<PoolBlock> Outstanding() const;
    uint64_t Allocations() const { return allocations_.load(std::memory_order_relaxed); }

private:
    struct Block {
        PoolBlock info;
        std::unique_ptr<std::byte[]> memory;
    };
    mutable std::mutex mutex_;
    std::unordered_map<void*, Block> blocks_;
    std::atomic<uint64_t> allocations_{0};
};

}  // namespace host
