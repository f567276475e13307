// Power requests on the virtual board: the decision table (save, restore or nothing), the restore's retry, and
// the pass-down of every request.
#include <gtest/gtest.h>

#include "SystemSupport.h"

namespace {

using namespace systemtest;

enum class Action { None, SaveSleep, SaveHibernate, Restore };

struct Row {
    UCHAR minor;
    POWER_STATE_TYPE type;
    POWER_ACTION action;
    ULONG state;
    Action expected;
};

std::vector<Row> DecisionTable() {
    std::vector<Row> rows;
    const ULONG states[] = {0, 1, 2, 3, 4, 5, 6, 7, 9};
    for (ULONG state : states) {
        const bool sleeping = state >= PowerSystemSleeping1 && state <= PowerSystemSleeping3;
        rows.push_back({IRP_MN_SET_POWER, SystemPowerState, PowerActionSleep, state,
                        sleeping ? Action::SaveSleep : state == PowerSystemWorking ? Action::Restore : Action::None});
        rows.push_back({IRP_MN_SET_POWER, SystemPowerState, PowerActionHibernate, state, Action::SaveHibernate});
        for (POWER_ACTION other : {PowerActionNone, PowerActionReserved, PowerActionShutdown, PowerActionShutdownReset,
                                   PowerActionWarmEject, static_cast<POWER_ACTION>(20)}) {
            rows.push_back({IRP_MN_SET_POWER, SystemPowerState, other, state, Action::None});
        }
        rows.push_back({IRP_MN_SET_POWER, DevicePowerState, PowerActionSleep, state, Action::None});
        rows.push_back({IRP_MN_SET_POWER, static_cast<POWER_STATE_TYPE>(7), PowerActionHibernate, state, Action::None});
        for (UCHAR minor : {UCHAR{IRP_MN_WAIT_WAKE}, UCHAR{IRP_MN_POWER_SEQUENCE}, UCHAR{IRP_MN_QUERY_POWER}, UCHAR{0x09}}) {
            rows.push_back({minor, SystemPowerState, PowerActionSleep, state, Action::None});
            rows.push_back({minor, SystemPowerState, PowerActionHibernate, state, Action::None});
        }
    }
    return rows;
}

TEST(PowerDispatch, EveryRowOfTheDecisionTableAndThePassDown) {
    vboard::VirtualBoard board;
    auto& kernel = board.Kernel();
    // The lower driver's answer comes back unchanged, whatever the driver did on the way down.
    board.RootBus().AnswerAll(IRP_MJ_POWER, host::BusAnswer::With(STATUS_DEVICE_NOT_READY));
    for (const Row& row : DecisionTable()) {
        SCOPED_TRACE(testing::Message() << "minor " << int(row.minor) << " type " << row.type << " action "
                                        << row.action << " state " << row.state);
        board.Extension()->m_LEDStatus = 0x0F;
        board.Chip().SetRegister(7, 0xF1, 0x5A);
        board.Ports().ClearTrace();
        board.RootBus().ClearRequests();
        kernel.Debug().Clear();
        const uint64_t started = kernel.PowerIrpsStarted();

        const host::IoResult result = board.Power().Send(row.minor, row.type, row.state, row.action);

        EXPECT_EQ(result.status, STATUS_DEVICE_NOT_READY);
        EXPECT_EQ(result.returned, STATUS_DEVICE_NOT_READY);
        EXPECT_EQ(kernel.PowerIrpsStarted(), started + 1);
        const auto requests = board.RootBus().Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].major, IRP_MJ_POWER);
        EXPECT_EQ(requests[0].minor, row.minor);
        EXPECT_EQ(requests[0].powerType, row.type);
        EXPECT_EQ(requests[0].powerState, row.state);
        EXPECT_EQ(requests[0].powerAction, row.action);
        EXPECT_EQ(requests[0].statusOnArrival, STATUS_NOT_SUPPORTED);

        const auto messages = kernel.Debug().Messages();
        const RegisterAccesses data = AccessesOf(board.Ports(), 0xF1);
        switch (row.expected) {
        case Action::None:
            EXPECT_EQ(board.Ports().TraceCount(), 0u);
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(board.Extension()->m_LEDStatus, 0x0F);
            break;
        case Action::SaveSleep:
        case Action::SaveHibernate:
            EXPECT_EQ(board.Ports().TraceCount(), 19u);
            EXPECT_EQ(board.Extension()->m_LEDStatus, 0x5A);
            EXPECT_EQ(messages, (std::vector<std::string>{row.expected == Action::SaveSleep
                                                              ? "System Stand by: m_LEDStatus = 0x5A \n\n"
                                                              : "Hibernate: m_LEDStatus = 0x5A \n\n"}));
            break;
        case Action::Restore:
            EXPECT_EQ(data.writes, 1);
            EXPECT_EQ(data.reads, 1);
            EXPECT_EQ(board.Chip().Register(7, 0xF1), 0x0F);
            EXPECT_EQ(board.Extension()->m_LEDStatus, 0x0F);
            EXPECT_EQ(messages, (std::vector<std::string>{"Resume from Hibernate: m_LEDStatus = 0xF \n\n",
                                                          "Resume from Hibernate: Value = 0xF \n\n"}));
            break;
        }
    }
}

