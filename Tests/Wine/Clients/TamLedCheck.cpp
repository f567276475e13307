// Test client of TamLED.dll as an application meets it: loaded at run time, functions looked up by name.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TamLED.h"

namespace {

typedef LED_LONG(LED_CALL* HANDLE_PROC)(LED_LONG* phDevice);
typedef LED_LONG(LED_CALL* PORT_PROC)(LED_LONG hDevice, unsigned short wPort);
typedef LED_LONG(LED_CALL* STATUS_PROC)(LED_LONG hDevice, unsigned short wPort, LED_ULONG* pdwStatus);
typedef LED_LONG(LED_CALL* MESSAGE_PROC)(LED_LONG lResult, char* pszMessage);

// Owns the loaded library.
class Library {
public:
    Library() : module_(LoadLibraryA("TamLED.dll")) {}
    ~Library()
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    template <typename Proc> Proc Find(const char* name) const
    {
        return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_;
};

} // namespace

// Usage: tamledcheck exports | count | on LED | off LED | status LED | message CODE
// Prints key=value lines; each LED command opens the device, runs, and closes it.
int main(int argc, char** argv)
{
    const Library library;
    if (!library.Loaded()) {
        std::printf("loaded=0\nerror=%lu\n", GetLastError());
        return 1;
    }
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "exports") {
        const char* names[] = {"LED_DeviceClose", "LED_DeviceOpen", LED_GETCOUNT_EXPORT, "LED_GetErrorMessage",
                               "LED_GetStatus",   "LED_Off",        "LED_On",            "DllMain",
                               "LED_GetCount"};
        for (const char* name : names) {
            std::printf("%s=%d\n", name, library.Find<FARPROC>(name) != nullptr ? 1 : 0);
        }
        for (WORD ordinal = 1; ordinal <= 8; ++ordinal) {
            std::printf("ordinal%u=%d\n", ordinal,
                        library.Find<FARPROC>(MAKEINTRESOURCEA(ordinal)) ==
                                library.Find<FARPROC>(names[ordinal - 1])
                            ? 1
                            : 0);
        }
        return 0;
    }
    if (command == "message" && argc == 3) {
        char text[LED_MESSAGE_BUFFER_SIZE + 8];
        std::memset(text, '#', sizeof(text));
        text[sizeof(text) - 1] = 0;
        const LED_LONG result = library.Find<MESSAGE_PROC>("LED_GetErrorMessage")(std::atol(argv[2]), text);
        std::printf("result=%ld\nmessage=%s\n", result, text);
        return 0;
    }

    const auto open = library.Find<HANDLE_PROC>("LED_DeviceOpen");
    const auto close = library.Find<HANDLE_PROC>("LED_DeviceClose");
    LED_LONG handle = 0;
    const LED_LONG opened = open(&handle);
    std::printf("open=%ld\nhandle_set=%d\n", opened, handle != 0 ? 1 : 0);
    if (opened != LED_SUCCESS) {
        return 1;
    }
    const unsigned short led = argc > 2 ? static_cast<unsigned short>(std::atoi(argv[2])) : 0;
    if (command == "count") {
        LED_ULONG count = 0;
        std::printf("result=%ld\n", library.Find<LED_GETCOUNT_PROC>(LED_GETCOUNT_EXPORT)(handle, &count));
        std::printf("count=%lu\n", count);
    } else if (command == "on" || command == "off") {
        std::printf("result=%ld\n", library.Find<PORT_PROC>(command == "on" ? "LED_On" : "LED_Off")(handle, led));
    } else if (command == "status") {
        LED_ULONG status = 0xEEEEEEEE;
        std::printf("result=%ld\n", library.Find<STATUS_PROC>("LED_GetStatus")(handle, led, &status));
        std::printf("status=%lu\n", status);
    }
    std::printf("close=%ld\n", close(&handle));
    return 0;
}
