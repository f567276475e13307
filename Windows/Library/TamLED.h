/* TamLED: switch the board's LEDs on and off and read them back through the OrvLED driver.
   Usable from C and C++. Every function returns one of the result codes below. */
#ifndef TAMLED_H
#define TAMLED_H

/* Result codes; LED_GetErrorMessage gives the text of each. */
#define LED_SUCCESS 0
#define LED_Memory_Allocate_Failed 1
#define LED_OpenDevice_Failed 2
#define LED_INVALID_HANDLE 3
#define LED_INVALID_PORTNUM 4

/* The longest message with its terminating NUL: a message buffer holds at least this many bytes. */
#define LED_MESSAGE_BUFFER_SIZE 46

/* 32-bit integers as the library's interface has them on every platform. */
#if defined(_WIN32)
typedef long LED_LONG;
typedef unsigned long LED_ULONG;
#define LED_CALL __cdecl
#else
#include <stdint.h>
typedef int32_t LED_LONG;
typedef uint32_t LED_ULONG;
#define LED_CALL
#endif

/* The handle: 0 means no connection. In the 32-bit library it is the address of the process's connection
   record. Where an address does not fit in 32 bits (64-bit builds), it is a positive number that designates
   the connection: each new connection gets the next one, so a handle of a closed connection stays invalid. */

#ifdef __cplusplus
extern "C" {
#endif

LED_LONG LED_CALL LED_DeviceClose(LED_LONG* phDevice);
LED_LONG LED_CALL LED_DeviceOpen(LED_LONG* phDevice);
LED_LONG LED_CALL LED_GetErrorMessage(LED_LONG lResult, char* pszMessage);
LED_LONG LED_CALL LED_GetStatus(LED_LONG hDevice, unsigned short wPort, LED_ULONG* pdwStatus);
LED_LONG LED_CALL LED_Off(LED_LONG hDevice, unsigned short wPort);
LED_LONG LED_CALL LED_On(LED_LONG hDevice, unsigned short wPort);

#ifdef __cplusplus
}
#endif

/* LED_GetCount is exported only under the decoration the platform compiler gives its C++ signature, so
   C++ code built by that compiler links it by this declaration, and other callers look it up by name. */
#if defined(_WIN64)
#define LED_GETCOUNT_EXPORT "?LED_GetCount@@YAJJPEAK@Z"
#else
#define LED_GETCOUNT_EXPORT "?LED_GetCount@@YAJJPAK@Z"
#endif
typedef LED_LONG(LED_CALL* LED_GETCOUNT_PROC)(LED_LONG hDevice, LED_ULONG* pdwCount);

#if defined(_MSC_VER) && defined(__cplusplus)
LED_LONG LED_CALL LED_GetCount(LED_LONG hDevice, LED_ULONG* pdwCount);
#elif !defined(_WIN32) || defined(TAMLED_BUILDING)
#ifdef __cplusplus
extern "C"
#endif
    LED_LONG LED_CALL LED_GetCount(LED_LONG hDevice, LED_ULONG* pdwCount);
#endif

#endif /* TAMLED_H */
