// The TamLED functions the tool calls, as pointers: linked in on Linux, looked up in TamLED.dll on Windows.
#pragma once

#include <string>

#include "TamLED.h"

namespace ledctl {

struct LedLibrary {
    using HandleFunction = LED_LONG(LED_CALL*)(LED_LONG* phDevice);
    using StatusFunction = LED_LONG(LED_CALL*)(LED_LONG hDevice, unsigned short wPort, LED_ULONG* pdwStatus);
    using SwitchFunction = LED_LONG(LED_CALL*)(LED_LONG hDevice, unsigned short wPort);
    using MessageFunction = LED_LONG(LED_CALL*)(LED_LONG lResult, char* pszMessage);

    HandleFunction deviceOpen = nullptr;
    HandleFunction deviceClose = nullptr;
    LED_GETCOUNT_PROC getCount = nullptr;
    StatusFunction getStatus = nullptr;
    SwitchFunction on = nullptr;
    SwitchFunction off = nullptr;
    MessageFunction getErrorMessage = nullptr;

    std::string unavailable;  // why the library cannot be used; empty when every function is there

    bool Usable() const { return unavailable.empty(); }
};

}  // namespace ledctl
