// Tiny busy-wait lock for the board model; freestanding, so no OS mutex is available.
#pragma once

#include <atomic>

namespace board {

class SpinLock {
public:
    void Lock()
    {
        while (flag_.test_and_set(std::memory_order_acquire)) {
            // Spin on a plain load so waiting cores do not bounce the cache line.
            while (flag_.test(std::memory_order_relaxed)) {
#if defined(__i386__) || defined(__x86_64__)
                __builtin_ia32_pause();
#endif
            }
        }
    }

    void Unlock() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_; // clear on construction since C++20
};

// Holds a SpinLock for one scope.
class SpinLockGuard {
public:
    explicit SpinLockGuard(SpinLock& lock) : lock_(lock) { lock_.Lock(); }
    ~SpinLockGuard() { lock_.Unlock(); }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

private:
    SpinLock& lock_;
};

} // namespace board
