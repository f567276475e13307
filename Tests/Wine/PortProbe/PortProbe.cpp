// Test-only root-enumerated driver: reads the Super I/O chip ID at start with each IN/OUT form the trap decodes,
// to prove installation and port trapping under Wine independently of OrvLED.
// mingw-w64's DDK headers and its intrinsics header both define these two in C++.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

namespace {

typedef struct _PROBE_EXTENSION {
    PDEVICE_OBJECT LowerDevice;
} PROBE_EXTENSION, *PPROBE_EXTENSION;

void OutImmediate2E(UCHAR value) { __asm__ __volatile__("outb %0, $0x2E" : : "a"(value)); }
void OutDx(USHORT port, UCHAR value) { __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port)); }
UCHAR InDx(USHORT port)
{
    UCHAR value;
    __asm__ __volatile__("inb %1, %0" : "=a"(value) : "Nd"(port));
    return value;
}
UCHAR InImmediate2F()
{
    UCHAR value;
    __asm__ __volatile__("inb $0x2F, %0" : "=a"(value));
    return value;
}
USHORT InWordDx(USHORT port)
{
    USHORT value;
    __asm__ __volatile__("inw %1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

// Enter configuration mode, select the chip ID register, read it three ways, leave: eight port operations.
void ProbeChip()
{
    OutImmediate2E(0x87);
    OutDx(0x2E, 0x87);
    OutImmediate2E(0x20);
    const UCHAR byDx = InDx(0x2F);
    const USHORT word = InWordDx(0x2E); // index read-back in the low byte, data in the high byte
    const UCHAR byImmediate = InImmediate2F();
    OutDx(0x2E, 0xAA);
    DbgPrint("PortProbe: chip ID 0x%02X, word 0x%04X, immediate 0x%02X\n", byDx, word, byImmediate);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PPROBE_EXTENSION extension = (PPROBE_EXTENSION)DeviceObject->DeviceExtension;
    PDEVICE_OBJECT lower = extension->LowerDevice;
    const UCHAR minor = IoGetCurrentIrpStackLocation(Irp)->MinorFunction;
    if (minor == IRP_MN_START_DEVICE) {
        ProbeChip();
    }
    IoSkipCurrentIrpStackLocation(Irp);
    NTSTATUS status = IoCallDriver(lower, Irp);
    if (minor == IRP_MN_REMOVE_DEVICE) {
        DbgPrint("PortProbe: removed\n");
        IoDetachDevice(lower);
        IoDeleteDevice(DeviceObject);
    }
    return status;
}

NTSTATUS AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject)
{
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status =
        IoCreateDevice(DriverObject, sizeof(PROBE_EXTENSION), NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    PPROBE_EXTENSION extension = (PPROBE_EXTENSION)device->DeviceExtension;
    extension->LowerDevice = IoAttachDeviceToDeviceStack(device, PhysicalDeviceObject);
    if (extension->LowerDevice == NULL) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    DbgPrint("PortProbe: device added\n");
    return STATUS_SUCCESS;
}

void DriverUnload(PDRIVER_OBJECT DriverObject) { UNREFERENCED_PARAMETER(DriverObject); }

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    UNREFERENCED_PARAMETER(RegistryPath);
    DriverObject->DriverExtension->AddDevice = AddDevice;
    DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    DriverObject->DriverUnload = DriverUnload;
    DbgPrint("PortProbe: loaded\n");
    return STATUS_SUCCESS;
}
