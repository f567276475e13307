// The driver's one door to its platform: the real kernel headers on Windows, the stand-in kernel on Linux.
#pragma once

#if defined(_WIN32)

// mingw-w64's DDK headers and its intrinsics header both define these two in C++.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>
#include <intrin.h>

// ntoskrnl.exe exports it (Windows 8 and later); mingw-w64 declares it nowhere. The import comes from
// KernelImports.def.
extern "C" NTKERNELAPI NTSTATUS NTAPI IoSetDeviceInterfacePropertyData(
    PUNICODE_STRING SymbolicLinkName, CONST DEVPROPKEY* PropertyKey, LCID Lcid, ULONG Flags, DEVPROPTYPE Type,
    ULONG Size, PVOID Data);

#define LED_WIDE(text) L##text
// Where the loader may page or discard the code.
#define LED_INIT_CODE __attribute__((section("INIT")))
#define LED_PAGED_CODE __attribute__((section("PAGE")))

#else

#include "NtKernel.h"

#define LED_WIDE(text) u##text
#define LED_INIT_CODE
#define LED_PAGED_CODE

#endif
