// Device-control requests: the five LED control codes, served one at a time under the device's remove lock and
// spin lock, and completed before the dispatch routine returns.
#include "OrvLED.h"

namespace {

const ULONG LED_IO_BUFFER_LENGTH = sizeof(LED_IO_BUFFER);

// What a successful set request reports. The I/O manager copies Information bytes of the system buffer back to
// the caller's output buffer, so it never exceeds a non-empty output buffer.
ULONG_PTR SetReplyLength(ULONG InputLength, ULONG OutputLength) {
    if (OutputLength != 0 && OutputLength < InputLength) {
        return OutputLength;
    }
    return InputLength;
}

// Runs under m_SpinLock at DISPATCH_LEVEL: no allocation, no wait.
NTSTATUS ServeRequest(PDEVICE_EXTENSION Extension, PIRP Irp, ULONG Code, ULONG InputLength, ULONG OutputLength) {
    PVOID buffer = Irp->AssociatedIrp.SystemBuffer;
    PLED_IO_BUFFER request = (PLED_IO_BUFFER)buffer;
    NTSTATUS status;
    UCHAR value;

    switch (Code) {
    case IOCTL_LED_GET_COUNT:
        Irp->IoStatus.Information = LED_COUNT_REPLY_LENGTH;
        if (OutputLength < LED_COUNT_REPLY_LENGTH) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        if (buffer == NULL) {
            return STATUS_BUFFER_ALL_ZEROS;
        }
        *(ULONG*)buffer = Extension->m_LEDCount;
        return STATUS_SUCCESS;

    case IOCTL_LED_GET_STATUS:
    case IOCTL_LED_GET_DIRECTION:
        Irp->IoStatus.Information = LED_IO_BUFFER_LENGTH;
        if (InputLength < LED_IO_BUFFER_LENGTH || OutputLength < LED_IO_BUFFER_LENGTH) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        if (buffer == NULL) {
            return STATUS_BUFFER_ALL_ZEROS;
        }
        value = 0;
        if (Code == IOCTL_LED_GET_STATUS) {
            status = GetLedStatus(Extension, request->Port, &value);
        } else {
            status = GetLedDirection(Extension, request->Port, &value);
        }
        if (!NT_SUCCESS(status)) {
            Irp->IoStatus.Information = 0;
            return status;
        }
        request->Value = value;
        return STATUS_SUCCESS;

    case IOCTL_LED_SET_STATUS:
    case IOCTL_LED_SET_DIRECTION:
        Irp->IoStatus.Information = LED_IO_BUFFER_LENGTH;
        if (InputLength < LED_IO_BUFFER_LENGTH) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        if (buffer == NULL) {
            if (Code == IOCTL_LED_SET_DIRECTION) {
                Irp->IoStatus.Information = SetReplyLength(InputLength, OutputLength);
            }
            return STATUS_BUFFER_ALL_ZEROS;
        }
        if (Code == IOCTL_LED_SET_STATUS) {
            status = SetLedStatus(Extension, request->Port, request->Value);
        } else {
            status = SetLedDirection(Extension, request->Port, request->Value);
        }
        if (!NT_SUCCESS(status)) {
            Irp->IoStatus.Information = 0;
            return status;
        }
        Irp->IoStatus.Information = SetReplyLength(InputLength, OutputLength);
        return STATUS_SUCCESS;

    default:
        return STATUS_INVALID_PARAMETER;
    }
}

}  // namespace

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;

    NTSTATUS status = IoAcquireRemoveLockEx(&extension->m_RemoveLock, Irp, "", 1, sizeof(IO_REMOVE_LOCK));
    if (!NT_SUCCESS(status)) {
        Irp->IoStatus.Information = 0;
        Irp->IoStatus.Status = status;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return status;
    }

    KIRQL oldIrql = KeAcquireSpinLockRaiseToDpc(&extension->m_SpinLock);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    Irp->IoStatus.Information = 0;
    status = ServeRequest(extension, Irp, code, inputLength, outputLength);
    KeReleaseSpinLock(&extension->m_SpinLock, oldIrql);

    IoReleaseRemoveLockEx(&extension->m_RemoveLock, Irp, sizeof(IO_REMOVE_LOCK));

    // Completed only once both locks are released, at the IRQL the routine was entered at.
    Irp->IoStatus.Status = status;
    IofCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}
