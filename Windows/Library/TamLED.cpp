// TamLED: one connection per process to the OrvLED driver; each call is at most one device-control request.
#define TAMLED_BUILDING
#include "TamLED.h"

#include "TamLEDConnection.h"

LED_CONNECTION* g_pConnection = NULL;
LONG g_ConnectionHandle = 0;
LONG g_NextConnectionNumber = 0;
volatile LONG g_CallLock = 0;

namespace {

const char* const g_Messages[] = {
    "LED_SUCCESS: LED Operation Succeed",
    "LED_Memory_Allocate_Failed: Not Enough Memory",
    "LED_OpenDevice_Failed: Open LED Device Failed",
    "LED_INVALID_HANDLE: Invalid Device Handle",
    "LED_INVALID_PORTNUM: Invalid LED Port Number",
};
const LONG g_MessageCount = sizeof(g_Messages) / sizeof(g_Messages[0]);

const char g_DevicePath[] = "\\\\.\\OrvLEDDev";

// One call at a time, so that two threads never send each other's bytes from the shared buffer nor create
// two records. Only interlocked instructions: the library calls nothing beyond its kernel32 routines.
void LockCalls() {
    while (InterlockedCompareExchange(&g_CallLock, 1, 0) != 0) {
        YieldProcessor();
    }
}

void UnlockCalls() { InterlockedExchange(&g_CallLock, 0); }

LONG NewConnectionHandle(LED_CONNECTION* Connection) {
    if (sizeof(ULONG_PTR) <= sizeof(LONG)) {  // the record's address fits in a handle (32-bit Windows)
        return (LONG)(ULONG_PTR)Connection;
    }
    g_NextConnectionNumber = g_NextConnectionNumber % 0x7FFFFFFF + 1;
    return g_NextConnectionNumber;
}

// The live connection a handle designates, or NULL for 0, a closed connection's handle or any other value.
LED_CONNECTION* ConnectionOf(LONG Handle) {
    if (Handle == 0 || Handle != g_ConnectionHandle) {
        return NULL;
    }
    return g_pConnection;
}

// The outcome of a request is not examined: what the driver did not write stays as it was.
void SendRequest(LED_CONNECTION* Connection, DWORD Code, LPVOID Input, DWORD InputLength, LPVOID Output,
                 DWORD OutputLength) {
    DWORD returned = 0;
    (void)DeviceIoControl(Connection->hDevice, Code, Input, InputLength, Output, OutputLength, &returned, NULL);
}

void RequestCount(LED_CONNECTION* Connection) {
    SendRequest(Connection, IOCTL_LED_GET_COUNT, NULL, 0, &Connection->dwLEDCount, sizeof(Connection->dwLEDCount));
}

LONG SetLed(LONG Handle, USHORT Port, UCHAR Value) {
    if (Handle == 0) {
        return LED_INVALID_HANDLE;
    }
    LockCalls();
    LED_CONNECTION* connection = ConnectionOf(Handle);
    LONG result = LED_SUCCESS;
    if (connection == NULL) {
        result = LED_INVALID_HANDLE;
    } else if (Port >= connection->dwLEDCount) {
        result = LED_INVALID_PORTNUM;
    } else {
        connection->IoBuffer.Value = Value;
        connection->IoBuffer.Port = (UCHAR)Port;
        SendRequest(connection, IOCTL_LED_SET_STATUS, &connection->IoBuffer, sizeof(LED_IO_BUFFER),
                    &connection->IoBuffer, sizeof(LED_IO_BUFFER));
    }
    UnlockCalls();
    return result;
}

}  // namespace

