// Plug and Play on the virtual board: each minor code's status rule and pass-down, the start's outcomes, and every
// failure path of device creation and removal.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "KernelTestSupport.h"
#include "SystemSupport.h"

namespace {

using namespace systemtest;
using Stage = vboard::BoardOptions::Stage;

const NTSTATUS kArrived = STATUS_NOT_SUPPORTED;  // what the Plug and Play manager presets

TEST(PnpDispatch, EachMinorCodeReachesTheBusWithItsStatusRule) {
    struct Row {
        UCHAR minor;
        bool setsSuccess;  // the status is set to success on the way down
        bool completedHere;  // cancel requests: forwarded synchronously, completed with success by this driver
    };
    std::vector<Row> rows = {
        {IRP_MN_QUERY_REMOVE_DEVICE, true, false}, {IRP_MN_CANCEL_REMOVE_DEVICE, false, true},
        {IRP_MN_STOP_DEVICE, true, false},         {IRP_MN_QUERY_STOP_DEVICE, true, false},
        {IRP_MN_CANCEL_STOP_DEVICE, false, true},  {IRP_MN_QUERY_CAPABILITIES, true, false},
        {IRP_MN_FILTER_RESOURCE_REQUIREMENTS, true, false}, {IRP_MN_QUERY_PNP_DEVICE_STATE, true, false},
        {IRP_MN_DEVICE_USAGE_NOTIFICATION, true, false},    {IRP_MN_SURPRISE_REMOVAL, true, false},
    };
    for (UCHAR minor : {0x07, 0x08, 0x0A, 0x0B, 0x0C, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x15, 0x18, 0x19, 0x40, 0xFF}) {
        rows.push_back({minor, false, false});
    }
    for (const bool later : {false, true}) {
        vboard::VirtualBoard board;
        auto& bus = board.RootBus();
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << "minor 0x" << std::hex << int(row.minor) << (later ? ", pending" : ""));
            // The bus keeps what arrived; for cancel requests it fails them, which must not matter.
            const NTSTATUS busStatus = row.completedHere ? STATUS_UNSUCCESSFUL : kArrived;
            bus.Answer(IRP_MJ_PNP, row.minor,
                       {row.completedHere ? host::BusAnswer::Status::Chosen : host::BusAnswer::Status::AsArrived,
                        busStatus, later, ULONG_PTR{0x1234}});
            bus.ClearRequests();
            board.Ports().ClearTrace();

            const host::IoResult result = board.Pnp().Send(row.minor, kArrived);

            const auto requests = bus.Requests();
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests[0].major, IRP_MJ_PNP);
            EXPECT_EQ(requests[0].minor, row.minor);
            EXPECT_EQ(requests[0].statusOnArrival, row.setsSuccess ? STATUS_SUCCESS : kArrived);
            if (row.completedHere) {
                EXPECT_EQ(result.status, STATUS_SUCCESS);
                EXPECT_EQ(result.returned, STATUS_SUCCESS);
            } else {
                EXPECT_EQ(result.status, row.setsSuccess ? STATUS_SUCCESS : kArrived);
                EXPECT_EQ(result.returned, later ? STATUS_PENDING : result.status);
            }
            EXPECT_EQ(result.information, 0x1234u);  // what the lower driver left
            EXPECT_EQ(board.Ports().TraceCount(), 0u);  // nothing of these touches the chip
            EXPECT_NE(board.Device(), nullptr);
        }
    }
}