TEST(PowerRestore, RetriesUntilTheLatchTakesTheByteEightReadBacksAtMost) {
    const struct {
        uint32_t ignoredWrites;
        int writes;
        int reads;
        uint8_t latchAfter;
    } rows[] = {
        {0, 1, 1, 0x81}, {1, 2, 2, 0x81}, {3, 4, 4, 0x81}, {7, 8, 8, 0x81},
        {8, 9, 8, 0x81},  // the ninth write is not read back, yet it took
        {board::W836x7Chip::kIgnoreForever, 9, 8, 0x00},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ignoredWrites);
        vboard::VirtualBoard board;
        auto handle = board.Open();
        ASSERT_EQ(SetLed(board, *handle, 0, 1), STATUS_SUCCESS);
        ASSERT_EQ(SetLed(board, *handle, 7, 1), STATUS_SUCCESS);
        board.Power().Sleep();
        board.Chip().Reset();  // the chip lost power
        board.Chip().IgnoreLatchWrites(row.ignoredWrites);
        board.Ports().ClearTrace();
        board.Kernel().Debug().Clear();

        EXPECT_EQ(board.Power().WakeFromSleep().status, STATUS_SUCCESS);

        const RegisterAccesses data = AccessesOf(board.Ports(), 0xF1);
        EXPECT_EQ(data.writes, row.writes);
        EXPECT_EQ(data.reads, row.reads);
        EXPECT_EQ(board.Chip().Register(7, 0xF1), row.latchAfter);
        const auto messages = board.Kernel().Debug().Messages();
        ASSERT_EQ(messages.size(), 1u + row.reads);
        EXPECT_EQ(messages[0], "Resume from Hibernate: m_LEDStatus = 0x81 \n\n");
        for (int i = 1; i <= row.reads; ++i) {
            const bool last = i == row.reads && row.writes == row.reads;
            EXPECT_EQ(messages[i], last ? "Resume from Hibernate: Value = 0x81 \n\n"
                                        : "Resume from Hibernate: Value = 0x0 \n\n");
        }
        board.Io().Close(*handle);
    }
}

TEST(PowerRestore, GoesOnWithoutAChipAndBeforeAnySave) {
    vboard::VirtualBoard board;
    board.Chip().SetPlacement(board::ChipPlacement::Absent);
    board.Kernel().Debug().Clear();
    EXPECT_EQ(board.Power().WakeFromSleep().status, STATUS_SUCCESS);
    // Nothing answers: every read-back is 0xFF against the 0 that start left in m_LEDStatus.
    const auto messages = board.Kernel().Debug().Messages();
    ASSERT_EQ(messages.size(), 9u);
    EXPECT_EQ(messages[0], "Resume from Hibernate: m_LEDStatus = 0x0 \n\n");
    EXPECT_EQ(messages[8], "Resume from Hibernate: Value = 0xFF \n\n");
    EXPECT_EQ(g_SioIndexPort, 0x4E);
}

// An index write from one sequence in the middle of another redirects its data access or leaves configuration
// mode under it; either shows in the chip as a stray register or as data traffic outside configuration mode.
TEST(PowerDispatch, ThePowerPathAndDeviceControlNeverInterleaveSequences) {
    vboard::VirtualBoard board;
    auto handle = board.Open();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread requests([&] {
        for (uint8_t value = 0; !stop; value ^= 1) {
            SetLed(board, *handle, 2, value);
            ++sent;
        }
    });
    // Both sides run together for a while, whichever is faster.
    for (int cycles = 0; cycles < 300 || sent < 3000; ++cycles) {
        board.Power().Sleep();
        board.Power().WakeFromSleep();
    }
    stop = true;
    requests.join();
    EXPECT_EQ(board.Chip().Diagnostics(), board::ChipDiagnostics{});
    for (int reg = 0x00; reg <= 0xFF; ++reg) {
        const bool used = reg == 0x07 || reg == 0x20 || reg == 0x21 || reg == 0x2A || reg == 0x30 ||
                          (reg >= 0xF0 && reg <= 0xF2);
        if (!used) {
            EXPECT_EQ(board.Chip().Register(7, static_cast<uint8_t>(reg)), 0) << "stray write to 0x" << std::hex << reg;
        }
    }
    board.Io().Close(*handle);
}

}  // namespace
