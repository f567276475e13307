// Plug and Play requests: start (lower drivers first, then the chip), removal, and the pass-down rules of the
// other minor codes.
#include "OrvLED.h"

// {026E516E-B814-414B-83CD-856D6FEF4822}, 6: only privileged callers may open the interface.
const DEVPROPKEY DEVPKEY_DeviceInterface_Restricted = {
    {0x026E516E, 0xB814, 0x414B, {0x83, 0xCD, 0x85, 0x6D, 0x6F, 0xEF, 0x48, 0x22}}, 6};

namespace {

NTSTATUS PassDown(PDEVICE_EXTENSION Extension, PIRP Irp) {
    IoSkipCurrentIrpStackLocation(Irp);
    return IoCallDriver(Extension->m_LowerDeviceObject, Irp);
}

}  // namespace

// Stops completion at this driver's stack location; the waiting thread takes the request back.
NTSTATUS SyncCompletionRoutine(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(Irp);
    KeSetEvent((PKEVENT)Context, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// PASSIVE_LEVEL only: it may wait. The request belongs to the caller again when it returns.
NTSTATUS ForwardIrpSynchronous(PDEVICE_OBJECT LowerDeviceObject, PIRP Irp) {
    if (LowerDeviceObject == NULL) {
        return STATUS_INVALID_PARAMETER_1;
    }
    if (Irp == NULL) {
        return STATUS_INVALID_PARAMETER_2;
    }
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(Irp);
    IoSetCompletionRoutine(Irp, SyncCompletionRoutine, &event, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(LowerDeviceObject, Irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
        status = Irp->IoStatus.Status;
    }
    return status;
}

VOID CompleteRequest(PIRP Irp, NTSTATUS Status) {
    (void)IoSetCancelRoutine(Irp, NULL);
    Irp->IoStatus.Status = Status;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
}

NTSTATUS StartDevice(PDEVICE_EXTENSION Extension, PIRP Irp) {
    NTSTATUS status = ForwardIrpSynchronous(Extension->m_LowerDeviceObject, Irp);
    if (!NT_SUCCESS(status)) {
        status = STATUS_SUCCESS;  // the device starts whatever the lower drivers answered
    }
    if (!InitSuperIoChip(Extension)) {
        return STATUS_UNSUCCESSFUL;
    }
    // Under the spin lock: device-control requests read the count there.
    KIRQL oldIrql = KeAcquireSpinLockRaiseToDpc(&Extension->m_SpinLock);
    Extension->m_LEDCount = LED_PIN_COUNT;
    Extension->m_LEDStatus = 0;
    WriteGpioRegister(Extension, LED_GPIO1_DATA_REGISTER, 0x00);
    KeReleaseSpinLock(&Extension->m_SpinLock, oldIrql);

    if (Extension->m_InterfaceName.Buffer != NULL) {
        status = IoSetDeviceInterfaceState(&Extension->m_InterfaceName, TRUE);
        if (NT_SUCCESS(status)) {
            DEVPROP_BOOLEAN restricted = DEVPROP_TRUE;
            status = IoSetDeviceInterfacePropertyData(&Extension->m_InterfaceName, &DEVPKEY_DeviceInterface_Restricted,
                                                      0, 0, DEVPROP_TYPE_BOOLEAN, sizeof(restricted), &restricted);
        }
    }
    return status;
}

// Removal waits for the device-control requests still holding the remove lock before the device object goes;
// requests that come after are refused with the lock's status.
NTSTATUS RemoveDevice(PDEVICE_EXTENSION Extension, PIRP Irp) {
    NTSTATUS lockStatus = IoAcquireRemoveLockEx(&Extension->m_RemoveLock, Irp, "", 1, sizeof(IO_REMOVE_LOCK));

    UNICODE_STRING dosDeviceName;
    RtlInitUnicodeString(&dosDeviceName, LED_DOS_DEVICE_NAME);
    (void)IoDeleteSymbolicLink(&dosDeviceName);

    if (Extension->m_InterfaceName.Buffer != NULL) {
        // A failed disable does not stop the removal: the request must still reach the lower driver.
        (void)IoSetDeviceInterfaceState(&Extension->m_InterfaceName, FALSE);
        RtlFreeUnicodeString(&Extension->m_InterfaceName);
        Extension->m_InterfaceName.Length = 0;
        Extension->m_InterfaceName.MaximumLength = 0;
        Extension->m_InterfaceName.Buffer = NULL;
    }

    PDEVICE_OBJECT lowerDeviceObject = Extension->m_LowerDeviceObject;
    IoSkipCurrentIrpStackLocation(Irp);
    NTSTATUS status = IoCallDriver(lowerDeviceObject, Irp);
    if (!NT_SUCCESS(status)) {
        if (NT_SUCCESS(lockStatus)) {
            IoReleaseRemoveLockEx(&Extension->m_RemoveLock, Irp, sizeof(IO_REMOVE_LOCK));
        }
        return status;
    }

    if (NT_SUCCESS(lockStatus)) {
        IoReleaseRemoveLockAndWaitEx(&Extension->m_RemoveLock, Irp, sizeof(IO_REMOVE_LOCK));
    }
    if (Extension->m_LowerDeviceObject != NULL) {
        IoDetachDevice(Extension->m_LowerDeviceObject);
    }
    if (Extension->m_DeviceObject != NULL) {
        IoDeleteDevice(Extension->m_DeviceObject);
    }
    // A removal the lower driver pended is still in flight: its sender must wait for the completion.
    return status == STATUS_PENDING ? STATUS_PENDING : STATUS_SUCCESS;
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    NTSTATUS status;

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = StartDevice(extension, Irp);
        CompleteRequest(Irp, status);
        return status;

    case IRP_MN_REMOVE_DEVICE:
        // Success, unless the request is still pending below: then its sender must wait for it.
        return RemoveDevice(extension, Irp) == STATUS_PENDING ? STATUS_PENDING : STATUS_SUCCESS;

    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
        (void)ForwardIrpSynchronous(extension->m_LowerDeviceObject, Irp);
        CompleteRequest(Irp, STATUS_SUCCESS);
        return STATUS_SUCCESS;

    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_QUERY_CAPABILITIES:
    case IRP_MN_FILTER_RESOURCE_REQUIREMENTS:
    case IRP_MN_QUERY_PNP_DEVICE_STATE:
    case IRP_MN_DEVICE_USAGE_NOTIFICATION:
    case IRP_MN_SURPRISE_REMOVAL:
        Irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(extension, Irp);

    default:
        return PassDown(extension, Irp);
    }
}
