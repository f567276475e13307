// OrvLED's frame: driver entry, device creation with its name, link and interface, open/close, and unload.
#include "OrvLED.h"

UNICODE_STRING g_RegistryPath = {0, 0, NULL};

const GUID GUID_DEVINTERFACE_LED = {0x83E78A1E, 0x5998, 0x4258, {0xB7, 0x28, 0x07, 0x44, 0x15, 0xD5, 0xCD, 0x99}};

// Open and close need no per-handle state: any number of handles may be open at once.
LED_PAGED_CODE NTSTATUS DispatchCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    UNREFERENCED_PARAMETER(DeviceObject);
    PAGED_CODE();
    Irp->IoStatus.Information = 0;
    Irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

namespace {

#define LED_RULE_LINE "////////////////////////////////////////////////////////////////////\n"

// Undoes a partly done AddDevice, newest step first, so that a later AddDevice can succeed.
VOID UndoAddDevice(PDEVICE_EXTENSION Extension, PUNICODE_STRING DosDeviceName, BOOLEAN LinkCreated) {
    if (Extension->m_InterfaceName.Buffer != NULL) {
        RtlFreeUnicodeString(&Extension->m_InterfaceName);
        Extension->m_InterfaceName.Length = 0;
        Extension->m_InterfaceName.MaximumLength = 0;
        Extension->m_InterfaceName.Buffer = NULL;
    }
    if (LinkCreated) {
        (void)IoDeleteSymbolicLink(DosDeviceName);
    }
    IoDeleteDevice(Extension->m_DeviceObject);
}

// Writes the Win32 form of the interface path ("\\.\..." instead of "\??\...") as "InterfaceName".
NTSTATUS PublishInterfaceName(PDEVICE_EXTENSION Extension) {
    USHORT size = Extension->m_InterfaceName.MaximumLength;
    PWCHAR copy = (PWCHAR)ExAllocatePoolWithTag(PagedPool, size, 1);
    if (copy == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(copy, size);
    RtlCopyMemory(copy, Extension->m_InterfaceName.Buffer, Extension->m_InterfaceName.Length);
    if (size >= 3 * sizeof(WCHAR)) {
        copy[1] = (WCHAR)'\\';
        copy[2] = (WCHAR)'.';
    }
    (void)RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, LED_SERVICE_KEY_PATH, LED_WIDE("InterfaceName"), REG_SZ, copy,
                                size);
    ExFreePoolWithTag(copy, 0);
    DbgPrint("Registered interface name: L\"%wZ\".\n\n", &Extension->m_InterfaceName);
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" LED_INIT_CODE NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    DbgPrint(LED_RULE_LINE);
    DbgPrint("// GLIM:     ----------------> DriverEntry! ---------------->     //\n");
    DbgPrint(LED_RULE_LINE);
    DbgPrint("DriverObject=0x%p, RegistryPath=\"%wZ\".\n\n", DriverObject, RegistryPath);

    g_RegistryPath.MaximumLength = (USHORT)(RegistryPath->Length + sizeof(WCHAR));
    g_RegistryPath.Length = RegistryPath->Length;
    g_RegistryPath.Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, g_RegistryPath.MaximumLength, LED_POOL_TAG);
    if (g_RegistryPath.Buffer == NULL) {
        DbgPrint("Failed to allocate %u bytes memory from paged pool.\n", (ULONG)g_RegistryPath.MaximumLength);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyUnicodeString(&g_RegistryPath, RegistryPath);

    DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    DriverObject->DriverUnload = DriverUnload;
    DriverObject->DriverExtension->AddDevice = AddDevice;
    DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    DriverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;

    DbgPrint(LED_RULE_LINE);
    DbgPrint("// GLIM:     <---------------- DriverEntry status = %X  <---------------- //\n", STATUS_SUCCESS);
    DbgPrint(LED_RULE_LINE "\n");
    return STATUS_SUCCESS;
}

NTSTATUS AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject) {
    UNICODE_STRING deviceName;
    UNICODE_STRING dosDeviceName;
    RtlInitUnicodeString(&deviceName, LED_DEVICE_NAME);
    RtlInitUnicodeString(&dosDeviceName, LED_DOS_DEVICE_NAME);

    PDEVICE_OBJECT deviceObject = NULL;
    NTSTATUS status = IoCreateDevice(DriverObject, sizeof(DEVICE_EXTENSION), &deviceName, FILE_DEVICE_UNKNOWN, 0,
                                     FALSE, &deviceObject);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)deviceObject->DeviceExtension;
    RtlZeroMemory(extension, sizeof(DEVICE_EXTENSION));
    extension->m_PhysicalDeviceObject = PhysicalDeviceObject;
    extension->m_DeviceObject = deviceObject;
    deviceObject->Flags |= DO_POWER_PAGABLE;
    deviceObject->Flags |= DO_DIRECT_IO;

    status = IoCreateSymbolicLink(&dosDeviceName, &deviceName);
    if (!NT_SUCCESS(status)) {
        UndoAddDevice(extension, &dosDeviceName, FALSE);
        return status;
    }

    status = IoRegisterDeviceInterface(PhysicalDeviceObject, &GUID_DEVINTERFACE_LED, NULL,
                                       &extension->m_InterfaceName);
    if (!NT_SUCCESS(status)) {
        DbgPrint("Failed to IoRegisterDeviceInterface - 0x%X.\n\n", status);
        UndoAddDevice(extension, &dosDeviceName, TRUE);
        return status;
    }

    status = PublishInterfaceName(extension);
    if (!NT_SUCCESS(status)) {
        UndoAddDevice(extension, &dosDeviceName, TRUE);
        return status;
    }

    extension->m_RegistryPath.Buffer = extension->m_RegistryPathBuffer;
    extension->m_RegistryPath.MaximumLength = LED_REGISTRY_PATH_BYTES;
    extension->m_RegistryPath.Length = 0;
    RtlCopyUnicodeString(&extension->m_RegistryPath, &g_RegistryPath);

    KeInitializeSpinLock(&extension->m_SpinLock);
    IoInitializeRemoveLockEx(&extension->m_RemoveLock, LED_POOL_TAG, LED_REMLOCK_MAX_MINUTES,
                             LED_REMLOCK_HIGH_WATERMARK, sizeof(IO_REMOVE_LOCK));

    // No request may ever be passed to a missing lower device.
    extension->m_LowerDeviceObject = IoAttachDeviceToDeviceStack(deviceObject, PhysicalDeviceObject);
    if (extension->m_LowerDeviceObject == NULL) {
        UndoAddDevice(extension, &dosDeviceName, TRUE);
        return STATUS_NO_SUCH_DEVICE;
    }

    deviceObject->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

LED_PAGED_CODE VOID DriverUnload(PDRIVER_OBJECT DriverObject) {
    PAGED_CODE();
    if (g_RegistryPath.Buffer != NULL) {
        ExFreePoolWithTag(g_RegistryPath.Buffer, 0);
        g_RegistryPath.Buffer = NULL;
    }

    UNICODE_STRING dosDeviceName;
    RtlInitUnicodeString(&dosDeviceName, LED_DOS_DEVICE_NAME);
    PDEVICE_OBJECT deviceObject = DriverObject->DeviceObject;
    while (deviceObject != NULL) {
        PDEVICE_OBJECT next = deviceObject->NextDevice;
        PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)deviceObject->DeviceExtension;
        (void)IoDeleteSymbolicLink(&dosDeviceName);
        if (extension->m_LowerDeviceObject != NULL) {
            IoDetachDevice(extension->m_LowerDeviceObject);
        }
        IoDeleteDevice(extension->m_DeviceObject);
        deviceObject = next;
    }
}
