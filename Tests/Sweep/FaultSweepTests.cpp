// The whole life of the driver and the library, run again and again with one fail-able routine failing at one
// of its calls, every routine and call in turn: each run ends with the outcome that failure must have, no leak
// and no broken kernel rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Kernel32.h"
#include "TamLED.h"
#include "VirtualBoard.h"

namespace {

struct Fault {
    std::string routine;
    uint64_t call = 0;
    int32_t status = 0;
};

bool IsLowerDriver(const std::string& routine) { return routine.rfind("LowerDriver.", 0) == 0; }
bool IsKernel32(const std::string& routine) {
    return routine == "GlobalAlloc" || routine == "CreateFileA" || routine == "DeviceIoControl";
}

int32_t FailureFor(const std::string& routine) {
    if (IsKernel32(routine)) {
        return routine == "GlobalAlloc" ? ERROR_NOT_ENOUGH_MEMORY : ERROR_GEN_FAILURE;
    }
    return IsLowerDriver(routine) ? STATUS_UNSUCCESSFUL : STATUS_INSUFFICIENT_RESOURCES;
}

// One life, with at most one fault armed; each step checks its own outcome against what the fault, if it fired
// there, must change.
class Life {
public:
    explicit Life(std::optional<Fault> fault)
        : board_({board::ChipPlacement::At2E, vboard::BoardOptions::Stage::Bare}), fault_(std::move(fault)) {
        if (fault_) {
            board_.Kernel().Faults().FailCall(fault_->routine, fault_->call, fault_->status);
        }
    }

    host::FaultInjector& Faults() { return board_.Kernel().Faults(); }

    void Run() {
        if (!Load()) {
            Open();
            return;
        }
        if (Add()) {
            Start();
        }
        if (Open()) {
            Count();
            Switch();
            SleepAndHibernate();
            if (device_) {
                Restart();
            }
            Close();
        }
        if (device_) {
            Remove();
        }
        board_.Unload();
        EXPECT_EQ(board_.Device(), nullptr);
        EXPECT_EQ(board_.Process().GlobalBlocks(), 0u);
        EXPECT_EQ(board_.Chip().Diagnostics(), board::ChipDiagnostics{});
        if (fault_) {
            EXPECT_EQ(Faults().Fired(), 1u) << "the armed failure was never handed out";
        }
    }

private:
    // Runs one step; gives the routine that failed in it, if the armed fault fired there.
    template <typename Step>
    std::optional<std::string> During(Step&& step) {
        const uint64_t before = Faults().Fired();
        step();
        if (Faults().Fired() != before) {
            return fault_->routine;
        }
        return std::nullopt;
    }

    void Unexpected(const std::string& step, const std::optional<std::string>& failed) {
        ADD_FAILURE() << failed.value_or("?") << " failed in " << step << ", where nothing calls it";
    }

