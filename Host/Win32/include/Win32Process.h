// One user-mode process on the stand-in: its global memory blocks and its handles to devices, with kernel32's
// routines reaching the stand-in kernel's I/O manager.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "IoManager.h"

namespace host {

class Win32Process {
public:
    Win32Process();  // becomes the current process; only one exists at a time
    ~Win32Process();
    Win32Process(const Win32Process&) = delete;
    Win32Process& operator=(const Win32Process&) = delete;

    static Win32Process& Current();

    std::size_t GlobalBlocks() const;
    std::size_t OpenHandles() const;

    // Used by the kernel32 routines.
    void* AllocateGlobal(std::size_t size, bool zero);
    bool FreeGlobal(void* block);
    bool IsGlobal(void* block) const;
    void* AddHandle(FileHandle file);
    std::optional<FileHandle> FileOf(void* handle) const;
    std::optional<FileHandle> RemoveHandle(void* handle);

private:
    mutable std::mutex mutex_;
    std::unordered_map<void*, std::unique_ptr<std::max_align_t[]>> blocks_;
    std::map<uintptr_t, FileHandle> handles_;
    uintptr_t nextHandle_ = 0x100;
};

// The Win32 error a failed system call reports for a kernel status, as the system translates it.
uint32_t Win32ErrorOf(int32_t status);

}  // namespace host
