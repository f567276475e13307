// The stand-in I/O manager: driver and device objects, the object namespace, file handles, and requests built
// and completed as Windows does, with the verifier's checks on each.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "NtKernel.h"

namespace host {

struct DeviceRecord;
struct IrpRecord;

// What the sender of a request sees when it is done.
struct IoResult {
    NTSTATUS status = STATUS_PENDING;     // the status the request was completed with
    ULONG_PTR information = 0;
    NTSTATUS returned = STATUS_PENDING;   // what the top driver's dispatch routine returned
};

// The first stack location of a request a kernel-mode sender builds itself.
struct IrpSetup {
    IO_STACK_LOCATION location{};
    NTSTATUS initialStatus = STATUS_SUCCESS;
    PVOID systemBuffer = nullptr;
};

using FileHandle = uint64_t;

class IoManager {
public:
    IoManager();
    ~IoManager();
    IoManager(const IoManager&) = delete;
    IoManager& operator=(const IoManager&) = delete;

    // ---- Drivers -------------------------------------------------------------------------------------------
    // A driver object whose every major function fails as Windows' default handler does.
    PDRIVER_OBJECT CreateDriverObject(std::u16string_view name);
    void DeleteDriverObject(PDRIVER_OBJECT driver);

    // ---- Namespace -----------------------------------------------------------------------------------------
    // A device by its name or by a symbolic link to it ("\DosDevices\X", "\??\X" and "\\.\X" are one name).
    PDEVICE_OBJECT FindDevice(std::u16string_view name) const;
    std::optional<std::u16string> LinkTarget(std::u16string_view link) const;
    PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device) const;

    // ---- Handles, as user mode opens them ------------------------------------------------------------------
    std::optional<FileHandle> Open(std::u16string_view path, NTSTATUS* status);
    NTSTATUS Close(FileHandle handle);
    std::size_t OpenHandles() const;
    // METHOD_BUFFERED as Windows does it: one system buffer of the larger length carries the input in and
    // Information bytes back to the caller's output, when there is one and the status is not an error.
    IoResult DeviceControl(FileHandle handle, ULONG code, const void* input, ULONG inputLength, void* output,
                           ULONG outputLength);

    // ---- Requests a kernel-mode sender builds --------------------------------------------------------------
    // Sends to the top of the stack the device belongs to and waits for the completion.
    IoResult Send(PDEVICE_OBJECT device, const IrpSetup& setup);

    // ---- Used by the NT routines ---------------------------------------------------------------------------
    NTSTATUS CreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name, DEVICE_TYPE type,
                          ULONG characteristics, BOOLEAN exclusive, PDEVICE_OBJECT* device);
    void DeleteDevice(PDEVICE_OBJECT device);
    NTSTATUS CreateLink(std::u16string_view link, std::u16string_view target);
    NTSTATUS DeleteLink(std::u16string_view link);
    PDEVICE_OBJECT Attach(PDEVICE_OBJECT source, PDEVICE_OBJECT target);
    void Detach(PDEVICE_OBJECT target);
    NTSTATUS CallDriver(PDEVICE_OBJECT device, PIRP irp);
    void CompleteRequest(PIRP irp);
    bool IsLive(PIRP irp) const;

    // Device interfaces, registered on a physical device object with an instance path.
    struct InterfaceProperty {
        DEVPROPTYPE type = 0;
        std::vector<uint8_t> data;
    };
    void SetInstancePath(PDEVICE_OBJECT physicalDevice, std::u16string_view instancePath);
    NTSTATUS RegisterInterface(PDEVICE_OBJECT physicalDevice, const GUID& interfaceClass, std::u16string* link);
    NTSTATUS SetInterfaceState(std::u16string_view link, bool enable);
    NTSTATUS SetInterfaceProperty(std::u16string_view link, const DEVPROPKEY& key, DEVPROPTYPE type,
                                  const void* data, ULONG size);
    bool InterfaceEnabled(std::u16string_view link) const;
    std::optional<InterfaceProperty> InterfacePropertyOf(std::u16string_view link, const DEVPROPKEY& key) const;

    // Remove locks: the tags each lock holds, so an unbalanced release shows.
    void RemoveLockInitialized(PIO_REMOVE_LOCK lock);
    void RemoveLockAcquired(PIO_REMOVE_LOCK lock, PVOID tag);
    bool RemoveLockReleased(PIO_REMOVE_LOCK lock, PVOID tag);
    std::size_t RemoveLockHeld(PIO_REMOVE_LOCK lock) const;

private:
    struct DriverRecord;
    struct FileRecord;

    // Builds the request in its record, sends it to the top of a stack and waits for its completion.
    IoResult Issue(std::shared_ptr<DeviceRecord> top, const IrpSetup& setup, std::unique_ptr<IrpRecord> record);
    void Finish(PIRP irp);
    std::shared_ptr<DeviceRecord> TopRecord(PDEVICE_OBJECT device) const;
    std::shared_ptr<DeviceRecord> TopRecordLocked(PDEVICE_OBJECT device) const;
    PDEVICE_OBJECT TopOfStackLocked(PDEVICE_OBJECT device) const;
    static std::u16string NormalizeName(std::u16string_view name);

    mutable std::mutex mutex_;
    // Shared with the driver's device objects: a handle to a device keeps its driver object as well.
    std::vector<std::shared_ptr<DriverRecord>> drivers_;
    std::unordered_map<PDEVICE_OBJECT, std::shared_ptr<DeviceRecord>> devices_;
    std::map<std::u16string, PDEVICE_OBJECT> names_;
    std::map<std::u16string, std::u16string> links_;
    std::unordered_map<FileHandle, std::unique_ptr<FileRecord>> files_;
    struct InterfaceRecord {
        std::u16string link;  // as returned to the driver
        std::u16string deviceName;
        bool enabled = false;
        std::map<std::pair<std::string, ULONG>, InterfaceProperty> properties;
    };
    std::map<std::u16string, InterfaceRecord> interfaces_;
    FileHandle nextHandle_ = 1;

    mutable std::mutex irpMutex_;
    // Requests out now, owned by their senders; few are out at once, so a scan beats a hash.
    std::vector<IrpRecord*> live_;
    // Requests still pending when their sender gave up waiting: kept, so a late completion lands in live memory.
    std::vector<std::unique_ptr<IrpRecord>> abandoned_;
    // Senders of pending requests wait here; a request completed before its dispatch returned needs no wait.
    std::condition_variable completion_;

    mutable std::mutex lockMutex_;
    // Tags held per lock; a vector, since holders come and go on every request and few are out at once.
    std::unordered_map<PIO_REMOVE_LOCK, std::vector<PVOID>> removeLocks_;
};

}  // namespace host