    bool Load() {
        NTSTATUS result = STATUS_PENDING;
        const auto failed = During([&] { result = board_.Load(); });
        if (!failed) {
            EXPECT_EQ(result, STATUS_SUCCESS);
            return true;
        }
        if (*failed != "ExAllocatePoolWithTag") {
            Unexpected("load", failed);
        }
        EXPECT_EQ(result, STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_FALSE(board_.Pnp().Loaded());
        return false;
    }

    bool Add() {
        NTSTATUS result = STATUS_PENDING;
        const auto failed = During([&] { result = board_.Add(); });
        NTSTATUS expected = STATUS_SUCCESS;
        if (failed) {
            if (*failed == "IoCreateDevice" || *failed == "IoCreateSymbolicLink" ||
                *failed == "IoRegisterDeviceInterface") {
                expected = fault_->status;
            } else if (*failed == "ExAllocatePoolWithTag") {
                expected = STATUS_INSUFFICIENT_RESOURCES;
            } else if (*failed == "IoAttachDeviceToDeviceStack") {
                expected = STATUS_NO_SUCH_DEVICE;
            } else if (*failed == "RtlWriteRegistryValue") {
                EXPECT_FALSE(board_.Kernel().Reg().Value(vboard::kServiceKey, u"InterfaceName"));
            } else {
                Unexpected("add", failed);
            }
        }
        EXPECT_EQ(result, expected);
        device_ = result == STATUS_SUCCESS;
        EXPECT_EQ(board_.Device() != nullptr, device_);
        EXPECT_EQ(board_.Io().LinkTarget(u"\\DosDevices\\OrvLEDDev").has_value(), device_);
        return device_;
    }

    // The system's start: a device whose start fails is removed.
    void Start() {
        NTSTATUS result = STATUS_PENDING;
        const auto failed = During([&] { result = board_.Pnp().StartDevice().status; });
        NTSTATUS expected = STATUS_SUCCESS;
        if (failed) {
            if (*failed == "IoSetDeviceInterfaceState" || *failed == "IoSetDeviceInterfacePropertyData") {
                expected = fault_->status;
            } else if (*failed != "LowerDriver.Pnp.0x00" && *failed != "RtlWriteRegistryValue") {
                Unexpected("start", failed);
            }
        }
        EXPECT_EQ(result, expected);
        device_ = result == STATUS_SUCCESS;
        EXPECT_EQ(board_.Device() != nullptr, device_);
    }

    bool Open() {
        LED_LONG result = -1;
        handle_ = 99;
        const auto failed = During([&] { result = LED_DeviceOpen(&handle_); });
        LED_LONG expected = device_ ? LED_SUCCESS : LED_OpenDevice_Failed;
        countKnown_ = device_;
        if (failed) {
            if (*failed == "GlobalAlloc") {
                expected = LED_Memory_Allocate_Failed;
            } else if (*failed == "CreateFileA") {
                expected = LED_OpenDevice_Failed;
            } else if (*failed == "DeviceIoControl") {
                countKnown_ = false;  // the open does not report its failed count request
            } else {
                Unexpected("open", failed);
            }
        }
        EXPECT_EQ(result, expected);
        EXPECT_EQ(handle_ == 0, result != LED_SUCCESS);
        if (result != LED_SUCCESS) {
            EXPECT_EQ(board_.Process().GlobalBlocks(), 0u);
        }
        return result == LED_SUCCESS;
    }

    void Count() {
        LED_ULONG count = 77;
        LED_LONG result = -1;
        const auto failed = During([&] { result = LED_GetCount(handle_, &count); });
        EXPECT_EQ(result, LED_SUCCESS);
        if (!failed) {
            countKnown_ = true;
        } else if (*failed != "DeviceIoControl") {
            Unexpected("count", failed);
        }
        EXPECT_EQ(count, countKnown_ ? 8u : 0u);
    }

    // One call of the library that may switch LED n; the model of the chip follows only what reached it.
    void Library(const char* name, LED_LONG (*call)(LED_LONG, unsigned short), unsigned short led, int value) {
        LED_LONG result = -1;
        const auto failed = During([&] { result = call(handle_, led); });
        if (failed && *failed != "DeviceIoControl") {
            Unexpected(name, failed);
        }
        EXPECT_EQ(result, countKnown_ ? LED_SUCCESS : LED_INVALID_PORTNUM) << name;
        if (countKnown_ && !failed) {
            leds_ = static_cast<uint8_t>(value != 0 ? (leds_ | (1u << led)) : (leds_ & ~(1u << led)));
        }
        EXPECT_EQ(board_.Chip().OutputLevels(), leds_) << "after " << name;
    }

    void Switch() {
        Library("LED_On", LED_On, 3, 1);
        LED_ULONG state = 5;
        LED_LONG result = -1;
        const auto failed = During([&] { result = LED_GetStatus(handle_, 3, &state); });
        EXPECT_EQ(result, countKnown_ ? LED_SUCCESS : LED_INVALID_PORTNUM);
        if (countKnown_ && !failed) {
            EXPECT_EQ(state, (leds_ >> 3) & 1u);
        }
        Library("LED_Off", LED_Off, 3, 0);
        Library("LED_On", LED_On, 5, 1);
    }

    void Power(const char* name, host::IoResult (host::PowerManager::*transition)(), const char* routine) {
        host::IoResult result;
        const auto failed = During([&] { result = (board_.Power().*transition)(); });
        NTSTATUS expected = STATUS_SUCCESS;
        if (failed) {
            if (*failed == routine) {
                expected = fault_->status;  // the lower driver's answer comes back unchanged
            } else if (*failed != "RtlWriteRegistryValue") {
                Unexpected(name, failed);
            }
        }
        EXPECT_EQ(result.status, expected) << name;
    }

    void SleepAndHibernate() {
        Power("sleep", &host::PowerManager::Sleep, "LowerDriver.Power.0x02");
        board_.Chip().Reset();  // the chip loses power and its configuration
        Power("wake", &host::PowerManager::WakeFromSleep, "LowerDriver.Power.0x02");
        if (device_) {
            EXPECT_EQ(board_.Chip().OutputLevels(), leds_) << "the pattern survives a sleep";
        }
        Power("hibernate", &host::PowerManager::Hibernate, "LowerDriver.Power.0x02");
        Power("wake", &host::PowerManager::WakeFromSleep, "LowerDriver.Power.0x02");
    }

    void Restart() {
        NTSTATUS stop = STATUS_PENDING;
        auto failed = During([&] { stop = board_.Stop().status; });
        EXPECT_EQ(stop, failed && *failed == "LowerDriver.Pnp.0x04" ? fault_->status : STATUS_SUCCESS);
        if (failed && *failed != "LowerDriver.Pnp.0x04") {
            Unexpected("stop", failed);
        }
        NTSTATUS start = STATUS_PENDING;
        failed = During([&] { start = board_.Start().status; });
        NTSTATUS expected = STATUS_SUCCESS;
        if (failed) {
            if (*failed == "IoSetDeviceInterfaceState" || *failed == "IoSetDeviceInterfacePropertyData") {
                expected = fault_->status;
            } else if (*failed != "LowerDriver.Pnp.0x00" && *failed != "RtlWriteRegistryValue") {
                Unexpected("restart", failed);
            }
        }
        EXPECT_EQ(start, expected);
        leds_ = 0;
        EXPECT_EQ(board_.Chip().OutputLevels(), 0u) << "a restart clears the pattern";
    }

    void Close() {
        EXPECT_EQ(LED_DeviceClose(&handle_), LED_SUCCESS);
        EXPECT_EQ(board_.Process().OpenHandles(), 0u);
    }

    void Remove() {
        host::IoResult result;
        const auto failed = During([&] { result = board_.Remove(); });
        EXPECT_EQ(result.returned, STATUS_SUCCESS);
        bool remains = false;
        if (failed) {
            remains = *failed == "LowerDriver.Pnp.0x02";
            if (!remains && *failed != "IoDeleteSymbolicLink" && *failed != "IoSetDeviceInterfaceState") {
                Unexpected("remove", failed);
            }
        }
        EXPECT_EQ(board_.Device() != nullptr, remains);
    }

    vboard::VirtualBoard board_;
    std::optional<Fault> fault_;
    bool device_ = false;
    bool countKnown_ = false;
    LED_LONG handle_ = 0;
    uint8_t leds_ = 0;
};

TEST(FaultSweep, EveryFailableRoutineFailingAtEachOfItsCalls) {
    std::vector<Fault> faults;
    {
        Life baseline(std::nullopt);
        baseline.Run();
        ASSERT_FALSE(testing::Test::HasFailure()) << "the life without failures must pass first";
        for (const std::string& routine : baseline.Faults().RoutinesCalled()) {
            for (uint64_t call = 1; call <= baseline.Faults().Calls(routine); ++call) {
                faults.push_back({routine, call, FailureFor(routine)});
            }
        }
    }
    // Every kind of routine the driver and the library can see failing is in the sweep.
    std::vector<std::string> routines;
    for (const Fault& fault : faults) {
        if (routines.empty() || routines.back() != fault.routine) {
            routines.push_back(fault.routine);
        }
    }
    for (const char* expected : {"ExAllocatePoolWithTag", "IoCreateDevice", "IoCreateSymbolicLink",
                                 "IoRegisterDeviceInterface", "IoAttachDeviceToDeviceStack", "RtlWriteRegistryValue",
                                 "IoSetDeviceInterfaceState", "IoSetDeviceInterfacePropertyData",
                                 "IoDeleteSymbolicLink", "GlobalAlloc", "CreateFileA", "DeviceIoControl",
                                 "LowerDriver.Pnp.0x00", "LowerDriver.Pnp.0x02", "LowerDriver.Power.0x02"}) {
        EXPECT_NE(std::find(routines.begin(), routines.end(), expected), routines.end()) << expected;
    }
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.routine + " failing at call " + std::to_string(fault.call));
        Life life(fault);
        life.Run();
    }
    std::printf("fault sweep: %zu runs over %zu routines\n", faults.size(), routines.size());
}

}  // namespace
