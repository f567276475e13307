// The stand-in kernel32 as an application sees it: DeviceIoControl's result, last error and byte count against
// the real driver on the virtual board.
#include <gtest/gtest.h>

#include "Kernel32.h"
#include "LedIoctl.h"
#include "VirtualBoard.h"

namespace {

TEST(Kernel32DeviceIoControl, ReportsWhatCameBackOnSuccessAndLeavesTheCountOnError) {
    constexpr DWORD kUntouched = 0xDEADBEEF;
    const struct {
        const char* what;
        DWORD code;
        DWORD outputLength;
        BOOL result;
        DWORD error;  // checked when the call fails
        DWORD bytes;
    } rows[] = {
        {"count into room for it", IOCTL_LED_GET_COUNT, 4, TRUE, 0, 4},
        {"count into two bytes", IOCTL_LED_GET_COUNT, 2, FALSE, ERROR_INSUFFICIENT_BUFFER, kUntouched},
        {"count with no output", IOCTL_LED_GET_COUNT, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, kUntouched},
        {"a code the driver does not serve", IOCTL_LED_GET_COUNT + 0x100, 4, FALSE, ERROR_INVALID_PARAMETER,
         kUntouched},
    };
    vboard::VirtualBoard board;
    const HANDLE device = CreateFileA("\\\\.\\OrvLEDDev", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                      nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ULONG count = 0;
        DWORD bytes = kUntouched;
        SetLastError(0);
        EXPECT_EQ(DeviceIoControl(device, row.code, nullptr, 0, row.outputLength == 0 ? nullptr : &count,
                                  row.outputLength, &bytes, nullptr),
                  row.result);
        EXPECT_EQ(bytes, row.bytes);
        if (row.result) {
            EXPECT_EQ(count, 8u);
        } else {
            EXPECT_EQ(GetLastError(), row.error);
        }
    }
    ASSERT_TRUE(CloseHandle(device));
    DWORD bytes = kUntouched;
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_LED_GET_COUNT, nullptr, 0, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(bytes, kUntouched);
}

}  // namespace
