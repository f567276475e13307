// The stand-in I/O manager: objects and names, handles, and the building, sending and completion of requests.
#include "IoManager.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>

#include "IoRecords.h"
#include "Kernel.h"
#include "Poison.h"
#include "Text.h"

namespace host {
namespace {

NTSTATUS InvalidDeviceRequest(PDEVICE_OBJECT device, PIRP irp) {
    UNREFERENCED_PARAMETER(device);
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

// A driver that never completes a request it pended hangs its caller on Windows; here the test fails instead.
constexpr auto kCompletionLimit = std::chrono::seconds(30);

}  // namespace

struct IoManager::DriverRecord {
    DRIVER_OBJECT object{};
    DRIVER_EXTENSION extension{};
    std::u16string name;
};

struct IoManager::FileRecord {
    std::shared_ptr<DeviceRecord> device;
};

IoManager::IoManager() = default;

IoManager::~IoManager() = default;

// ---- Drivers ------------------------------------------------------------------------------------------------

PDRIVER_OBJECT IoManager::CreateDriverObject(std::u16string_view name) {
    auto record = std::make_shared<DriverRecord>();
    record->name = name;
    record->object.Type = 4;
    record->object.Size = sizeof(DRIVER_OBJECT);
    record->object.DriverExtension = &record->extension;
    record->extension.DriverObject = &record->object;
    record->object.DriverName = UNICODE_STRING{static_cast<USHORT>(record->name.size() * 2),
                                               static_cast<USHORT>(record->name.size() * 2), record->name.data()};
    for (auto& entry : record->object.MajorFunction) {
        entry = InvalidDeviceRequest;
    }
    PDRIVER_OBJECT driver = &record->object;
    std::lock_guard lock(mutex_);
    drivers_.push_back(std::move(record));
    return driver;
}

// The object goes with the last device object that refers to it: a handle that outlives the unload still
// reaches the driver's close routine, as Windows keeps an unloading driver until its devices are unreferenced.
void IoManager::DeleteDriverObject(PDRIVER_OBJECT driver) {
    std::lock_guard lock(mutex_);
    std::erase_if(drivers_, [driver](const auto& record) { return &record->object == driver; });
}

// ---- Namespace ----------------------------------------------------------------------------------------------

std::u16string IoManager::NormalizeName(std::u16string_view name) {
    std::u16string folded = UpperAscii(name);
    for (std::u16string_view alias : {u"\\DOSDEVICES\\", u"\\\\.\\", u"\\\\?\\", u"\\GLOBAL??\\"}) {
        if (folded.starts_with(alias)) {
            return u"\\??\\" + folded.substr(alias.size());
        }
    }
    return folded;
}

PDEVICE_OBJECT IoManager::FindDevice(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    std::u16string key = NormalizeName(name);
    for (int hops = 0; hops < 8; ++hops) {
        if (auto device = names_.find(key); device != names_.end()) {
            return device->second;
        }
        auto link = links_.find(key);
        if (link == links_.end()) {
            return nullptr;
        }
        key = NormalizeName(link->second);
    }
    return nullptr;
}

std::optional<std::u16string> IoManager::LinkTarget(std::u16string_view link) const {
    std::lock_guard lock(mutex_);
    auto it = links_.find(NormalizeName(link));
    if (it == links_.end()) {
        return std::nullopt;
    }
    return it->second;
}

PDEVICE_OBJECT IoManager::TopOfStack(PDEVICE_OBJECT device) const {
    std::lock_guard lock(mutex_);
    return TopOfStackLocked(device);
}

PDEVICE_OBJECT IoManager::TopOfStackLocked(PDEVICE_OBJECT device) const {
    while (device->AttachedDevice != nullptr) {
        device = device->AttachedDevice;
    }
    return device;
}

std::shared_ptr<DeviceRecord> IoManager::TopRecord(PDEVICE_OBJECT device) const {
    std::lock_guard lock(mutex_);
    return TopRecordLocked(device);
}

// Under mutex_, so that the top device cannot be deleted before its reference is taken.
std::shared_ptr<DeviceRecord> IoManager::TopRecordLocked(PDEVICE_OBJECT device) const {
    return RecordOf(TopOfStackLocked(device))->shared_from_this();
}

NTSTATUS IoManager::CreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name, DEVICE_TYPE type,
                                 ULONG characteristics, BOOLEAN exclusive, PDEVICE_OBJECT* device) {
    auto record = std::make_shared<DeviceRecord>();
    if (name != nullptr && name->Buffer != nullptr) {
        record->name = NormalizeName(View(*name));
    }
    record->extension = std::make_unique<std::max_align_t[]>(
        (extensionSize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t) + 1);
    std::memset(record->extension.get(), 0, extensionSize);
    DEVICE_OBJECT& object = record->object;
    object.Type = 3;
    object.Size = sizeof(DEVICE_OBJECT);
    object.DriverObject = driver;
    object.Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
    object.Characteristics = characteristics;
    object.DeviceExtension = extensionSize == 0 ? nullptr : record->extension.get();
    object.DeviceType = type;
    object.StackSize = 1;
    object.DeviceObjectExtension = reinterpret_cast<struct _DEVOBJ_EXTENSION*>(record.get());

    std::lock_guard lock(mutex_);
    if (!record->name.empty() && (names_.count(record->name) != 0 || links_.count(record->name) != 0)) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    // The device object holds its driver object (see DeleteDriverObject).
    const auto owner = std::find_if(drivers_.begin(), drivers_.end(),
                                    [driver](const auto& candidate) { return &candidate->object == driver; });
    if (owner != drivers_.end()) {
        record->driver = *owner;
    }
    if (!record->name.empty()) {
        names_[record->name] = &object;
    }
    object.NextDevice = driver->DeviceObject;
    driver->DeviceObject = &object;
    devices_[&object] = std::move(record);
    *device = &object;
    return STATUS_SUCCESS;
}

void IoManager::DeleteDevice(PDEVICE_OBJECT device) {
    std::shared_ptr<DeviceRecord> released;  // freed, if nothing else holds it, after the lock
    std::lock_guard lock(mutex_);
    auto it = devices_.find(device);
    if (it == devices_.end()) {
        Violate("DEVICE_DELETED_TWICE", "IoDeleteDevice of a device object that does not exist");
        return;
    }
    DeviceRecord& record = *it->second;
    if (record.attachedTo != nullptr) {
        Violate("DELETED_DEVICE_STILL_ATTACHED", "IoDeleteDevice of a device still attached to a lower device");
    }
    if (device->AttachedDevice != nullptr) {
        Violate("DELETED_DEVICE_STILL_ATTACHED", "IoDeleteDevice of a device another device is attached to");
    }
    for (PDEVICE_OBJECT* link = &device->DriverObject->DeviceObject; *link != nullptr; link = &(*link)->NextDevice) {
        if (*link == device) {
            *link = device->NextDevice;
            break;
        }
    }
    if (!record.name.empty()) {
        names_.erase(record.name);
    }
    // cppcheck-suppress unreadVariable ; its destructor is the use, after the lock
    released = std::move(it->second);
    devices_.erase(it);
}

NTSTATUS IoManager::CreateLink(std::u16string_view link, std::u16string_view target) {
    std::lock_guard lock(mutex_);
    std::u16string key = NormalizeName(link);
    if (links_.count(key) != 0 || names_.count(key) != 0) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    links_[key] = NormalizeName(target);
    return STATUS_SUCCESS;
}

NTSTATUS IoManager::DeleteLink(std::u16string_view link) {
    std::lock_guard lock(mutex_);
    return links_.erase(NormalizeName(link)) != 0 ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

PDEVICE_OBJECT IoManager::Attach(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
    std::lock_guard lock(mutex_);
    if (devices_.count(target) == 0) {
        return nullptr;
    }
    PDEVICE_OBJECT top = target;
    while (top->AttachedDevice != nullptr) {
        top = top->AttachedDevice;
    }
    top->AttachedDevice = source;
    source->StackSize = static_cast<CHAR>(top->StackSize + 1);
    RecordOf(source)->attachedTo = top;
    return top;
}

void IoManager::Detach(PDEVICE_OBJECT target) {
    std::lock_guard lock(mutex_);
    PDEVICE_OBJECT source = target->AttachedDevice;
    if (source == nullptr) {
        Violate("DETACH_OF_UNATTACHED_DEVICE", "IoDetachDevice of a device nothing is attached to");
        return;
    }
    target->AttachedDevice = nullptr;
    RecordOf(source)->attachedTo = nullptr;
}

// ---- Handles ------------------------------------------------------------------------------------------------

std::optional<FileHandle> IoManager::Open(std::u16string_view path, NTSTATUS* status) {
    PDEVICE_OBJECT device = FindDevice(path);
    if (device == nullptr) {
        *status = STATUS_OBJECT_NAME_NOT_FOUND;
        return std::nullopt;
    }
    auto file = std::make_unique<FileRecord>();
    {
        std::lock_guard lock(mutex_);
        auto record = devices_.find(device);
        if (record == devices_.end() || (device->Flags & DO_DEVICE_INITIALIZING) != 0) {
            *status = STATUS_NO_SUCH_DEVICE;  // the system does not open a device still being set up
            return std::nullopt;
        }
        file->device = record->second;
    }
    IrpSetup create;
    create.location.MajorFunction = IRP_MJ_CREATE;
    create.location.FileObject = file.get();
    const IoResult result = Send(device, create);
    *status = result.status;
    if (!NT_SUCCESS(result.status)) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const FileHandle handle = nextHandle_++;
    files_[handle] = std::move(file);
    return handle;
}

NTSTATUS IoManager::Close(FileHandle handle) {
    std::unique_ptr<FileRecord> file;
    {
        std::lock_guard lock(mutex_);
        auto it = files_.find(handle);
        if (it == files_.end()) {
            return STATUS_INVALID_HANDLE;
        }
        file = std::move(it->second);
        files_.erase(it);
    }
    for (UCHAR major : {UCHAR{IRP_MJ_CLEANUP}, UCHAR{IRP_MJ_CLOSE}}) {
        IrpSetup setup;
        setup.location.MajorFunction = major;
        setup.location.FileObject = file.get();
        (void)Send(&file->device->object, setup);
    }
    return STATUS_SUCCESS;
}

std::size_t IoManager::OpenHandles() const {
    std::lock_guard lock(mutex_);
    return files_.size();
}

IoResult IoManager::DeviceControl(FileHandle handle, ULONG code, const void* input, ULONG inputLength, void* output,
                                  ULONG outputLength) {
    IrpSetup setup;
    std::shared_ptr<DeviceRecord> top;
    {
        std::lock_guard lock(mutex_);
        auto it = files_.find(handle);
        if (it == files_.end()) {
            return IoResult{STATUS_INVALID_HANDLE, 0, STATUS_INVALID_HANDLE};
        }
        setup.location.FileObject = it->second.get();
        top = TopRecordLocked(&it->second->device->object);
    }
    auto record = std::make_unique<IrpRecord>();
    record->userOutput = output;
    setup.location.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    setup.location.Parameters.DeviceIoControl.IoControlCode = code;
    setup.location.Parameters.DeviceIoControl.InputBufferLength = inputLength;
    setup.location.Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    if ((code & 3) == METHOD_BUFFERED) {
        const ULONG length = std::max(inputLength, outputLength);
        if (length > IrpRecord::kInlineBuffer) {
            record->largeBuffer = std::make_unique<std::byte[]>(length);
            setup.systemBuffer = record->largeBuffer.get();
        } else if (length != 0) {
            setup.systemBuffer = record->inlineBuffer.data();
        }
        if (inputLength != 0) {
            std::memcpy(setup.systemBuffer, input, inputLength);
        }
        record->buffered = true;
        record->outputLength = outputLength;
    } else {
        setup.location.Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void*>(input);
    }
    return Issue(std::move(top), setup, std::move(record));
}

// ---- Requests -----------------------------------------------------------------------------------------------

IoResult IoManager::Send(PDEVICE_OBJECT device, const IrpSetup& setup) {
    return Issue(TopRecord(device), setup, std::make_unique<IrpRecord>());
}

IoResult IoManager::Issue(std::shared_ptr<DeviceRecord> top, const IrpSetup& setup,
                          std::unique_ptr<IrpRecord> record) {
    PDEVICE_OBJECT device = &top->object;
    record->target = std::move(top);
    const std::size_t stackSize = static_cast<unsigned char>(device->StackSize);  // 1 and up: one per driver
    IO_STACK_LOCATION* stack = record->inlineStack.data();
    if (stackSize > IrpRecord::kInlineStack) {
        record->largeStack = std::make_unique<IO_STACK_LOCATION[]>(stackSize);
        stack = record->largeStack.get();
    }
    IRP& irp = record->irp;
    irp.Type = 6;
    irp.Size = sizeof(IRP);
    irp.StackCount = static_cast<CHAR>(stackSize);
    irp.CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp.Tail.Overlay.CurrentStackLocation = stack + stackSize;  // one past the top, as Windows does
    irp.AssociatedIrp.SystemBuffer = setup.systemBuffer;
    irp.UserBuffer = record->userOutput;
    irp.IoStatus.Status = setup.initialStatus;
    irp.RequestorMode = KernelMode;
    stack[stackSize - 1] = setup.location;
    stack[stackSize - 1].Control = 0;
    stack[stackSize - 1].CompletionRoutine = nullptr;
    {
        std::lock_guard lock(irpMutex_);
        live_.push_back(record.get());
    }

    IoResult result;
    result.returned = IofCallDriver(device, &irp);

    if (!record->done.load(std::memory_order_acquire)) {
        if (result.returned != STATUS_PENDING) {
            Violate("IRP_NOT_COMPLETED", "a dispatch routine returned " + Hex(static_cast<ULONG>(result.returned)) +
                                             " without completing the request or returning STATUS_PENDING");
        }
        std::unique_lock lock(irpMutex_);
        if (!completion_.wait_for(lock, kCompletionLimit,
                                  [&record] { return record->done.load(std::memory_order_acquire); })) {
            Violate("IRP_NEVER_COMPLETED", "a pending request was not completed");
            abandoned_.push_back(std::move(record));  // a completion may still come
            return result;
        }
    }
    result.status = record->status;
    result.information = record->information;
    return result;  // the record, and with it the request, goes here
}

bool IoManager::IsLive(PIRP irp) const {
    std::lock_guard lock(irpMutex_);
    return std::any_of(live_.begin(), live_.end(), [irp](const IrpRecord* record) { return &record->irp == irp; });
}

NTSTATUS IoManager::CallDriver(PDEVICE_OBJECT device, PIRP irp) {
    if (!IsLive(irp)) {
        Violate("IRP_TOUCHED_AFTER_COMPLETION", "IoCallDriver with a request that was completed");
        return STATUS_INVALID_PARAMETER;
    }
    const KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        Violate("IRQL_NOT_LESS_OR_EQUAL", "IoCallDriver at IRQL " + std::to_string(irql));
    }
    if (irp->CurrentLocation <= 1) {
        Violate("NO_MORE_IRP_STACK_LOCATIONS", "IoCallDriver with no stack location left for the next driver");
        return STATUS_INVALID_PARAMETER;
    }
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION location = irp->Tail.Overlay.CurrentStackLocation;
    location->DeviceObject = device;
    // A reference on the device for the length of the call, as the object manager holds one.
    // cppcheck-suppress unreadVariable ; held for its reference, not read
    std::shared_ptr<DeviceRecord> hold = RecordOf(device)->shared_from_this();
    const int spinLocks = SpinLocksHeld();
    const UCHAR major = location->MajorFunction;
    const NTSTATUS status = device->DriverObject->MajorFunction[major](device, irp);
    if (KeGetCurrentIrql() != irql) {
        Violate("IRQL_CHANGED_BY_DISPATCH", "major function " + std::to_string(major) + " returned at IRQL " +
                                                std::to_string(KeGetCurrentIrql()) + ", entered at " +
                                                std::to_string(irql));
    }
    if (SpinLocksHeld() != spinLocks) {
        Violate("SPIN_LOCK_HELD_ON_RETURN", "major function " + std::to_string(major) + " returned holding a spin lock");
    }
    return status;
}

void IoManager::CompleteRequest(PIRP irp) {
    if (!IsLive(irp)) {
        Violate("IRP_COMPLETED_TWICE", "IoCompleteRequest of a request that was completed already");
        return;
    }
    RequireAtMostDispatch("IoCompleteRequest");
    if (irp->IoStatus.Status == STATUS_PENDING) {
        Violate("IRP_COMPLETED_WITH_STATUS_PENDING", "IoCompleteRequest with STATUS_PENDING as the status");
    }
    if (irp->CurrentLocation > irp->StackCount) {
        Violate("IRP_COMPLETED_TWICE", "IoCompleteRequest of a request no driver holds");
        return;
    }
    for (;;) {
        PIO_STACK_LOCATION location = irp->Tail.Overlay.CurrentStackLocation;
        irp->CurrentLocation++;
        irp->Tail.Overlay.CurrentStackLocation++;
        irp->PendingReturned = (location->Control & SL_PENDING_RETURNED) != 0;
        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke = location->CompletionRoutine != nullptr &&
                            ((NT_SUCCESS(status) && (location->Control & SL_INVOKE_ON_SUCCESS) != 0) ||
                             (!NT_SUCCESS(status) && (location->Control & SL_INVOKE_ON_ERROR) != 0) ||
                             (irp->Cancel && (location->Control & SL_INVOKE_ON_CANCEL) != 0));
        const auto routine = location->CompletionRoutine;
        const auto context = location->Context;
        location->MinorFunction = 0;
        location->Flags = 0;
        location->Control = 0;
        location->CompletionRoutine = nullptr;
        location->Context = nullptr;
        location->FileObject = nullptr;
        const bool atTop = irp->CurrentLocation > irp->StackCount;
        if (invoke) {
            PDEVICE_OBJECT upper = atTop ? nullptr : irp->Tail.Overlay.CurrentStackLocation->DeviceObject;
            if (routine(upper, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) {
                return;  // the routine's driver owns the request again
            }
        } else if (irp->PendingReturned && !atTop) {
            irp->Tail.Overlay.CurrentStackLocation->Control |= SL_PENDING_RETURNED;
        }
        if (atTop) {
            break;
        }
    }
    Finish(irp);
}

void IoManager::Finish(PIRP irp) {
    std::shared_ptr<DeviceRecord> target;  // released after the lock: it may be the device's last reference
    {
        std::lock_guard lock(irpMutex_);
        const auto it = std::find_if(live_.begin(), live_.end(),
                                     [irp](const IrpRecord* record) { return &record->irp == irp; });
        if (it == live_.end()) {  // another thread completed it in the meantime
            Violate("IRP_COMPLETED_TWICE", "IoCompleteRequest of a request that was completed already");
            return;
        }
        IrpRecord& record = **it;
        *it = live_.back();
        live_.pop_back();

        const NTSTATUS status = irp->IoStatus.Status;
        const ULONG_PTR information = irp->IoStatus.Information;
        if (record.buffered && !NT_ERROR(status) && record.outputLength != 0 && record.userOutput != nullptr) {
            ULONG_PTR copy = information;
            if (information > record.outputLength) {
                Violate("BUFFERED_INFORMATION_ABOVE_OUTPUT_LENGTH",
                        "Information " + std::to_string(information) + " above the output length " +
                            std::to_string(record.outputLength) + " of a buffered request");
                copy = record.outputLength;
            }
            const std::byte* systemBuffer = record.largeBuffer ? record.largeBuffer.get() : record.inlineBuffer.data();
            std::memcpy(record.userOutput, systemBuffer, copy);
        }
        // The request ends here for every driver: a late touch of it is a use after free.
        record.largeStack.reset();
        record.largeBuffer.reset();
        Poison(&record.irp, record.RequestBytes());
        target = std::move(record.target);
        record.status = status;
        record.information = information;
        // From here the sender may free the record.
        record.done.store(true, std::memory_order_release);
    }
    completion_.notify_all();  // a sender whose request went pending waits for this
}

// ---- Device interfaces --------------------------------------------------------------------------------------

namespace {
std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}
}  // namespace

void IoManager::SetInstancePath(PDEVICE_OBJECT physicalDevice, std::u16string_view instancePath) {
    std::lock_guard lock(mutex_);
    RecordOf(physicalDevice)->instancePath = instancePath;
}

NTSTATUS IoManager::RegisterInterface(PDEVICE_OBJECT physicalDevice, const GUID& interfaceClass,
                                      std::u16string* link) {
    std::lock_guard lock(mutex_);
    if (devices_.count(physicalDevice) == 0 || RecordOf(physicalDevice)->instancePath.empty()) {
        return STATUS_INVALID_DEVICE_REQUEST;  // only a bus's physical device object has an interface
    }
    const DeviceRecord& pdo = *RecordOf(physicalDevice);
    // The form Windows uses: "\??\" and the instance path with '#' for '\', then the class.
    std::u16string name = u"\\??\\" + pdo.instancePath + u"#" + ToUtf16(GuidText(interfaceClass));
    std::replace(name.begin() + 4, name.end(), u'\\', u'#');
    auto [it, added] = interfaces_.try_emplace(NormalizeName(name));
    if (added) {
        it->second.link = name;
        it->second.deviceName = pdo.name;
    }
    *link = it->second.link;
    return STATUS_SUCCESS;
}

NTSTATUS IoManager::SetInterfaceState(std::u16string_view link, bool enable) {
    std::lock_guard lock(mutex_);
    auto it = interfaces_.find(NormalizeName(link));
    if (it == interfaces_.end()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    InterfaceRecord& record = it->second;
    if (record.enabled == enable) {
        return enable ? STATUS_OBJECT_NAME_EXISTS : STATUS_OBJECT_NAME_NOT_FOUND;
    }
    record.enabled = enable;
    if (enable) {
        links_[it->first] = record.deviceName;  // clients open the interface path
    } else {
        links_.erase(it->first);
    }
    return STATUS_SUCCESS;
}

NTSTATUS IoManager::SetInterfaceProperty(std::u16string_view link, const DEVPROPKEY& key, DEVPROPTYPE type,
                                         const void* data, ULONG size) {
    std::lock_guard lock(mutex_);
    auto it = interfaces_.find(NormalizeName(link));
    if (it == interfaces_.end()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    InterfaceProperty property{type, {}};
    const auto* bytes = static_cast<const uint8_t*>(data);
    property.data.assign(bytes, bytes + size);
    it->second.properties[{GuidText(key.fmtid), key.pid}] = std::move(property);
    return STATUS_SUCCESS;
}

bool IoManager::InterfaceEnabled(std::u16string_view link) const {
    std::lock_guard lock(mutex_);
    auto it = interfaces_.find(NormalizeName(link));
    return it != interfaces_.end() && it->second.enabled;
}

std::optional<IoManager::InterfaceProperty> IoManager::InterfacePropertyOf(std::u16string_view link,
                                                                           const DEVPROPKEY& key) const {
    std::lock_guard lock(mutex_);
    auto it = interfaces_.find(NormalizeName(link));
    if (it == interfaces_.end()) {
        return std::nullopt;
    }
    auto property = it->second.properties.find({GuidText(key.fmtid), key.pid});
    if (property == it->second.properties.end()) {
        return std::nullopt;
    }
    return property->second;
}

// ---- Remove locks -------------------------------------------------------------------------------------------

void IoManager::RemoveLockInitialized(PIO_REMOVE_LOCK lock) {
    std::lock_guard guard(lockMutex_);
    removeLocks_[lock].clear();
}

void IoManager::RemoveLockAcquired(PIO_REMOVE_LOCK lock, PVOID tag) {
    std::lock_guard guard(lockMutex_);
    removeLocks_[lock].push_back(tag);
}

bool IoManager::RemoveLockReleased(PIO_REMOVE_LOCK lock, PVOID tag) {
    std::lock_guard guard(lockMutex_);
    auto held = removeLocks_.find(lock);
    if (held == removeLocks_.end()) {
        return false;
    }
    std::vector<PVOID>& tags = held->second;
    auto it = std::find(tags.rbegin(), tags.rend(), tag);  // the newest holder is the likeliest
    if (it == tags.rend()) {
        return false;
    }
    *it = tags.back();
    tags.pop_back();
    return true;
}

std::size_t IoManager::RemoveLockHeld(PIO_REMOVE_LOCK lock) const {
    std::lock_guard guard(lockMutex_);
    auto held = removeLocks_.find(lock);
    return held == removeLocks_.end() ? 0 : held->second.size();
}

}  // namespace host
