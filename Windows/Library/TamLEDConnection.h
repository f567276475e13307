// TamLED's per-process connection record and the one global that holds it.
#pragma once

#include "LedIoctl.h"
#include "LibraryPlatform.h"

typedef struct _LED_CONNECTION {
    HGLOBAL hMemory;      // the block that holds this record
    ULONG dwLEDCount;     // the count as the driver last reported it; the driver writes it directly
    HANDLE hDevice;
    LED_IO_BUFFER IoBuffer;  // input and output of the status requests; never cleared between calls
} LED_CONNECTION;

extern LED_CONNECTION* g_pConnection;

// The handle callers hold for the live connection, and the lock that serialises the library's calls.
extern LONG g_ConnectionHandle;
extern LONG g_NextConnectionNumber;
extern volatile LONG g_CallLock;
