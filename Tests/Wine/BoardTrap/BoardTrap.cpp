// Test-only driver for the Wine test bed: runs the port I/O of drivers in its winedevice process on the chip
// model, serves the kernel routines Wine lacks, and lets tests read the chip and its port trace.
// mingw-w64's DDK headers and its intrinsics header both define these two in C++.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "BoardTrapControl.h"
#include "PortBus.h"
#include "PortDecode.h"
#include "W836x7Chip.h"

extern "C" NTSYSAPI PVOID NTAPI RtlPcToFileHeader(PVOID PcValue, PVOID* BaseOfImage);
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

// The board of this winedevice process; constant-initialised, since no C runtime runs constructors here.
constinit board::PortBus g_Bus;
constinit board::W836x7Chip g_Chip{board::ChipPlacement::At2E};

namespace {

typedef PVOID(NTAPI* ADD_VECTORED_HANDLER)(ULONG First, PVOID Handler);

LONG g_Trapped = 0;
LONG g_Undecoded = 0;
LONG g_PropertyCalls = 0;
UCHAR g_LastPropertyData = 0;
ULONG g_LastPropertyType = 0;
ULONG g_LastPropertyId = 0;
ULONG g_LastPropertyGuidData1 = 0;

// Images whose missing kernel imports were already replaced.
const ULONG MAX_SERVED_IMAGES = 8;
PVOID g_ServedImages[MAX_SERVED_IMAGES] = {};
KSPIN_LOCK g_ServedLock = 0;

bool AsciiEqualNoCase(const char* left, const char* right)
{
    for (;; ++left, ++right) {
        char a = (*left >= 'A' && *left <= 'Z') ? (char)(*left + 32) : *left;
        char b = (*right >= 'A' && *right <= 'Z') ? (char)(*right + 32) : *right;
        if (a != b) {
            return false;
        }
        if (a == 0) {
            return true;
        }
    }
}

ULONG ReadUlong(const UCHAR* at) { return *(const ULONG UNALIGNED*)at; }

// The import address table slot through which the image at Base calls Module!Function, or NULL.
PVOID* FindImportSlot(PUCHAR Base, const char* Module, const char* Function)
{
    PUCHAR optional = Base + ReadUlong(Base + 0x3C) + 24;
    const bool pe32Plus = *(USHORT*)optional == 0x20B;
    const ULONG importRva = ReadUlong(optional + (pe32Plus ? 112 : 96) + 8);
    if (!pe32Plus || importRva == 0) {
        return NULL;
    }
    for (PUCHAR descriptor = Base + importRva; ReadUlong(descriptor + 12) != 0; descriptor += 20) {
        if (!AsciiEqualNoCase((const char*)(Base + ReadUlong(descriptor + 12)), Module)) {
            continue;
        }
        const ULONG lookupRva = ReadUlong(descriptor);
        const ULONG slotsRva = ReadUlong(descriptor + 16);
        if (lookupRva == 0) {
            continue; // bound without names: nothing to match
        }
        ULONG64* lookup = (ULONG64*)(Base + lookupRva);
        PVOID* slots = (PVOID*)(Base + slotsRva);
        for (ULONG i = 0; lookup[i] != 0; ++i) {
            if ((lookup[i] >> 63) == 0 && AsciiEqualNoCase((const char*)(Base + (ULONG)lookup[i] + 2), Function)) {
                return &slots[i];
            }
        }
    }
    return NULL;
}

// Wine 8's ntoskrnl does not export it; accepted as Windows would for a device interface, and recorded.
NTSTATUS NTAPI ServeSetDeviceInterfacePropertyData(PUNICODE_STRING SymbolicLinkName, const DEVPROPKEY* PropertyKey,
                                                  LCID Lcid, ULONG Flags, DEVPROPTYPE Type, ULONG Size, PVOID Data)
{
    UNREFERENCED_PARAMETER(Lcid);
    UNREFERENCED_PARAMETER(Flags);
    if (SymbolicLinkName == NULL || PropertyKey == NULL || (Size != 0 && Data == NULL)) {
        return STATUS_INVALID_PARAMETER;
    }
    g_LastPropertyType = Type;
    g_LastPropertyId = PropertyKey->pid;
    g_LastPropertyGuidData1 = PropertyKey->fmtid.Data1;
    g_LastPropertyData = Size != 0 ? *(PUCHAR)Data : 0;
    InterlockedIncrement(&g_PropertyCalls);
    DbgPrint("BoardTrap: served IoSetDeviceInterfacePropertyData(pid %lu, type 0x%lX, %lu bytes)\n",
             PropertyKey->pid, Type, Size);
    return STATUS_SUCCESS;
}

// Points the image's imports of routines Wine lacks at ours, once per image.
void ServeMissingRoutines(PVOID ProgramCounter)
{
    PVOID base = NULL;
    if (RtlPcToFileHeader(ProgramCounter, &base) == NULL || base == NULL) {
        return;
    }
    KIRQL oldIrql;
    KeAcquireSpinLock(&g_ServedLock, &oldIrql);
    bool seen = false;
    for (ULONG i = 0; i < MAX_SERVED_IMAGES && !seen; ++i) {
        seen = g_ServedImages[i] == base;
    }
    for (ULONG i = 0; i < MAX_SERVED_IMAGES && !seen; ++i) {
        if (g_ServedImages[i] == NULL) {
            g_ServedImages[i] = base;
            break;
        }
    }
    KeReleaseSpinLock(&g_ServedLock, oldIrql);
    if (seen) {
        return;
    }
    PVOID* slot = FindImportSlot((PUCHAR)base, "ntoskrnl.exe", "IoSetDeviceInterfacePropertyData");
    if (slot != NULL) {
        *slot = (PVOID)&ServeSetDeviceInterfacePropertyData;
        DbgPrint("BoardTrap: image at %p gets IoSetDeviceInterfacePropertyData from the test bed\n", base);
    }
}

// Runs a faulting IN/OUT on the board and steps over it; everything else goes on to Wine's handlers.
LONG NTAPI TrapPortInstruction(PEXCEPTION_POINTERS Info)
{
    if (Info->ExceptionRecord->ExceptionCode != STATUS_PRIVILEGED_INSTRUCTION) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    PCONTEXT context = Info->ContextRecord;
    const boardtrap::PortInstruction instruction = boardtrap::DecodePortInstruction((const UCHAR*)context->Rip, 15);
    if (!instruction.valid) {
        InterlockedIncrement(&g_Undecoded);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const USHORT port = instruction.portInDx ? (USHORT)context->Rdx : instruction.immediatePort;
    if (instruction.isIn) {
        ULONG value = 0;
        for (UCHAR i = 0; i < instruction.width; ++i) {
            value |= (ULONG)g_Bus.In((USHORT)(port + i)) << (8 * i);
        }
        context->Rax = boardtrap::MergeInResult(context->Rax, instruction.width, value);
    } else {
        for (UCHAR i = 0; i < instruction.width; ++i) {
            g_Bus.Out((USHORT)(port + i), (UCHAR)(context->Rax >> (8 * i)));
        }
    }
    ServeMissingRoutines((PVOID)context->Rip);
    context->Rip += instruction.length;
    InterlockedIncrement(&g_Trapped);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Wine's ntoskrnl imports RtlAddVectoredExceptionHandler from ntdll; importing ntdll ourselves would make
// Wine load this image as a DLL, so the routine is taken from ntoskrnl's own import table.
ADD_VECTORED_HANDLER FindAddVectoredExceptionHandler()
{
    PVOID kernelBase = NULL;
    if (RtlPcToFileHeader((PVOID)&IoCreateDevice, &kernelBase) == NULL || kernelBase == NULL) {
        return NULL;
    }
    PVOID* slot = FindImportSlot((PUCHAR)kernelBase, "ntdll.dll", "RtlAddVectoredExceptionHandler");
    return slot != NULL ? (ADD_VECTORED_HANDLER)*slot : NULL;
}

board::ChipPlacement ToPlacement(ULONG Value)
{
    switch (Value) {
    case BOARD_TRAP_PLACEMENT_4E: return board::ChipPlacement::At4E;
    case BOARD_TRAP_PLACEMENT_ABSENT: return board::ChipPlacement::Absent;
    default: return board::ChipPlacement::At2E;
    }
}

ULONG FromPlacement(board::ChipPlacement Placement)
{
    switch (Placement) {
    case board::ChipPlacement::At4E: return BOARD_TRAP_PLACEMENT_4E;
    case board::ChipPlacement::Absent: return BOARD_TRAP_PLACEMENT_ABSENT;
    default: return BOARD_TRAP_PLACEMENT_2E;
    }
}

void FillState(BOARD_TRAP_STATE* State)
{
    const board::ChipDiagnostics diagnostics = g_Chip.Diagnostics();
    RtlZeroMemory(State, sizeof(*State));
    State->Placement = FromPlacement(g_Chip.Placement());
    State->TrappedInstructions = (ULONG)g_Trapped;
    State->UndecodedFaults = (ULONG)g_Undecoded;
    State->DataAccessOutsideConfig = diagnostics.dataAccessOutsideConfig;
    State->EnterKeyInConfig = diagnostics.enterKeyInConfig;
    State->PropertyDataCalls = (ULONG)g_PropertyCalls;
    State->TraceCount = g_Bus.TraceCount();
    State->ConfigMode = g_Chip.InConfigMode() ? 1 : 0;
    State->SelectedLogicalDevice = g_Chip.SelectedLogicalDevice();
    State->ChipId = g_Chip.Register(0, board::W836x7Chip::kRegChipId);
    State->GpioDirection = g_Chip.Register(board::W836x7Chip::kGpio1Device, board::W836x7Chip::kRegGpioDirection);
    State->GpioData = g_Chip.Register(board::W836x7Chip::kGpio1Device, board::W836x7Chip::kRegGpioData);
    State->GpioInversion = g_Chip.Register(board::W836x7Chip::kGpio1Device, board::W836x7Chip::kRegGpioInversion);
    State->GpioActivate = g_Chip.Register(board::W836x7Chip::kGpio1Device, board::W836x7Chip::kRegActivate);
    State->LastPropertyData = g_LastPropertyData;
    State->LastPropertyType = g_LastPropertyType;
    State->LastPropertyId = g_LastPropertyId;
    State->LastPropertyGuidData1 = g_LastPropertyGuidData1;
}

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    UNREFERENCED_PARAMETER(DeviceObject);
    Irp->IoStatus.Status = STATUS_SUCCESS;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    UNREFERENCED_PARAMETER(DeviceObject);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    PVOID buffer = Irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_BOARD_TRAP_GET_STATE:
        if (outLength < sizeof(BOARD_TRAP_STATE)) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        FillState((BOARD_TRAP_STATE*)buffer);
        information = sizeof(BOARD_TRAP_STATE);
        break;
    case IOCTL_BOARD_TRAP_GET_TRACE: {
        if (inLength < sizeof(ULONGLONG) || outLength < sizeof(BOARD_TRAP_TRACE)) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        ULONGLONG first = *(ULONGLONG*)buffer;
        BOARD_TRAP_TRACE* trace = (BOARD_TRAP_TRACE*)buffer;
        RtlZeroMemory(trace, sizeof(*trace));
        trace->Count = g_Bus.TraceCount();
        if (first < g_Bus.TraceFirstHeld()) {
            first = g_Bus.TraceFirstHeld();
        }
        trace->First = first;
        for (ULONGLONG index = first; index < trace->Count && trace->Returned < BOARD_TRAP_TRACE_BATCH; ++index) {
            const board::PortOperation operation = g_Bus.TraceAt(index);
            BOARD_TRAP_OPERATION* out = &trace->Operations[trace->Returned++];
            out->Port = operation.port;
            out->IsOut = operation.direction == board::PortDirection::Out ? 1 : 0;
            out->Value = operation.value;
        }
        information = sizeof(BOARD_TRAP_TRACE);
        break;
    }
    case IOCTL_BOARD_TRAP_CLEAR_TRACE:
        g_Bus.ClearTrace();
        break;
    case IOCTL_BOARD_TRAP_SET_PLACEMENT:
        if (inLength < sizeof(ULONG) || *(ULONG*)buffer > BOARD_TRAP_PLACEMENT_ABSENT) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        g_Chip.SetPlacement(ToPlacement(*(ULONG*)buffer));
        break;
    case IOCTL_BOARD_TRAP_GET_REGISTER:
        if (inLength < 2 || outLength < 1) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        *(PUCHAR)buffer = g_Chip.Register(((PUCHAR)buffer)[0], ((PUCHAR)buffer)[1]);
        information = 1;
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    Irp->IoStatus.Status = status;
    Irp->IoStatus.Information = information;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}

// The chip's placement at load, from the service key's "Placement" (BOARD_TRAP_PLACEMENT_*), default 0x2E.
ULONG ReadPlacement(PUNICODE_STRING RegistryPath)
{
    ULONG placement = BOARD_TRAP_PLACEMENT_2E;
    RTL_QUERY_REGISTRY_TABLE query[2];
    RtlZeroMemory(query, sizeof(query));
    query[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
    query[0].Name = (PWSTR)L"Placement";
    query[0].EntryContext = &placement;
    query[0].DefaultType = REG_NONE;
    (void)RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, RegistryPath->Buffer, query, NULL, NULL);
    return placement;
}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    ADD_VECTORED_HANDLER addHandler = FindAddVectoredExceptionHandler();
    if (addHandler == NULL || addHandler(1, (PVOID)&TrapPortInstruction) == NULL) {
        DbgPrint("BoardTrap: cannot register the vectored exception handler\n");
        return STATUS_UNSUCCESSFUL;
    }
    KeInitializeSpinLock(&g_ServedLock);
    g_Chip.SetPlacement(ToPlacement(ReadPlacement(RegistryPath)));
    g_Bus.Attach(g_Chip);

    UNICODE_STRING deviceName;
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&deviceName, L"\\Device\\BoardTrap");
    RtlInitUnicodeString(&linkName, L"\\DosDevices\\BoardTrap");
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status = IoCreateDevice(DriverObject, 0, &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    DbgPrint("BoardTrap: chip model at placement %lu, port I/O of this process runs on it\n",
             FromPlacement(g_Chip.Placement()));
    return STATUS_SUCCESS;
}
