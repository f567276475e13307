// kernel32 as the client library sees it on the Linux host: types, constants and routines under their Win32 names.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef unsigned char UCHAR;
typedef unsigned char BYTE;
typedef int BOOL;
typedef char CHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef void* HANDLE;
typedef HANDLE HGLOBAL;
typedef HANDLE HINSTANCE;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED* LPOVERLAPPED;

#define WINAPI
#define APIENTRY
#define TRUE 1
#define FALSE 0
#ifndef NULL
#define NULL nullptr
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040
#define GMEM_DDESHARE 0x2000
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define OPEN_EXISTING 3
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_GEN_FAILURE 31
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NOT_LOCKED 158
#define ERROR_MR_MID_NOT_FOUND 317
#define ERROR_NO_SYSTEM_RESOURCES 1450

extern "C" {

HGLOBAL GlobalAlloc(unsigned int uFlags, SIZE_T dwBytes);
LPVOID GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
HGLOBAL GlobalFree(HGLOBAL hMem);
void SetLastError(DWORD dwErrCode);
DWORD GetLastError(void);
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);
BOOL CloseHandle(HANDLE hObject);

}  // extern "C"

// Compiler intrinsics on Windows: no call into kernel32.
inline LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comperand) {
    __atomic_compare_exchange_n(const_cast<LONG*>(Destination), &Comperand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comperand;
}
inline LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
    return __atomic_exchange_n(const_cast<LONG*>(Target), Value, __ATOMIC_SEQ_CST);
}
inline void YieldProcessor() { __builtin_ia32_pause(); }
