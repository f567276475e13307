// Io and Po routines under their Windows names: objects, links, the device stack, stack locations, completion
// and remove locks, each with the checks Windows' verifier makes.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>

#include "IoManager.h"
#include "Kernel.h"
#include "NtKernel.h"
#include "Text.h"

using host::RequireAtMostDispatch;
using host::RequirePassive;
using host::Violate;

namespace {

host::IoManager& Io() { return host::Kernel::Current().Io(); }

// What the kernel tags its own allocations for drivers with ("IoIn").
constexpr ULONG kSystemTag = 'I' | ('o' << 8) | ('I' << 16) | ('n' << 24);

void CheckRemoveLockSize(ULONG size) {
    if (size != sizeof(IO_REMOVE_LOCK)) {
        Violate("REMOVE_LOCK_SIZE", "remove lock routine called with size " + std::to_string(size));
    }
}

}  // namespace

extern "C" {

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING DeviceName,
                        DEVICE_TYPE DeviceType, ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT* DeviceObject) {
    RequirePassive("IoCreateDevice");
    if (const NTSTATUS injected = host::Kernel::Current().Faults().Check("IoCreateDevice"); injected != 0) {
        return injected;
    }
    return Io().CreateDevice(DriverObject, DeviceExtensionSize, DeviceName, DeviceType, DeviceCharacteristics,
                             Exclusive, DeviceObject);
}

VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    RequirePassive("IoDeleteDevice");
    Io().DeleteDevice(DeviceObject);
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
    RequirePassive("IoCreateSymbolicLink");
    if (const NTSTATUS injected = host::Kernel::Current().Faults().Check("IoCreateSymbolicLink"); injected != 0) {
        return injected;
    }
    return Io().CreateLink(host::View(*SymbolicLinkName), host::View(*DeviceName));
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
    RequirePassive("IoDeleteSymbolicLink");
    if (const NTSTATUS injected = host::Kernel::Current().Faults().Check("IoDeleteSymbolicLink"); injected != 0) {
        return injected;
    }
    return Io().DeleteLink(host::View(*SymbolicLinkName));
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice) {
    RequireAtMostDispatch("IoAttachDeviceToDeviceStack");
    if (host::Kernel::Current().Faults().Check("IoAttachDeviceToDeviceStack") != 0) {
        return nullptr;
    }
    return Io().Attach(SourceDevice, TargetDevice);
}

VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice) {
    RequirePassive("IoDetachDevice");
    Io().Detach(TargetDevice);
}

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject, const GUID* InterfaceClassGuid,
                                   PUNICODE_STRING ReferenceString, PUNICODE_STRING SymbolicLinkName) {
    UNREFERENCED_PARAMETER(ReferenceString);
    RequirePassive("IoRegisterDeviceInterface");
    auto& kernel = host::Kernel::Current();
    if (const NTSTATUS injected = kernel.Faults().Check("IoRegisterDeviceInterface"); injected != 0) {
        return injected;
    }
    std::u16string link;
    const NTSTATUS status = kernel.Io().RegisterInterface(PhysicalDeviceObject, *InterfaceClassGuid, &link);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    // The caller frees the name with RtlFreeUnicodeString.
    const ULONG bytes = static_cast<ULONG>(link.size() * sizeof(WCHAR));
    auto* buffer = static_cast<PWSTR>(kernel.Memory().Allocate(PagedPool, bytes + sizeof(WCHAR), kSystemTag));
    std::memcpy(buffer, link.data(), bytes);
    buffer[link.size()] = 0;
    *SymbolicLinkName = UNICODE_STRING{static_cast<USHORT>(bytes), static_cast<USHORT>(bytes + sizeof(WCHAR)), buffer};
    return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable) {
    RequirePassive("IoSetDeviceInterfaceState");
    if (const NTSTATUS injected = host::Kernel::Current().Faults().Check("IoSetDeviceInterfaceState"); injected != 0) {
        return injected;
    }
    return Io().SetInterfaceState(host::View(*SymbolicLinkName), Enable != FALSE);
}

NTSTATUS IoSetDeviceInterfacePropertyData(PUNICODE_STRING SymbolicLinkName, const DEVPROPKEY* PropertyKey, LCID Lcid,
                                          ULONG Flags, DEVPROPTYPE Type, ULONG Size, PVOID Data) {
    UNREFERENCED_PARAMETER(Lcid);
    UNREFERENCED_PARAMETER(Flags);
    RequirePassive("IoSetDeviceInterfacePropertyData");
    if (const NTSTATUS injected = host::Kernel::Current().Faults().Check("IoSetDeviceInterfacePropertyData");
        injected != 0) {
        return injected;
    }
    return Io().SetInterfaceProperty(host::View(*SymbolicLinkName), *PropertyKey, Type, Data, Size);
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    if (DeviceObject == nullptr) {
        Violate("CALL_TO_NULL_DEVICE", "IoCallDriver with no device object");
        return STATUS_INVALID_PARAMETER;
    }
    return Io().CallDriver(DeviceObject, Irp);
}

VOID IofCompleteRequest(PIRP Irp, CHAR PriorityBoost) {
    UNREFERENCED_PARAMETER(PriorityBoost);
    Io().CompleteRequest(Irp);
}

PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp) { return Irp->Tail.Overlay.CurrentStackLocation; }

PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp) {
    if (Irp->CurrentLocation <= 1) {
        Violate("NO_MORE_IRP_STACK_LOCATIONS", "IoGetNextIrpStackLocation at the lowest stack location");
    }
    return Irp->Tail.Overlay.CurrentStackLocation - 1;
}

