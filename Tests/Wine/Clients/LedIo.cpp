// Test client: sends OrvLED's device-control requests one by one and prints what comes back.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "LedIoctl.h"

namespace {

// Owns a handle opened on the driver's device.
class Device {
public:
    explicit Device(const char* path)
        : handle_(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr))
    {
    }
    ~Device()
    {
        if (Open()) {
            CloseHandle(handle_);
        }
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool Open() const { return handle_ != INVALID_HANDLE_VALUE; }

    // Prints "ok=1" and "bytes=N", or "ok=0" and "error=E", for one request.
    bool Send(DWORD code, void* in, DWORD inLength, void* out, DWORD outLength) const
    {
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(handle_, code, in, inLength, out, outLength, &returned, nullptr);
        if (ok) {
            std::printf("ok=1\nbytes=%lu\n", returned);
        } else {
            std::printf("ok=0\nerror=%lu\n", GetLastError());
        }
        return ok != FALSE;
    }

private:
    HANDLE handle_;
};

} // namespace

// Usage: ledio count | get LED | set LED VALUE | getdir LED | setdir LED VALUE
int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    const Device device("\\\\.\\OrvLEDDev");
    if (!device.Open()) {
        std::printf("open=0\nerror=%lu\n", GetLastError());
        return 1;
    }
    if (command == "count") {
        ULONG count = 0xFFFFFFFF;
        const bool ok = device.Send(IOCTL_LED_GET_COUNT, nullptr, 0, &count, sizeof(count));
        std::printf("count=%lu\n", count);
        return ok ? 0 : 1;
    }
    const bool get = command == "get" || command == "getdir";
    const bool set = command == "set" || command == "setdir";
    if ((get && argc == 3) || (set && argc == 4)) {
        LED_IO_BUFFER buffer = {static_cast<unsigned char>(std::atoi(argv[2])),
                                static_cast<unsigned char>(set ? std::atoi(argv[3]) : 0xEE)};
        const DWORD code = command == "get"      ? IOCTL_LED_GET_STATUS
                           : command == "set"    ? IOCTL_LED_SET_STATUS
                           : command == "getdir" ? IOCTL_LED_GET_DIRECTION
                                                 : IOCTL_LED_SET_DIRECTION;
        const bool ok = device.Send(code, &buffer, sizeof(buffer), &buffer, sizeof(buffer));
        std::printf("port=%u\nvalue=%u\n", buffer.Port, buffer.Value);
        return ok ? 0 : 1;
    }
    std::fprintf(stderr, "usage: ledio count | get LED | set LED VALUE | getdir LED | setdir LED VALUE\n");
    return 2;
}
