// TamLED through its exports, against the real driver on the virtual board, with the stand-in told to fail
// where the driver cannot produce a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "TamLED.h"
#include "Kernel32.h"
#include "VirtualBoard.h"

namespace {

using Stage = vboard::BoardOptions::Stage;

class TamLEDTest : public testing::Test {
protected:
    explicit TamLEDTest(Stage stage = Stage::Started) : board_({board::ChipPlacement::At2E, stage}) {}

    uint64_t Calls(const char* routine) { return board_.Kernel().Faults().Calls(routine); }
    host::FaultInjector& Faults() { return board_.Kernel().Faults(); }

    LED_LONG Open() {
        LED_LONG handle = 0;
        EXPECT_EQ(LED_DeviceOpen(&handle), LED_SUCCESS);
        return handle;
    }

    vboard::VirtualBoard board_;
};

TEST_F(TamLEDTest, OpeningTwiceGivesTheSameConnectionAndAsksForTheCountEachTime) {
    LED_LONG first = 0, second = 0;
    ASSERT_EQ(LED_DeviceOpen(&first), LED_SUCCESS);
    EXPECT_NE(first, 0);
    const uint64_t requests = Calls("DeviceIoControl");
    ASSERT_EQ(LED_DeviceOpen(&second), LED_SUCCESS);
    EXPECT_EQ(second, first);
    EXPECT_EQ(Calls("DeviceIoControl"), requests + 1);
    EXPECT_EQ(Calls("GlobalAlloc"), 1u);
    EXPECT_EQ(Calls("CreateFileA"), 1u);
    EXPECT_EQ(board_.Process().OpenHandles(), 1u);
    LED_ULONG count = 0;
    EXPECT_EQ(LED_GetCount(first, &count), LED_SUCCESS);
    EXPECT_EQ(count, 8u);
}

class TamLEDWithoutDevice : public TamLEDTest {
protected:
    TamLEDWithoutDevice() : TamLEDTest(Stage::Loaded) {}
};

TEST_F(TamLEDWithoutDevice, OpenFailsUntilTheDriverHasADeviceThenSucceeds) {
    LED_LONG handle = 12345;
    EXPECT_EQ(LED_DeviceOpen(&handle), LED_OpenDevice_Failed);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(board_.Process().GlobalBlocks(), 0u);  // the record's block went back
    EXPECT_EQ(LED_DeviceClose(&handle), LED_INVALID_HANDLE);

    ASSERT_EQ(board_.Add(), STATUS_SUCCESS);
    ASSERT_EQ(board_.Start().status, STATUS_SUCCESS);
    EXPECT_EQ(LED_DeviceOpen(&handle), LED_SUCCESS);
    EXPECT_NE(handle, 0);
    EXPECT_EQ(LED_On(handle, 5), LED_SUCCESS);
    EXPECT_EQ(board_.Chip().OutputLevels(), 0x20);
}

TEST_F(TamLEDTest, CloseEndsTheConnectionForEveryHolderAndTheNextOpenStartsAnew) {
    LED_LONG handle = Open();
    LED_LONG copy = handle;
    EXPECT_EQ(LED_DeviceClose(&handle), LED_SUCCESS);
    EXPECT_EQ(handle, copy);  // the caller's variable is left as it was
    EXPECT_EQ(board_.Process().OpenHandles(), 0u);
    EXPECT_EQ(board_.Process().GlobalBlocks(), 0u);
    EXPECT_EQ(LED_DeviceClose(&handle), LED_SUCCESS);  // nothing left to close
    EXPECT_EQ(LED_On(copy, 1), LED_INVALID_HANDLE);     // a closed connection's handle is refused

    LED_LONG fresh = Open();
    EXPECT_EQ(Calls("CreateFileA"), 2u);
    EXPECT_EQ(LED_On(fresh, 1), LED_SUCCESS);

    LED_LONG anything = 0x1234;  // any non-zero variable closes the one connection
    EXPECT_EQ(LED_DeviceClose(&anything), LED_SUCCESS);
    EXPECT_EQ(board_.Process().OpenHandles(), 0u);
    EXPECT_EQ(LED_On(fresh, 1), LED_INVALID_HANDLE);
}

TEST_F(TamLEDTest, HandleAndIndexTestsComeBeforeAnyRequest) {
    const LED_LONG handle = Open();
    enum class Call { GetStatus, On, Off, GetCount };
    struct Row {
        const char* name;
        Call call;
        LED_LONG handle;
        unsigned short index;
        LED_LONG result;
    };
    const Row rows[] = {
        {"status of LED 8", Call::GetStatus, handle, 8, LED_INVALID_PORTNUM},
        {"on, LED 8", Call::On, handle, 8, LED_INVALID_PORTNUM},
        {"off, LED 0xFFFF", Call::Off, handle, 0xFFFF, LED_INVALID_PORTNUM},
        {"on, LED 0x107 (the low byte would be 7)", Call::On, handle, 0x107, LED_INVALID_PORTNUM},
        {"zero handle before a bad index", Call::On, 0, 9, LED_INVALID_HANDLE},
        {"zero handle, status", Call::GetStatus, 0, 1, LED_INVALID_HANDLE},
        {"zero handle, off", Call::Off, 0, 1, LED_INVALID_HANDLE},
        {"zero handle, count", Call::GetCount, 0, 0, LED_INVALID_HANDLE},
        {"a handle that is no connection", Call::On, handle + 1, 1, LED_INVALID_HANDLE},
        {"a handle that is no connection, count", Call::GetCount, -7, 0, LED_INVALID_HANDLE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const uint64_t requests = Calls("DeviceIoControl");
        board_.Ports().ClearTrace();
        LED_ULONG out = 0xABCD;
        LED_LONG result = -1;
        switch (row.call) {
        case Call::GetStatus: result = LED_GetStatus(row.handle, row.index, &out); break;
        case Call::On: result = LED_On(row.handle, row.index); break;
        case Call::Off: result = LED_Off(row.handle, row.index); break;
        case Call::GetCount: result = LED_GetCount(row.handle, &out); break;
        }
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(out, 0xABCDu);
        EXPECT_EQ(Calls("DeviceIoControl"), requests);
        EXPECT_EQ(board_.Ports().TraceCount(), 0u);
    }
}

TEST_F(TamLEDTest, OnOffAndStatusReachTheChip) {
    const LED_LONG handle = Open();
    for (unsigned short led = 0; led < 8; ++led) {
        LED_ULONG state = 9;
        ASSERT_EQ(LED_On(handle, led), LED_SUCCESS);
        EXPECT_EQ(board_.Chip().OutputLevels(), 1u << led);
        ASSERT_EQ(LED_GetStatus(handle, led, &state), LED_SUCCESS);
        EXPECT_EQ(state, 1u);
        ASSERT_EQ(LED_Off(handle, led), LED_SUCCESS);
        ASSERT_EQ(LED_GetStatus(handle, led, &state), LED_SUCCESS);
        EXPECT_EQ(state, 0u);
    }
    EXPECT_EQ(board_.Chip().OutputLevels(), 0u);
    // Each call is one request: a switch makes four register accesses, a status read one.
    board_.Ports().ClearTrace();
    LED_ULONG state = 0;
    LED_On(handle, 7);
    EXPECT_EQ(board_.Ports().TraceCount(), 76u);
    board_.Ports().ClearTrace();
    LED_GetStatus(handle, 7, &state);
    EXPECT_EQ(board_.Ports().TraceCount(), 19u);
}

TEST_F(TamLEDTest, AFailedRequestIsNotReportedAndLeavesWhatTheDriverWouldHaveWritten) {
    const LED_LONG handle = Open();
    ASSERT_EQ(LED_On(handle, 2), LED_SUCCESS);  // the value byte now holds 1
    ASSERT_EQ(LED_Off(handle, 6), LED_SUCCESS);  // ... and now 0
    ASSERT_EQ(LED_On(handle, 6), LED_SUCCESS);   // ... and 1 again
    Faults().FailNext("DeviceIoControl", ERROR_GEN_FAILURE);
    LED_ULONG state = 7;
    EXPECT_EQ(LED_GetStatus(handle, 3, &state), LED_SUCCESS);
    EXPECT_EQ(state, 1u);  // LED 3 is off, but the byte is the one LED_On left

    Faults().FailNext("DeviceIoControl", ERROR_GEN_FAILURE);
    EXPECT_EQ(LED_Off(handle, 2), LED_SUCCESS);
    EXPECT_EQ(board_.Chip().OutputLevels(), 0x44);  // the switch never reached the driver

    Faults().FailNext("DeviceIoControl", ERROR_GEN_FAILURE);
    LED_ULONG count = 0;
    EXPECT_EQ(LED_GetCount(handle, &count), LED_SUCCESS);
    EXPECT_EQ(count, 8u);  // as it was
}

TEST_F(TamLEDTest, AFailedCountAtOpenRefusesEveryIndexUntilACountSucceeds) {
    Faults().FailNext("DeviceIoControl", ERROR_GEN_FAILURE);
    LED_LONG handle = 0;
    ASSERT_EQ(LED_DeviceOpen(&handle), LED_SUCCESS);
    EXPECT_EQ(LED_On(handle, 0), LED_INVALID_PORTNUM);
    LED_ULONG count = 5;
    ASSERT_EQ(LED_GetCount(handle, &count), LED_SUCCESS);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(LED_On(handle, 0), LED_SUCCESS);
}

TEST_F(TamLEDTest, NoMemoryForTheRecord) {
    Faults().FailNext("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    LED_LONG handle = 77;
    EXPECT_EQ(LED_DeviceOpen(&handle), LED_Memory_Allocate_Failed);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(Calls("CreateFileA"), 0u);
    EXPECT_NE(Open(), 0);  // the next open starts from the beginning
}

TEST_F(TamLEDTest, NothingAllocatesAfterTheFirstOpen) {
    const LED_LONG handle = Open();
    LED_ULONG value = 0;
    for (int i = 0; i < 20; ++i) {
        LED_LONG again = 0;
        LED_DeviceOpen(&again);
        LED_GetCount(handle, &value);
        LED_On(handle, static_cast<unsigned short>(i % 8));
        LED_GetStatus(handle, static_cast<unsigned short>(i % 8), &value);
        LED_Off(handle, static_cast<unsigned short>(i % 8));
        char message[LED_MESSAGE_BUFFER_SIZE];
        LED_GetErrorMessage(i % 5, message);
    }
    EXPECT_EQ(Calls("GlobalAlloc"), 1u);
    EXPECT_EQ(board_.Process().GlobalBlocks(), 1u);
}

TEST(TamLEDMessages, EachCodeCopiesItsMessageWithTheZeroAndOtherCodesNothing) {
    const struct {
        LED_LONG code;
        const char* text;
    } rows[] = {
        {LED_SUCCESS, "LED_SUCCESS: LED Operation Succeed"},
        {LED_Memory_Allocate_Failed, "LED_Memory_Allocate_Failed: Not Enough Memory"},
        {LED_OpenDevice_Failed, "LED_OpenDevice_Failed: Open LED Device Failed"},
        {LED_INVALID_HANDLE, "LED_INVALID_HANDLE: Invalid Device Handle"},
        {LED_INVALID_PORTNUM, "LED_INVALID_PORTNUM: Invalid LED Port Number"},
        {5, nullptr},
        {-1, nullptr},
        {0x7FFFFFFF, nullptr},
    };
    for (const auto& row : rows) {
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(LED_GetErrorMessage(row.code, buffer), LED_SUCCESS);
        if (row.text == nullptr) {
            EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#')) << row.code;
            continue;
        }
        const size_t length = std::strlen(row.text);
        EXPECT_EQ(std::string(buffer, length), row.text);
        EXPECT_EQ(buffer[length], '\0');
        EXPECT_EQ(buffer[length + 1], '#');  // not a byte more
        EXPECT_LE(length + 1, size_t{LED_MESSAGE_BUFFER_SIZE});
    }
    char longest[64];
    LED_GetErrorMessage(LED_OpenDevice_Failed, longest);
    EXPECT_EQ(std::strlen(longest) + 1, size_t{LED_MESSAGE_BUFFER_SIZE});
}

// Threads share the one connection: the library serialises the calls, so none sends another's bytes.
TEST_F(TamLEDTest, ConcurrentCallersNeverMixTheirRequests) {
    const LED_LONG handle = Open();
    constexpr int kThreads = 4;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::minstd_rand random(static_cast<unsigned>(t + 11));
            const auto led = static_cast<unsigned short>(t);
            for (int i = 0; i < 400; ++i) {
                const bool on = (random() & 1) != 0;
                (on ? LED_On : LED_Off)(handle, led);
                LED_ULONG state = 9;
                LED_GetStatus(handle, led, &state);
                if (state != (on ? 1u : 0u)) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(TamLEDTest, FirstOpensAtOnceCreateOneConnection) {
    std::vector<LED_LONG> handles(6, 0);
    std::vector<std::thread> threads;
    for (auto& handle : handles) {
        threads.emplace_back([&handle] { LED_DeviceOpen(&handle); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_NE(handles[0], 0);
    for (LED_LONG handle : handles) {
        EXPECT_EQ(handle, handles[0]);
    }
    EXPECT_EQ(Calls("GlobalAlloc"), 1u);
    EXPECT_EQ(Calls("CreateFileA"), 1u);
    EXPECT_EQ(board_.Process().GlobalBlocks(), 1u);
}

// Without the chip the device fails its start and the system removes it: there is nothing to open.
TEST(TamLEDAbsentChip, OpenReportsThatTheDeviceCannotBeOpened) {
    vboard::VirtualBoard board({board::ChipPlacement::Absent, Stage::Started});
    EXPECT_EQ(board.Device(), nullptr);
    LED_LONG handle = 5;
    EXPECT_EQ(LED_DeviceOpen(&handle), LED_OpenDevice_Failed);
    EXPECT_EQ(handle, 0);
}

}  // namespace
