// OrvLED: the per-device record, the identity constants and the routines every part of the driver shares.
#pragma once

#include "LedIoctl.h"
#include "Platform.h"

// ---- Identity ---------------------------------------------------------------------------------

#define LED_DEVICE_NAME LED_WIDE("\\Device\\OrvLED")
#define LED_DOS_DEVICE_NAME LED_WIDE("\\DosDevices\\OrvLEDDev")
#define LED_SERVICE_KEY_PATH LED_WIDE("\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\OrvLED")

// "GLIM" in memory order: G in the lowest byte.
#define LED_POOL_TAG ((ULONG)'G' | ((ULONG)'L' << 8) | ((ULONG)'I' << 16) | ((ULONG)'M' << 24))
#define LED_REMLOCK_MAX_MINUTES 1
#define LED_REMLOCK_HIGH_WATERMARK 10

// {83E78A1E-5998-4258-B728-074415D5CD99}
extern const GUID GUID_DEVINTERFACE_LED;

#define LED_REGISTRY_PATH_BYTES 260

// ---- The device extension ---------------------------------------------------------------------

typedef struct _DEVICE_EXTENSION {
    PDEVICE_OBJECT m_DeviceObject;
    PDEVICE_OBJECT m_LowerDeviceObject;
    PDEVICE_OBJECT m_PhysicalDeviceObject;
    IO_REMOVE_LOCK m_RemoveLock;
    KSPIN_LOCK m_SpinLock;
    UNICODE_STRING m_RegistryPath;
    WCHAR m_RegistryPathBuffer[260];
    ULONG m_ChipsetType;
    ULONG m_LEDCount;
    UCHAR m_LEDStatus;
    UNICODE_STRING m_InterfaceName;
} DEVICE_EXTENSION, *PDEVICE_EXTENSION;

extern UNICODE_STRING g_RegistryPath;

// ---- Super I/O configuration access -----------------------------------------------------------

#define LED_GPIO1_DIRECTION_REGISTER 0xF0
#define LED_GPIO1_DATA_REGISTER 0xF1

extern LONG g_SioIndexPort;
extern LONG g_SioDataPort;

BOOLEAN InitSuperIoChip(PDEVICE_EXTENSION DeviceExtension);
UCHAR ReadGpioRegister(PDEVICE_EXTENSION DeviceExtension, UCHAR Register);
VOID WriteGpioRegister(PDEVICE_EXTENSION DeviceExtension, UCHAR Register, UCHAR Value);
// The same accesses for the power path: they hold m_SpinLock so that they never overlap a device-control
// request's sequences.
UCHAR ReadGpioRegisterExclusive(PDEVICE_EXTENSION DeviceExtension, UCHAR Register);
VOID WriteGpioRegisterExclusive(PDEVICE_EXTENSION DeviceExtension, UCHAR Register, UCHAR Value);

// ---- LED pin operations -----------------------------------------------------------------------

typedef struct _LED_PIN {
    PCWSTR Name;
    UCHAR Index;
    UCHAR Mask;
} LED_PIN;

#define LED_PIN_COUNT 8
extern const LED_PIN g_LedPinTable[LED_PIN_COUNT];

NTSTATUS GetLedDirection(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber, PUCHAR Direction);
NTSTATUS GetLedStatus(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber, PUCHAR Status);
NTSTATUS SetLedDirection(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber, UCHAR Direction);
NTSTATUS SetLedStatus(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber, UCHAR Status);

// ---- Driver entry and device creation --------------------------------------------------------

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
NTSTATUS AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject);
NTSTATUS DispatchCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp);
VOID DriverUnload(PDRIVER_OBJECT DriverObject);

// ---- Plug and Play requests -------------------------------------------------------------------

extern const DEVPROPKEY DEVPKEY_DeviceInterface_Restricted;

NTSTATUS DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS StartDevice(PDEVICE_EXTENSION Extension, PIRP Irp);
NTSTATUS RemoveDevice(PDEVICE_EXTENSION Extension, PIRP Irp);
NTSTATUS ForwardIrpSynchronous(PDEVICE_OBJECT LowerDeviceObject, PIRP Irp);
NTSTATUS SyncCompletionRoutine(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
VOID CompleteRequest(PIRP Irp, NTSTATUS Status);

// ---- Power requests ---------------------------------------------------------------------------

NTSTATUS DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS ForwardPowerIrp(PDEVICE_OBJECT DeviceObject, PIRP Irp);

// ---- Device-control requests ------------------------------------------------------------------

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