extern "C" LED_LONG LED_CALL LED_DeviceOpen(LED_LONG* phDevice) {
    LockCalls();
    LED_CONNECTION* connection = g_pConnection;
    if (connection == NULL) {
        HGLOBAL memory = GlobalAlloc(GMEM_DDESHARE | GMEM_ZEROINIT, sizeof(LED_CONNECTION));
        if (memory == NULL) {
            *phDevice = 0;
            UnlockCalls();
            return LED_Memory_Allocate_Failed;
        }
        connection = (LED_CONNECTION*)GlobalLock(memory);
        SetLastError(0);
        connection->hDevice = CreateFileA(g_DevicePath, GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        if (connection->hDevice == INVALID_HANDLE_VALUE) {
            GlobalUnlock(memory);
            GlobalFree(memory);
            *phDevice = 0;
            UnlockCalls();
            return LED_OpenDevice_Failed;
        }
        connection->hMemory = memory;
        g_pConnection = connection;
        g_ConnectionHandle = NewConnectionHandle(connection);
    }
    *phDevice = g_ConnectionHandle;
    RequestCount(connection);
    UnlockCalls();
    return LED_SUCCESS;
}

// Any non-zero variable ends the process's one connection.
extern "C" LED_LONG LED_CALL LED_DeviceClose(LED_LONG* phDevice) {
    if (*phDevice == 0) {
        return LED_INVALID_HANDLE;
    }
    LockCalls();
    if (g_pConnection != NULL) {
        HGLOBAL memory = g_pConnection->hMemory;
        CloseHandle(g_pConnection->hDevice);
        GlobalUnlock(memory);
        GlobalFree(memory);
        g_pConnection = NULL;
        g_ConnectionHandle = 0;
    }
    UnlockCalls();
    return LED_SUCCESS;
}

extern "C" LED_LONG LED_CALL LED_GetCount(LED_LONG hDevice, LED_ULONG* pdwCount) {
    if (hDevice == 0) {
        return LED_INVALID_HANDLE;
    }
    LockCalls();
    LED_CONNECTION* connection = ConnectionOf(hDevice);
    if (connection == NULL) {
        UnlockCalls();
        return LED_INVALID_HANDLE;
    }
    RequestCount(connection);
    *pdwCount = connection->dwLEDCount;
    UnlockCalls();
    return LED_SUCCESS;
}

extern "C" LED_LONG LED_CALL LED_GetStatus(LED_LONG hDevice, unsigned short wPort, LED_ULONG* pdwStatus) {
    if (hDevice == 0) {
        return LED_INVALID_HANDLE;
    }
    LockCalls();
    LED_CONNECTION* connection = ConnectionOf(hDevice);
    LONG result = LED_SUCCESS;
    if (connection == NULL) {
        result = LED_INVALID_HANDLE;
    } else if (wPort >= connection->dwLEDCount) {
        result = LED_INVALID_PORTNUM;
    } else {
        // The value byte goes out as the previous request left it.
        connection->IoBuffer.Port = (UCHAR)wPort;
        SendRequest(connection, IOCTL_LED_GET_STATUS, &connection->IoBuffer, sizeof(LED_IO_BUFFER),
                    &connection->IoBuffer, sizeof(LED_IO_BUFFER));
        *pdwStatus = connection->IoBuffer.Value;
    }
    UnlockCalls();
    return result;
}

extern "C" LED_LONG LED_CALL LED_On(LED_LONG hDevice, unsigned short wPort) { return SetLed(hDevice, wPort, 1); }

extern "C" LED_LONG LED_CALL LED_Off(LED_LONG hDevice, unsigned short wPort) { return SetLed(hDevice, wPort, 0); }

// The caller's buffer holds at least LED_MESSAGE_BUFFER_SIZE bytes; other codes leave it untouched.
extern "C" LED_LONG LED_CALL LED_GetErrorMessage(LED_LONG lResult, char* pszMessage) {
    if (lResult >= 0 && lResult < g_MessageCount) {
        const char* message = g_Messages[lResult];
        LONG i = 0;
        do {
            pszMessage[i] = message[i];
        } while (message[i++] != '\0');
    }
    return LED_SUCCESS;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved) {
    (void)hInstance;
    (void)dwReason;
    (void)lpReserved;
    return TRUE;
}