VOID IoSkipCurrentIrpStackLocation(PIRP Irp) {
    if (Irp->CurrentLocation > Irp->StackCount) {
        Violate("IRP_STACK_SKIPPED_PAST_TOP", "IoSkipCurrentIrpStackLocation with no current location");
    }
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
}

VOID IoCopyCurrentIrpStackLocationToNext(PIRP Irp) {
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    // Everything before the completion routine; the next driver's control flags start clear.
    std::memcpy(static_cast<void*>(next), current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
    next->Control = 0;
}

VOID IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context, BOOLEAN InvokeOnSuccess,
                            BOOLEAN InvokeOnError, BOOLEAN InvokeOnCancel) {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    next->CompletionRoutine = CompletionRoutine;
    next->Context = Context;
    next->Control = 0;
    if (InvokeOnSuccess) {
        next->Control |= SL_INVOKE_ON_SUCCESS;
    }
    if (InvokeOnError) {
        next->Control |= SL_INVOKE_ON_ERROR;
    }
    if (InvokeOnCancel) {
        next->Control |= SL_INVOKE_ON_CANCEL;
    }
}

VOID IoMarkIrpPending(PIRP Irp) { IoGetCurrentIrpStackLocation(Irp)->Control |= SL_PENDING_RETURNED; }

PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine) {
    return std::atomic_ref<PDRIVER_CANCEL>(Irp->CancelRoutine).exchange(CancelRoutine);
}

// ---- Remove locks: the free build's semantics, with the checked build's tag accounting ----------------------

VOID IoInitializeRemoveLockEx(PIO_REMOVE_LOCK Lock, ULONG AllocateTag, ULONG MaxLockedMinutes, ULONG HighWatermark,
                              ULONG RemlockSize) {
    UNREFERENCED_PARAMETER(AllocateTag);
    UNREFERENCED_PARAMETER(MaxLockedMinutes);
    UNREFERENCED_PARAMETER(HighWatermark);
    CheckRemoveLockSize(RemlockSize);
    Lock->Common.Removed = FALSE;
    std::atomic_ref<LONG>(Lock->Common.IoCount).store(1);
    KeInitializeEvent(&Lock->Common.RemoveEvent, SynchronizationEvent, FALSE);
    Io().RemoveLockInitialized(Lock);
}

NTSTATUS IoAcquireRemoveLockEx(PIO_REMOVE_LOCK RemoveLock, PVOID Tag, PCSTR File, ULONG Line, ULONG RemlockSize) {
    UNREFERENCED_PARAMETER(File);
    UNREFERENCED_PARAMETER(Line);
    RequireAtMostDispatch("IoAcquireRemoveLockEx");
    CheckRemoveLockSize(RemlockSize);
    std::atomic_ref<LONG> count(RemoveLock->Common.IoCount);
    count.fetch_add(1);
    if (!std::atomic_ref<BOOLEAN>(RemoveLock->Common.Removed).load()) {
        Io().RemoveLockAcquired(RemoveLock, Tag);
        return STATUS_SUCCESS;
    }
    if (count.fetch_sub(1) - 1 == 0) {
        KeSetEvent(&RemoveLock->Common.RemoveEvent, IO_NO_INCREMENT, FALSE);
    }
    return STATUS_DELETE_PENDING;
}

VOID IoReleaseRemoveLockEx(PIO_REMOVE_LOCK RemoveLock, PVOID Tag, ULONG RemlockSize) {
    RequireAtMostDispatch("IoReleaseRemoveLockEx");
    CheckRemoveLockSize(RemlockSize);
    if (!Io().RemoveLockReleased(RemoveLock, Tag)) {
        Violate("REMOVE_LOCK_RELEASED_MORE_THAN_ACQUIRED", "IoReleaseRemoveLockEx with a tag the lock does not hold");
        return;
    }
    if (std::atomic_ref<LONG>(RemoveLock->Common.IoCount).fetch_sub(1) - 1 == 0) {
        KeSetEvent(&RemoveLock->Common.RemoveEvent, IO_NO_INCREMENT, FALSE);
    }
}

VOID IoReleaseRemoveLockAndWaitEx(PIO_REMOVE_LOCK RemoveLock, PVOID Tag, ULONG RemlockSize) {
    RequirePassive("IoReleaseRemoveLockAndWaitEx");
    CheckRemoveLockSize(RemlockSize);
    if (!Io().RemoveLockReleased(RemoveLock, Tag)) {
        Violate("REMOVE_LOCK_RELEASED_MORE_THAN_ACQUIRED",
                "IoReleaseRemoveLockAndWaitEx with a tag the lock does not hold");
        return;
    }
    std::atomic_ref<BOOLEAN>(RemoveLock->Common.Removed).store(TRUE);
    std::atomic_ref<LONG> count(RemoveLock->Common.IoCount);
    count.fetch_sub(1);  // the caller's own acquisition
    if (count.fetch_sub(1) - 1 > 0) {  // the bias of one the lock was born with
        KeWaitForSingleObject(&RemoveLock->Common.RemoveEvent, Executive, KernelMode, FALSE, nullptr);
    }
    if (Io().RemoveLockHeld(RemoveLock) != 0) {
        Violate("REMOVE_LOCK_HELD_AFTER_WAIT", "a remove lock still holds tags after IoReleaseRemoveLockAndWaitEx");
    }
}

// ---- Po ------------------------------------------------------------------------------------------------------

VOID PoStartNextPowerIrp(PIRP Irp) {
    UNREFERENCED_PARAMETER(Irp);
    host::Kernel::Current().CountPowerIrpStarted();
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) { return IofCallDriver(DeviceObject, Irp); }

}  // extern "C"
