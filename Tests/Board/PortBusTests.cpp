// Tests of the port bus: dispatch to devices, open bus, trace ring, listener and thread safety.
#include <array>
#include <cstdint>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "BoardTestSupport.h"
#include "PortBus.h"

namespace board_test {
namespace {

using board::PortBus;

// The bus holds its whole trace ring inline, so keep it off the stack.
class PortBusTest : public testing::Test {
protected:
    std::unique_ptr<PortBus> owned_ = std::make_unique<PortBus>();
    PortBus& bus_ = *owned_;
};

// Dispatch and open bus

TEST_F(PortBusTest, UnclaimedPortsReadAsOpenBusAndSwallowWrites)
{
    MemoryDevice device(0x100, 0x101, 0x42);
    ASSERT_TRUE(bus_.Attach(device));

    constexpr std::array<std::uint16_t, 5> kUnclaimed = {0x0000, 0x00FF, 0x0102, 0x2E, 0xFFFF};
    for (std::uint16_t port : kUnclaimed) {
        bus_.Out(port, 0x00);
        EXPECT_EQ(bus_.In(port), 0xFF) << "port 0x" << std::hex << port;
    }
    EXPECT_EQ(device.reads, 0u);
    EXPECT_EQ(device.writes, 0u);
    EXPECT_EQ(device.At(0x100), 0x42);
    // Open-bus traffic is traced like any other.
    EXPECT_EQ(bus_.TraceCount(), 2 * kUnclaimed.size());
}

TEST_F(PortBusTest, ClaimedPortsReachTheirDevice)
{
    MemoryDevice low(0x10, 0x1F);
    MemoryDevice high(0x80, 0x80);
    ASSERT_TRUE(bus_.Attach(low));
    ASSERT_TRUE(bus_.Attach(high));

    bus_.Out(0x1F, 0x5A);
    bus_.Out(0x80, 0xC3);
    EXPECT_EQ(bus_.In(0x1F), 0x5A);
    EXPECT_EQ(bus_.In(0x80), 0xC3);
    EXPECT_EQ(bus_.In(0x10), 0x00);
    EXPECT_EQ(low.writes, 1u);
    EXPECT_EQ(high.writes, 1u);
    EXPECT_EQ(low.reads, 2u);
    EXPECT_EQ(high.reads, 1u);
}

TEST_F(PortBusTest, FirstAttachedDeviceWinsOverlappingPorts)
{
    MemoryDevice first(0x60, 0x60, 0x11);
    MemoryDevice second(0x60, 0x60, 0x22);
    ASSERT_TRUE(bus_.Attach(first));
    ASSERT_TRUE(bus_.Attach(second));
    EXPECT_EQ(bus_.In(0x60), 0x11);

    ASSERT_TRUE(bus_.Detach(first));
    EXPECT_EQ(bus_.In(0x60), 0x22);
}

TEST_F(PortBusTest, AttachIsBoundedAndRejectsDuplicates)
{
    std::vector<std::unique_ptr<MemoryDevice>> devices;
    for (std::size_t i = 0; i <= PortBus::kMaxDevices; ++i) {
        const auto port = static_cast<std::uint16_t>(0x200 + i);
        devices.push_back(std::make_unique<MemoryDevice>(port, port, static_cast<std::uint8_t>(i)));
    }
    ASSERT_TRUE(bus_.Attach(*devices[0]));
    EXPECT_FALSE(bus_.Attach(*devices[0])) << "already attached, room left";
    for (std::size_t i = 1; i < PortBus::kMaxDevices; ++i) {
        EXPECT_TRUE(bus_.Attach(*devices[i])) << "device " << i;
    }
    MemoryDevice& extra = *devices.back();
    EXPECT_FALSE(bus_.Attach(extra)) << "bus is full";
    EXPECT_EQ(bus_.In(0x200 + PortBus::kMaxDevices), 0xFF);

    ASSERT_TRUE(bus_.Detach(*devices[1]));
    EXPECT_TRUE(bus_.Attach(extra)) << "a detach frees a slot";
    EXPECT_EQ(bus_.In(0x200 + PortBus::kMaxDevices), PortBus::kMaxDevices);
    EXPECT_TRUE(bus_.Detach(*devices[0]));
    EXPECT_FALSE(bus_.Detach(*devices[0])) << "attached only once";
}

TEST_F(PortBusTest, DetachedDeviceNoLongerAnswers)
{
    MemoryDevice device(0x70, 0x70, 0x33);
    MemoryDevice never(0x71, 0x71);
    EXPECT_FALSE(bus_.Detach(never)) << "never attached";

    ASSERT_TRUE(bus_.Attach(device));
    ASSERT_TRUE(bus_.Detach(device));
    EXPECT_FALSE(bus_.Detach(device)) << "already detached";
    bus_.Out(0x70, 0x44);
    EXPECT_EQ(bus_.In(0x70), 0xFF);
    EXPECT_EQ(device.writes, 0u);
    EXPECT_EQ(device.At(0x70), 0x33);
}

// Trace

TEST_F(PortBusTest, TraceRecordsEveryOperationInOrder)
{
    MemoryDevice device(0x300, 0x301, 0x9C);
    ASSERT_TRUE(bus_.Attach(device));

    bus_.Out(0x300, 0x01);
    (void)bus_.In(0x301);
    (void)bus_.In(0x300);
    bus_.Out(0x80, 0x7E);
    (void)bus_.In(0x80);
    bus_.Out(0x301, 0x00);
    (void)bus_.In(0x301);

    const std::vector<PortOperation> expected = {
        Out(0x300, 0x01), In(0x301, 0x9C), In(0x300, 0x01), Out(0x80, 0x7E),
        In(0x80, 0xFF),   Out(0x301, 0x00), In(0x301, 0x00),
    };
    EXPECT_EQ(bus_.TraceCount(), expected.size());
    EXPECT_FALSE(bus_.TraceOverflowed());
    EXPECT_EQ(HeldTrace(bus_), expected);
    EXPECT_EQ(bus_.TraceAt(expected.size()), PortOperation{}) << "past the end";
    EXPECT_FALSE(bus_.TraceHeld(expected.size()));
}

TEST_F(PortBusTest, ClearTraceRestartsNumbering)
{
    bus_.Out(0x10, 0x01);
    bus_.Out(0x11, 0x02);
    bus_.ClearTrace();
    EXPECT_EQ(bus_.TraceCount(), 0u);
    EXPECT_FALSE(bus_.TraceHeld(0));

    bus_.Out(0x12, 0x03);
    EXPECT_EQ(HeldTrace(bus_), std::vector<PortOperation>{Out(0x12, 0x03)});
}

struct RingCase {
    std::uint64_t operations;
    bool overflowed;
    std::uint64_t firstHeld;
};

constexpr std::uint64_t kCap = PortBus::kTraceCapacity;
constexpr std::array<RingCase, 5> kRingCases = {{
    {kCap - 1, false, 0},
    {kCap, false, 0},
    {kCap + 1, true, 1},
    {kCap + 5, true, 5},
    {2 * kCap + 3, true, kCap + 3},
}};

TEST_F(PortBusTest, RingKeepsTheNewestOperationsAndCountsThemAll)
{
    for (const RingCase& c : kRingCases) {
        SCOPED_TRACE(testing::Message() << c.operations << " operations");
        bus_.ClearTrace();
        // The port number is the operation's index, so a misplaced entry shows.
        for (std::uint64_t i = 0; i < c.operations; ++i) {
            bus_.Out(static_cast<std::uint16_t>(i), static_cast<std::uint8_t>(i * 7));
        }
        EXPECT_EQ(bus_.TraceCount(), c.operations);
        EXPECT_EQ(bus_.TraceOverflowed(), c.overflowed);
        ASSERT_EQ(bus_.TraceFirstHeld(), c.firstHeld);
        if (c.firstHeld > 0) {
            EXPECT_FALSE(bus_.TraceHeld(c.firstHeld - 1));
            EXPECT_EQ(bus_.TraceAt(c.firstHeld - 1), PortOperation{}) << "dropped entry must not leak";
        }
        for (std::uint64_t i = c.firstHeld; i < c.operations; ++i) {
            ASSERT_EQ(bus_.TraceAt(i), Out(static_cast<std::uint16_t>(i), static_cast<std::uint8_t>(i * 7)))
                << "index " << i;
        }
    }
}

TEST_F(PortBusTest, ClearAfterOverflowStartsAFreshRing)
{
    for (std::uint64_t i = 0; i < kCap + 10; ++i) {
        bus_.Out(0x90, static_cast<std::uint8_t>(i));
    }
    ASSERT_TRUE(bus_.TraceOverflowed());
    bus_.ClearTrace();
    EXPECT_FALSE(bus_.TraceOverflowed());
    EXPECT_EQ(bus_.TraceFirstHeld(), 0u);

    bus_.Out(0x91, 0xAB);
    (void)bus_.In(0x92);
    EXPECT_EQ(HeldTrace(bus_), (std::vector<PortOperation>{Out(0x91, 0xAB), In(0x92, 0xFF)}));
}

// Listener

struct ListenerLog {
    std::vector<PortOperation> seen;
};

void RecordOperation(void* context, const PortOperation& operation)
{
    auto* log = static_cast<ListenerLog*>(context);
    log->seen.push_back(operation);
}

TEST_F(PortBusTest, ListenerSeesEachOperationWithItsValue)
{
    MemoryDevice device(0x400, 0x400, 0x5D);
    ASSERT_TRUE(bus_.Attach(device));
    ListenerLog log;
    bus_.SetListener(&RecordOperation, &log);

    (void)bus_.In(0x400);
    bus_.Out(0x400, 0x21);
    (void)bus_.In(0x400);
    (void)bus_.In(0x401);

    const std::vector<PortOperation> expected = {In(0x400, 0x5D), Out(0x400, 0x21), In(0x400, 0x21),
                                                 In(0x401, 0xFF)};
    EXPECT_EQ(log.seen, expected);
    EXPECT_EQ(HeldTrace(bus_), expected);
}

TEST_F(PortBusTest, ClearedListenerIsNotCalled)
{
    ListenerLog log;
    bus_.SetListener(&RecordOperation, &log);
    bus_.Out(0x10, 0x01);
    bus_.SetListener(nullptr, nullptr);
    bus_.Out(0x10, 0x02);
    (void)bus_.In(0x10);

    EXPECT_EQ(log.seen, std::vector<PortOperation>{Out(0x10, 0x01)});
    EXPECT_EQ(bus_.TraceCount(), 3u);
}

// Threads

// Every operation in arrival order; a plain vector, so only the bus lock keeps it intact.
void AppendOperation(void* context, const PortOperation& operation)
{
    static_cast<std::vector<PortOperation>*>(context)->push_back(operation);
}

TEST_F(PortBusTest, ConcurrentOperationsStayWholeAndCounted)
{
    constexpr int kThreads = 4;
    constexpr int kRoundsPerThread = 20000; // one Out and one In per round; overflows the ring
    constexpr std::uint16_t kFirstPort = 0x500;
    constexpr std::uint64_t kTotal = 2ull * kThreads * kRoundsPerThread;

    MemoryDevice device(kFirstPort, kFirstPort + kThreads - 1);
    ASSERT_TRUE(bus_.Attach(device));
    std::vector<PortOperation> log;
    log.reserve(kTotal);
    bus_.SetListener(&AppendOperation, &log);

    std::latch start(kThreads);
    std::array<int, kThreads> mismatches{};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &start, &mismatches] {
            const auto port = static_cast<std::uint16_t>(kFirstPort + t);
            start.arrive_and_wait();
            for (int round = 0; round < kRoundsPerThread; ++round) {
                const auto value = static_cast<std::uint8_t>(round);
                bus_.Out(port, value);
                if (bus_.In(port) != value) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(bus_.TraceCount(), kTotal);
    ASSERT_EQ(log.size(), kTotal);
    EXPECT_EQ(device.reads, kTotal / 2);
    EXPECT_EQ(device.writes, kTotal / 2);
    EXPECT_EQ(mismatches, (std::array<int, kThreads>{}));

    // The ring holds exactly the newest part of what the listener saw, in the same order.
    const std::vector<PortOperation> tail(log.end() - PortBus::kTraceCapacity, log.end());
    EXPECT_EQ(HeldTrace(bus_), tail);

    // Each thread's operations appear whole and in its program order.
    std::array<int, kThreads> nextRound{};
    std::array<bool, kThreads> expectIn{};
    for (const PortOperation& op : log) {
        ASSERT_GE(op.port, kFirstPort);
        ASSERT_LT(op.port, kFirstPort + kThreads);
        const int t = op.port - kFirstPort;
        const auto value = static_cast<std::uint8_t>(nextRound[t]);
        ASSERT_EQ(op, expectIn[t] ? In(op.port, value) : Out(op.port, value)) << "thread " << t;
        if (expectIn[t]) {
            ++nextRound[t];
        }
        expectIn[t] = !expectIn[t];
    }
    EXPECT_EQ(nextRound, (std::array<int, kThreads>{kRoundsPerThread, kRoundsPerThread, kRoundsPerThread,
                                                     kRoundsPerThread}));
}

} // namespace
} // namespace board_test
