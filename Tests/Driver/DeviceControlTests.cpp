// Device-control requests through the stand-in I/O manager: every row of the contract, the locks, and what the
// caller's buffer holds afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "DeviceFixture.h"

namespace {

using testsupport::DeviceFixture;
using Bytes = std::vector<uint8_t>;

constexpr ULONG kUnknownCode = 0x222454;  // function 0x915

class DeviceControlTest : public DeviceFixture {};

struct Row {
    const char* name;
    bool started;
    ULONG code;
    Bytes input;
    ULONG outputLength;
    NTSTATUS status;
    ULONG_PTR information;
    Bytes reply;          // the caller's output buffer afterwards
    uint64_t operations;  // port operations the request made
};

const Bytes kNone{};
const Bytes kCount8{0x08, 0x00, 0x00, 0x00};

TEST_F(DeviceControlTest, EveryRowOfTheContract) {
    const NTSTATUS tooSmall = STATUS_BUFFER_TOO_SMALL;
    const NTSTATUS invalid = STATUS_INVALID_PARAMETER;
    const Row rows[] = {
        {"count", true, IOCTL_LED_GET_COUNT, kNone, 4, STATUS_SUCCESS, 4, kCount8, 0},
        {"count, 8-byte output", true, IOCTL_LED_GET_COUNT, kNone, 8, STATUS_SUCCESS, 4,
         {0x08, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE}, 0},
        {"count, input ignored", true, IOCTL_LED_GET_COUNT, {1, 2, 3, 4, 5}, 4, STATUS_SUCCESS, 4, kCount8, 0},
        {"count, 3-byte output", true, IOCTL_LED_GET_COUNT, kNone, 3, tooSmall, 4, {0xEE, 0xEE, 0xEE}, 0},
        {"count before start", false, IOCTL_LED_GET_COUNT, kNone, 4, STATUS_SUCCESS, 4, {0, 0, 0, 0}, 0},

        {"status of LED 3 (on)", true, IOCTL_LED_GET_STATUS, {3, 0}, 2, STATUS_SUCCESS, 2, {3, 1}, 19},
        {"status of LED 2 (off), value byte replaced", true, IOCTL_LED_GET_STATUS, {2, 0x77}, 2, STATUS_SUCCESS, 2,
         {2, 0}, 19},
        {"status, longer buffers keep their tail", true, IOCTL_LED_GET_STATUS, {3, 0, 0x55, 0x66}, 4,
         STATUS_SUCCESS, 2, {3, 1, 0xEE, 0xEE}, 19},
        {"status of LED 9", true, IOCTL_LED_GET_STATUS, {9, 0x44}, 2, STATUS_SUCCESS, 2, {9, 0}, 0},
        {"status before start", false, IOCTL_LED_GET_STATUS, {0, 0}, 2, STATUS_SUCCESS, 2, {0, 0}, 0},
        {"status, 1-byte output", true, IOCTL_LED_GET_STATUS, {3, 0}, 1, tooSmall, 2, {0xEE}, 0},
        {"status, 1-byte input", true, IOCTL_LED_GET_STATUS, {3}, 2, tooSmall, 2, {0xEE, 0xEE}, 0},

        {"set LED 3 on", true, IOCTL_LED_SET_STATUS, {3, 1}, 2, STATUS_SUCCESS, 2, {3, 1}, 76},
        {"set, 4 in and 4 out", true, IOCTL_LED_SET_STATUS, {4, 1, 0xAB, 0xCD}, 4, STATUS_SUCCESS, 4,
         {4, 1, 0xAB, 0xCD}, 76},
        {"set, no output buffer", true, IOCTL_LED_SET_STATUS, {5, 0}, 0, STATUS_SUCCESS, 2, kNone, 76},
        {"set, output shorter than input", true, IOCTL_LED_SET_STATUS, {6, 1, 0xAB, 0xCD}, 2, STATUS_SUCCESS, 2,
         {6, 1}, 76},
        {"set LED 8", true, IOCTL_LED_SET_STATUS, {8, 1}, 2, invalid, 0, {0xEE, 0xEE}, 0},
        {"set before start", false, IOCTL_LED_SET_STATUS, {0, 1}, 2, invalid, 0, {0xEE, 0xEE}, 0},
        {"set, 1-byte input", true, IOCTL_LED_SET_STATUS, {3}, 2, tooSmall, 2, {0xEE, 0xEE}, 0},

        {"direction of LED 2", true, IOCTL_LED_GET_DIRECTION, {2, 0x33}, 2, STATUS_SUCCESS, 2, {2, 0}, 19},
        {"direction of LED 8", true, IOCTL_LED_GET_DIRECTION, {8, 0}, 2, invalid, 0, {0xEE, 0xEE}, 0},
        {"direction before start", false, IOCTL_LED_GET_DIRECTION, {0, 0}, 2, invalid, 0, {0xEE, 0xEE}, 0},
        {"direction, 1-byte output", true, IOCTL_LED_GET_DIRECTION, {2, 0}, 1, tooSmall, 2, {0xEE}, 0},
        {"direction, 1-byte input", true, IOCTL_LED_GET_DIRECTION, {2}, 2, tooSmall, 2, {0xEE, 0xEE}, 0},

        {"set direction of LED 5", true, IOCTL_LED_SET_DIRECTION, {5, 1}, 2, STATUS_SUCCESS, 2, {5, 1}, 38},
        {"set direction, no output", true, IOCTL_LED_SET_DIRECTION, {5, 1, 9}, 0, STATUS_SUCCESS, 3, kNone, 38},
        {"set direction of LED 8", true, IOCTL_LED_SET_DIRECTION, {8, 1}, 2, invalid, 0, {0xEE, 0xEE}, 0},
        {"set direction, 1-byte input", true, IOCTL_LED_SET_DIRECTION, {5}, 0, tooSmall, 2, kNone, 0},

        {"unknown code", true, kUnknownCode, {3, 1}, 2, invalid, 0, {0xEE, 0xEE}, 0},
        {"unknown code, no buffers", true, 0x00220000, kNone, 0, invalid, 0, kNone, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        chip_.Reset();
        if (row.started) {
            StartDevice();
            chip_.SetRegister(7, 0xF1, 0x08);  // LED 3 on, the rest off
        } else {
            Extension()->m_LEDCount = 0;
        }
        bus_.ClearTrace();

        const Reply reply = Control(row.code, row.input, row.outputLength);

        EXPECT_EQ(reply.result.status, row.status);
        EXPECT_EQ(reply.result.returned, row.status);
        EXPECT_EQ(reply.result.information, row.information);
        EXPECT_EQ(reply.output, row.reply);
        EXPECT_EQ(bus_.TraceCount(), row.operations);
        EXPECT_FALSE(chip_.InConfigMode());
    }
}

TEST_F(DeviceControlTest, SetStatusSwitchesTheLedAndDirectionLastsOneSequence) {
    StartDevice();
    ASSERT_EQ(Control(IOCTL_LED_SET_STATUS, {3, 1}, 2).result.status, STATUS_SUCCESS);
    EXPECT_EQ(chip_.OutputLevels(), 0x08);
    ASSERT_EQ(Control(IOCTL_LED_SET_STATUS, {0, 0x80}, 2).result.status, STATUS_SUCCESS);
    EXPECT_EQ(chip_.OutputLevels(), 0x09);
    ASSERT_EQ(Control(IOCTL_LED_SET_STATUS, {3, 0}, 2).result.status, STATUS_SUCCESS);
    EXPECT_EQ(chip_.OutputLevels(), 0x01);

    ASSERT_EQ(Control(IOCTL_LED_SET_DIRECTION, {5, 1}, 2).result.status, STATUS_SUCCESS);
    EXPECT_EQ(chip_.Register(7, 0xF0), 0x20);
    const Reply direction = Control(IOCTL_LED_GET_DIRECTION, {5, 0}, 2);
    EXPECT_EQ(direction.output, (Bytes{5, 0}));
}

// Requests a kernel-mode sender builds without a system buffer reach the all-zeros rows.
TEST_F(DeviceControlTest, RequestsWithoutASystemBuffer) {
    const struct {
        ULONG code;
        ULONG in, out;
        ULONG_PTR information;
    } rows[] = {
        {IOCTL_LED_GET_COUNT, 0, 4, 4},      {IOCTL_LED_GET_STATUS, 2, 2, 2},     {IOCTL_LED_SET_STATUS, 2, 2, 2},
        {IOCTL_LED_GET_DIRECTION, 2, 2, 2}, {IOCTL_LED_SET_DIRECTION, 6, 0, 6}, {IOCTL_LED_SET_DIRECTION, 2, 2, 2},
    };
    StartDevice();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        host::IrpSetup setup;
        setup.location.MajorFunction = IRP_MJ_DEVICE_CONTROL;
        setup.location.Parameters.DeviceIoControl.IoControlCode = row.code;
        setup.location.Parameters.DeviceIoControl.InputBufferLength = row.in;
        setup.location.Parameters.DeviceIoControl.OutputBufferLength = row.out;
        bus_.ClearTrace();
        const host::IoResult result = kernel_.Io().Send(board_.Device(), setup);
        EXPECT_EQ(result.status, STATUS_BUFFER_ALL_ZEROS);
        EXPECT_EQ(result.information, row.information);
        EXPECT_EQ(bus_.TraceCount(), 0u);
    }
}

TEST_F(DeviceControlTest, ARefusedRemoveLockCompletesWithItsStatusAndLeavesTheChipAlone) {
    StartDevice();
    // Removal has begun: the lock refuses every new holder.
    PIO_REMOVE_LOCK lock = &Extension()->m_RemoveLock;
    ASSERT_EQ(IoAcquireRemoveLockEx(lock, this, "", 1, sizeof(IO_REMOVE_LOCK)), STATUS_SUCCESS);
    IoReleaseRemoveLockAndWaitEx(lock, this, sizeof(IO_REMOVE_LOCK));

    for (ULONG code : {ULONG{IOCTL_LED_GET_COUNT}, ULONG{IOCTL_LED_SET_STATUS}, kUnknownCode}) {
        const Reply reply = Control(code, {1, 1}, 4);
        EXPECT_EQ(reply.result.status, STATUS_DELETE_PENDING);
        EXPECT_EQ(reply.result.information, 0u);
        EXPECT_EQ(reply.output, (Bytes{0xEE, 0xEE, 0xEE, 0xEE}));
    }
    EXPECT_EQ(bus_.TraceCount(), 0u);
    EXPECT_EQ(kernel_.Io().RemoveLockHeld(lock), 0u);
}

TEST_F(DeviceControlTest, TheRequestPathNeitherAllocatesNorWaits) {
    StartDevice();
    const uint64_t allocations = kernel_.Memory().Allocations();
    const uint64_t waits = kernel_.Waits();
    for (int i = 0; i < 50; ++i) {
        const UCHAR led = static_cast<UCHAR>(i % 8);
        Control(IOCTL_LED_SET_STATUS, {led, static_cast<uint8_t>(i & 1)}, 2);
        Control(IOCTL_LED_GET_STATUS, {led, 0}, 2);
        Control(IOCTL_LED_GET_COUNT, {}, 4);
        Control(IOCTL_LED_SET_DIRECTION, {led, 1}, 2);
        Control(IOCTL_LED_GET_DIRECTION, {led, 0}, 2);
    }
    EXPECT_EQ(kernel_.Memory().Allocations(), allocations);
    EXPECT_EQ(kernel_.Waits(), waits);
}

// Eight threads, each owning one LED: a read-modify-write torn by another request would flip a foreign bit
// back, which the owner sees on its next read.
TEST_F(DeviceControlTest, ConcurrentRequestsAreStrictlySerialised) {
    StartDevice();
    constexpr int kThreads = 8;
    constexpr int kRounds = 1500;
    std::atomic<int> mismatches{0};
    std::vector<uint8_t> last(kThreads, 0);
    std::vector<host::FileHandle> handles;
    for (int t = 0; t < kThreads; ++t) {
        NTSTATUS status;
        handles.push_back(*board_.Open(&status));
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::minstd_rand random(static_cast<unsigned>(t + 1));
            const uint8_t led = static_cast<uint8_t>(t);
            for (int round = 0; round < kRounds; ++round) {
                const uint8_t value = static_cast<uint8_t>(random() & 1);
                Control(IOCTL_LED_SET_STATUS, {led, value}, 2, handles[t]);
                const Reply reply = Control(IOCTL_LED_GET_STATUS, {led, 0}, 2, handles[t]);
                if (reply.output[1] != value) {
                    ++mismatches;
                }
                last[t] = value;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (auto handle : handles) {
        kernel_.Io().Close(handle);
    }
    EXPECT_EQ(mismatches.load(), 0);
    uint8_t expected = 0;
    for (int t = 0; t < kThreads; ++t) {
        expected = static_cast<uint8_t>(expected | (last[t] << t));
    }
    EXPECT_EQ(chip_.OutputLevels(), expected);
    EXPECT_EQ(chip_.Diagnostics(), board::ChipDiagnostics{});
}

}  // namespace
