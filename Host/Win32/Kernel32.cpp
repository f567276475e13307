// The kernel32 routines the client library uses, on the stand-in kernel.
#include <cstring>
#include <string>

#include "Kernel.h"
#include "Kernel32.h"
#include "Text.h"
#include "Win32Process.h"

namespace host {
namespace {
std::atomic<Win32Process*> g_process{nullptr};
thread_local DWORD t_lastError = 0;
}  // namespace

Win32Process::Win32Process() {
    Win32Process* expected = nullptr;
    if (!g_process.compare_exchange_strong(expected, this)) {
        std::abort();
    }
}

Win32Process::~Win32Process() {
    // The process ends: the system closes what it left open.
    std::map<uintptr_t, FileHandle> handles;
    {
        std::lock_guard lock(mutex_);
        handles.swap(handles_);
    }
    if (Kernel::Exists()) {
        for (const auto& [value, file] : handles) {
            Kernel::Current().Io().Close(file);
        }
    }
    g_process.store(nullptr);
}

Win32Process& Win32Process::Current() {
    Win32Process* process = g_process.load();
    if (process == nullptr) {
        std::abort();
    }
    return *process;
}

std::size_t Win32Process::GlobalBlocks() const {
    std::lock_guard lock(mutex_);
    return blocks_.size();
}

std::size_t Win32Process::OpenHandles() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

void* Win32Process::AllocateGlobal(std::size_t size, bool zero) {
    const std::size_t units = (size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t) + 1;
    auto memory = std::make_unique<std::max_align_t[]>(units);
    // Every byte set: value-initialising max_align_t leaves the padding of its long double undefined.
    std::memset(memory.get(), zero ? 0x00 : 0xCD, units * sizeof(std::max_align_t));
    void* block = memory.get();
    std::lock_guard lock(mutex_);
    blocks_.emplace(block, std::move(memory));
    return block;
}

bool Win32Process::FreeGlobal(void* block) {
    std::unique_ptr<std::max_align_t[]> memory;
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(block);
    if (it == blocks_.end()) {
        return false;
    }
    memory = std::move(it->second);
    blocks_.erase(it);
    return true;
}

bool Win32Process::IsGlobal(void* block) const {
    std::lock_guard lock(mutex_);
    return blocks_.count(block) != 0;
}

void* Win32Process::AddHandle(FileHandle file) {
    std::lock_guard lock(mutex_);
    const uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_[value] = file;
    return reinterpret_cast<void*>(value);
}

std::optional<FileHandle> Win32Process::FileOf(void* handle) const {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<FileHandle> Win32Process::RemoveHandle(void* handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles_.end()) {
        return std::nullopt;
    }
    const FileHandle file = it->second;
    handles_.erase(it);
    return file;
}

uint32_t Win32ErrorOf(int32_t status) {
    switch (status) {
    case STATUS_OBJECT_NAME_NOT_FOUND:
    case STATUS_NO_SUCH_DEVICE:
        return ERROR_FILE_NOT_FOUND;
    case STATUS_ACCESS_DENIED:
    case STATUS_DELETE_PENDING:
        return ERROR_ACCESS_DENIED;
    case STATUS_INVALID_HANDLE:
        return ERROR_INVALID_HANDLE;
    case STATUS_INVALID_DEVICE_REQUEST:
        return ERROR_INVALID_FUNCTION;
    case STATUS_INVALID_PARAMETER:
        return ERROR_INVALID_PARAMETER;
    case STATUS_BUFFER_TOO_SMALL:
        return ERROR_INSUFFICIENT_BUFFER;
    case STATUS_INSUFFICIENT_RESOURCES:
        return ERROR_NO_SYSTEM_RESOURCES;
    case STATUS_UNSUCCESSFUL:
        return ERROR_GEN_FAILURE;
    default:
        return ERROR_MR_MID_NOT_FOUND;
    }
}

}  // namespace host

using host::Win32Process;

namespace {
// A fail-able routine told to fail answers with a Win32 error code.
DWORD InjectedError(const char* routine) {
    return static_cast<DWORD>(host::Kernel::Current().Faults().Check(routine));
}
}  // namespace

extern "C" {

HGLOBAL GlobalAlloc(unsigned int uFlags, SIZE_T dwBytes) {
    if (const DWORD error = InjectedError("GlobalAlloc"); error != 0) {
        host::t_lastError = error;
        return nullptr;
    }
    // Without GMEM_MOVEABLE the block is fixed: its handle is its address.
    return Win32Process::Current().AllocateGlobal(dwBytes, (uFlags & GMEM_ZEROINIT) != 0);
}

LPVOID GlobalLock(HGLOBAL hMem) {
    if (!Win32Process::Current().IsGlobal(hMem)) {
        host::t_lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return hMem;
}

BOOL GlobalUnlock(HGLOBAL hMem) {
    // A fixed block has no lock count: the system answers FALSE with ERROR_NOT_LOCKED.
    host::t_lastError = Win32Process::Current().IsGlobal(hMem) ? ERROR_NOT_LOCKED : ERROR_INVALID_HANDLE;
    return FALSE;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    if (!Win32Process::Current().FreeGlobal(hMem)) {
        host::t_lastError = ERROR_INVALID_HANDLE;
        return hMem;
    }
    return nullptr;
}

void SetLastError(DWORD dwErrCode) { host::t_lastError = dwErrCode; }

DWORD GetLastError(void) { return host::t_lastError; }

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)dwDesiredAccess;
    (void)dwShareMode;
    (void)lpSecurityAttributes;
    (void)dwFlagsAndAttributes;
    (void)hTemplateFile;
    if (const DWORD error = InjectedError("CreateFileA"); error != 0) {
        host::t_lastError = error;
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition != OPEN_EXISTING) {
        host::t_lastError = ERROR_INVALID_PARAMETER;  // devices are opened, never created
        return INVALID_HANDLE_VALUE;
    }
    NTSTATUS status = STATUS_SUCCESS;
    auto file = host::Kernel::Current().Io().Open(host::ToUtf16(lpFileName), &status);
    if (!file) {
        host::t_lastError = host::Win32ErrorOf(status);
        return INVALID_HANDLE_VALUE;
    }
    return Win32Process::Current().AddHandle(*file);
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    if (lpOverlapped == nullptr && lpBytesReturned == nullptr) {
        host::Violate("WIN32_NO_BYTE_COUNT", "a synchronous DeviceIoControl needs lpBytesReturned");
        return FALSE;
    }
    if (const DWORD error = InjectedError("DeviceIoControl"); error != 0) {
        host::t_lastError = error;
        return FALSE;
    }
    auto file = Win32Process::Current().FileOf(hDevice);
    if (!file) {
        host::t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const host::IoResult result = host::Kernel::Current().Io().DeviceControl(
        *file, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize);
    // An error leaves the count as it was; success and warnings report what came back.
    if (lpBytesReturned != nullptr && !NT_ERROR(result.status)) {
        *lpBytesReturned = static_cast<DWORD>(result.information);
    }
    if (!NT_SUCCESS(result.status)) {
        host::t_lastError = host::Win32ErrorOf(result.status);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    auto file = Win32Process::Current().RemoveHandle(hObject);
    if (!file) {
        host::t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    host::Kernel::Current().Io().Close(*file);
    return TRUE;
}

}  // extern "C"