TEST(PnpStart, OutcomesOfTheStart) {
    struct Row {
        const char* name;
        board::ChipPlacement placement;
        NTSTATUS lowerStatus;
        bool lowerLater;
        const char* failingRoutine;
        NTSTATUS expected;
        bool enabled;
        bool restricted;
    };
    const NTSTATUS denied = STATUS_ACCESS_DENIED;
    const Row rows[] = {
        {"all well", board::ChipPlacement::At2E, STATUS_SUCCESS, false, nullptr, STATUS_SUCCESS, true, true},
        {"all well, lower pends", board::ChipPlacement::At2E, STATUS_SUCCESS, true, nullptr, STATUS_SUCCESS, true,
         true},
        {"chip at 0x4E", board::ChipPlacement::At4E, STATUS_SUCCESS, false, nullptr, STATUS_SUCCESS, true, true},
        {"lower fails the start", board::ChipPlacement::At2E, STATUS_UNSUCCESSFUL, false, nullptr, STATUS_SUCCESS,
         true, true},
        {"lower fails later", board::ChipPlacement::At2E, STATUS_NO_SUCH_DEVICE, true, nullptr, STATUS_SUCCESS, true,
         true},
        {"no chip", board::ChipPlacement::Absent, STATUS_SUCCESS, false, nullptr, STATUS_UNSUCCESSFUL, false, false},
        {"enabling the interface fails", board::ChipPlacement::At2E, STATUS_SUCCESS, false,
         "IoSetDeviceInterfaceState", denied, false, false},
        {"the restricted property fails", board::ChipPlacement::At2E, STATUS_SUCCESS, false,
         "IoSetDeviceInterfacePropertyData", denied, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        vboard::VirtualBoard board({row.placement, Stage::Added});
        board.RootBus().Answer(IRP_MJ_PNP, IRP_MN_START_DEVICE, host::BusAnswer::With(row.lowerStatus, row.lowerLater));
        if (row.failingRoutine != nullptr) {
            board.Kernel().Faults().FailNext(row.failingRoutine, denied);
        }
        board.Chip().SetRegister(7, 0xF1, 0x3C);
        const host::IoResult result = board.Start();
        EXPECT_EQ(result.status, row.expected);
        EXPECT_EQ(result.returned, row.expected);
        const bool started = row.expected != STATUS_UNSUCCESSFUL;
        EXPECT_EQ(board.Extension()->m_LEDCount, started ? 8u : 0u);
        EXPECT_EQ(board.Chip().Register(7, 0xF1), started ? 0x00 : 0x3C);
        const std::u16string link(host::View(board.Extension()->m_InterfaceName));
        EXPECT_EQ(board.Io().InterfaceEnabled(link), row.enabled);
        EXPECT_EQ(board.Io().InterfacePropertyOf(link, DEVPKEY_DeviceInterface_Restricted).has_value(),
                  row.restricted);
    }
}

TEST(PnpStart, WithoutAnInterfaceTheLowerDriversSuccessCodeIsKept) {
    const struct {
        NTSTATUS lower;
        NTSTATUS expected;
    } rows[] = {{STATUS_OBJECT_NAME_EXISTS, STATUS_OBJECT_NAME_EXISTS}, {STATUS_UNSUCCESSFUL, STATUS_SUCCESS}};
    for (const auto& row : rows) {
        vboard::VirtualBoard board({board::ChipPlacement::At2E, Stage::Added});
        RtlFreeUnicodeString(&board.Extension()->m_InterfaceName);  // a device without an interface
        board.RootBus().Answer(IRP_MJ_PNP, IRP_MN_START_DEVICE, host::BusAnswer::With(row.lower));
        EXPECT_EQ(board.Start().status, row.expected);
        EXPECT_EQ(board.Extension()->m_LEDCount, 8u);
    }
}

TEST(PnpStart, ANoChipStartKeepsAnEarlierCount) {
    vboard::VirtualBoard board;
    ASSERT_EQ(board.Extension()->m_LEDCount, 8u);
    board.Chip().SetPlacement(board::ChipPlacement::Absent);
    EXPECT_EQ(board.Start().status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(board.Extension()->m_LEDCount, 8u);
}

TEST(PnpRemove, RemovalGoesOnWhenDisablingTheInterfaceOrDeletingTheLinkFails) {
    for (const char* routine : {"IoSetDeviceInterfaceState", "IoDeleteSymbolicLink"}) {
        SCOPED_TRACE(routine);
        vboard::VirtualBoard board;
        board.Kernel().Faults().FailNext(routine, STATUS_ACCESS_DENIED);
        board.RootBus().ClearRequests();
        EXPECT_EQ(board.Remove().returned, STATUS_SUCCESS);
        ASSERT_EQ(board.RootBus().Requests().size(), 1u);
        EXPECT_EQ(board.RootBus().Requests()[0].minor, IRP_MN_REMOVE_DEVICE);
        EXPECT_EQ(board.Device(), nullptr);
        board.Unload();
        EXPECT_TRUE(board.Kernel().Memory().Outstanding().empty());
    }
}

TEST(PnpForward, AMissingLowerDeviceOrRequestSendsNothing) {
    vboard::VirtualBoard board;
    IRP unused{};
    board.RootBus().ClearRequests();
    EXPECT_EQ(ForwardIrpSynchronous(nullptr, &unused), STATUS_INVALID_PARAMETER_1);
    EXPECT_EQ(ForwardIrpSynchronous(board.RootBus().Pdo(), nullptr), STATUS_INVALID_PARAMETER_2);
    EXPECT_TRUE(board.RootBus().Requests().empty());
}

TEST(PnpRemove, ALowerFailureLeavesTheDeviceForUnloadToDelete) {
    vboard::VirtualBoard board;
    board.RootBus().Answer(IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE, host::BusAnswer::With(STATUS_UNSUCCESSFUL));
    const host::IoResult result = board.Pnp().Send(IRP_MN_REMOVE_DEVICE);
    EXPECT_EQ(result.returned, STATUS_SUCCESS);
    EXPECT_EQ(result.status, STATUS_UNSUCCESSFUL);
    ASSERT_NE(board.Device(), nullptr);
    EXPECT_EQ(board.Device()->NextDevice, nullptr);
    // Link and interface are gone already, but requests on the device are still served.
    EXPECT_EQ(board.Io().FindDevice(u"\\DosDevices\\OrvLEDDev"), nullptr);
    NTSTATUS status;
    auto handle = board.Io().Open(u"\\Device\\OrvLED", &status);
    ASSERT_TRUE(handle);
    EXPECT_EQ(SetLed(board, *handle, 4, 1), STATUS_SUCCESS);
    board.Io().Close(*handle);

    board.Unload();  // detaches and deletes the device left behind
    EXPECT_EQ(board.Device(), nullptr);
    EXPECT_EQ(board.RootBus().Pdo()->AttachedDevice, nullptr);
}

TEST(PnpAddDevice, FailuresUndoWhatWasDoneAndReturnTheirStatus) {
    struct Row {
        const char* name;
        const char* routine;
        uint64_t call;
        NTSTATUS injected;
        NTSTATUS expected;
        enum class Printed { Nothing, RegistrationFailed, Registered } printed;
    };
    using Printed = Row::Printed;
    const Row rows[] = {
        {"device", "IoCreateDevice", 1, STATUS_INSUFFICIENT_RESOURCES, STATUS_INSUFFICIENT_RESOURCES,
         Printed::Nothing},
        {"link", "IoCreateSymbolicLink", 1, STATUS_OBJECT_NAME_COLLISION, STATUS_OBJECT_NAME_COLLISION,
         Printed::Nothing},
        {"interface", "IoRegisterDeviceInterface", 1, STATUS_INVALID_DEVICE_REQUEST, STATUS_INVALID_DEVICE_REQUEST,
         Printed::RegistrationFailed},
        // The first pool allocation is DriverEntry's; the second is the copy of the interface name.
        {"copy of the name", "ExAllocatePoolWithTag", 2, STATUS_INSUFFICIENT_RESOURCES, STATUS_INSUFFICIENT_RESOURCES,
         Printed::Nothing},
        {"attach", "IoAttachDeviceToDeviceStack", 1, STATUS_UNSUCCESSFUL, STATUS_NO_SUCH_DEVICE, Printed::Registered},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        vboard::VirtualBoard board({board::ChipPlacement::At2E, Stage::Bare});
        auto& kernel = board.Kernel();
        kernel.Faults().FailCall(row.routine, row.call, row.injected);
        ASSERT_EQ(board.Load(), STATUS_SUCCESS);
        kernel.Debug().Clear();

        EXPECT_EQ(board.Add(), row.expected);

        EXPECT_EQ(board.Device(), nullptr);
        EXPECT_EQ(board.Pnp().Driver()->DeviceObject, nullptr);
        EXPECT_FALSE(board.Io().LinkTarget(u"\\DosDevices\\OrvLEDDev"));
        EXPECT_EQ(kernel.Memory().Outstanding().size(), 1u);  // only the saved registry path
        char failed[64];
        std::snprintf(failed, sizeof failed, "Failed to IoRegisterDeviceInterface - 0x%X.\n\n",
                      static_cast<unsigned>(row.injected));
        const std::string registered =
            "Registered interface name: L\"\\??\\ROOT#ORVLED#0000#{83e78a1e-5998-4258-b728-074415d5cd99}\".\n\n";
        const std::vector<std::string> expected[] = {{}, {failed}, {registered}};
        EXPECT_EQ(kernel.Debug().Messages(), expected[static_cast<int>(row.printed)]);

        // Nothing is left in the way of the next attempt.
        EXPECT_EQ(board.Add(), STATUS_SUCCESS);
        EXPECT_EQ(board.Start().status, STATUS_SUCCESS);
    }
}

TEST(PnpAddDevice, ASecondDeviceCollidesAndAFailedRegistryWriteDoesNot) {
    vboard::VirtualBoard board({board::ChipPlacement::At2E, Stage::Loaded});
    board.Kernel().Faults().FailNext("RtlWriteRegistryValue", STATUS_ACCESS_DENIED);
    ASSERT_EQ(board.Add(), STATUS_SUCCESS);
    EXPECT_FALSE(board.Kernel().Reg().Value(vboard::kServiceKey, u"InterfaceName"));
    PDEVICE_OBJECT first = board.Device();
    EXPECT_EQ(board.Add(), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(board.Device(), first);
    EXPECT_EQ(board.Pnp().Driver()->DeviceObject, first);
    EXPECT_EQ(first->NextDevice, nullptr);
}

TEST(PnpDriverEntry, AFailedAllocationInstallsNothing) {
    vboard::VirtualBoard board({board::ChipPlacement::At2E, Stage::Bare});
    auto& kernel = board.Kernel();
    kernel.Faults().FailNext("ExAllocatePoolWithTag", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(board.Load(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(board.Pnp().Loaded());
    const auto messages = kernel.Debug().Messages();
    ASSERT_EQ(messages.size(), 5u);  // the opening four, then the failure; no closing banner
    const size_t bytes = sizeof(vboard::kServiceKey);  // the path's length and two bytes for the zero
    EXPECT_EQ(messages[4], "Failed to allocate " + std::to_string(bytes) + " bytes memory from paged pool.\n");

    // The driver object the entry point was given keeps the system's defaults.
    PDRIVER_OBJECT driver = kernel.Io().CreateDriverObject(u"\\Driver\\Probe");
    const DRIVER_OBJECT before = *driver;
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, vboard::kServiceKey);
    kernel.Faults().FailNext("ExAllocatePoolWithTag", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(DriverEntry(driver, &path), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(std::memcmp(driver->MajorFunction, before.MajorFunction, sizeof before.MajorFunction), 0);
    EXPECT_EQ(driver->DriverUnload, nullptr);
    EXPECT_EQ(driver->DriverExtension->AddDevice, nullptr);
    kernel.Io().DeleteDriverObject(driver);
}

// Removal while other threads send requests: each request either completes normally or is refused with the
// remove lock's status, and nothing touches the device after it is gone.
TEST(PnpRemove, RemovalWaitsForRequestsInFlight) {
    vboard::VirtualBoard board;
    constexpr int kThreads = 4;
    std::atomic<bool> removed{false};
    std::atomic<int> served{0}, refusedAfterRemoval{0}, wrong{0};
    std::vector<host::FileHandle> handles;
    for (int t = 0; t < kThreads; ++t) {
        handles.push_back(*board.Open());
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int afterRemoval = 0; afterRemoval < 50;) {
                const bool sentAfterRemoval = removed.load();
                const NTSTATUS status = SetLed(board, handles[t], static_cast<uint8_t>(t), 1);
                if (sentAfterRemoval) {
                    ++afterRemoval;
                    (status == STATUS_DELETE_PENDING ? refusedAfterRemoval : wrong)++;
                } else if (status == STATUS_SUCCESS) {
                    ++served;
                } else if (status != STATUS_DELETE_PENDING) {
                    ++wrong;
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(board.Remove().returned, STATUS_SUCCESS);
    removed = true;
    for (auto& thread : threads) {
        thread.join();
    }
    for (auto handle : handles) {
        board.Io().Close(handle);
    }
    EXPECT_GT(served.load(), 0);
    EXPECT_EQ(refusedAfterRemoval.load(), kThreads * 50);
    EXPECT_EQ(wrong.load(), 0);
    board.Unload();
}

}  // namespace
