// The driver's whole life on the virtual board, as the system drives it: load, add, start, requests, sleep and
// hibernation, stop and start, surprise removal, removal and unload.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SystemSupport.h"

namespace {

using namespace systemtest;

const std::string kRule = "////////////////////////////////////////////////////////////////////\n";
const std::u16string kInterface = u"\\??\\ROOT#ORVLED#0000#{83e78a1e-5998-4258-b728-074415d5cd99}";

TEST(DriverLife, FromLoadToUnload) {
    vboard::VirtualBoard board({board::ChipPlacement::At2E, vboard::BoardOptions::Stage::Bare});
    auto& kernel = board.Kernel();

    // Load: the banner, the saved registry path, the dispatch table.
    ASSERT_EQ(board.Load(), STATUS_SUCCESS);
    const auto driver = board.Pnp().Driver();
    char object[64];
    std::snprintf(object, sizeof object, "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(driver)));
    EXPECT_EQ(kernel.Debug().Messages(),
              (std::vector<std::string>{
                  kRule, "// GLIM:     ----------------> DriverEntry! ---------------->     //\n", kRule,
                  std::string("DriverObject=0x") + object +
                      ", RegistryPath=\"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\OrvLED\".\n\n",
                  kRule, "// GLIM:     <---------------- DriverEntry status = 0  <---------------- //\n",
                  kRule + "\n"}));
    EXPECT_EQ(host::View(g_RegistryPath), std::u16string_view(vboard::kServiceKey));
    EXPECT_EQ(driver->MajorFunction[IRP_MJ_CREATE], DispatchCreateClose);
    EXPECT_EQ(driver->MajorFunction[IRP_MJ_CLOSE], DispatchCreateClose);
    EXPECT_EQ(driver->MajorFunction[IRP_MJ_DEVICE_CONTROL], DispatchDeviceControl);
    EXPECT_EQ(driver->MajorFunction[IRP_MJ_PNP], DispatchPnp);
    EXPECT_EQ(driver->MajorFunction[IRP_MJ_POWER], DispatchPower);
    EXPECT_EQ(driver->DriverUnload, DriverUnload);
    EXPECT_EQ(driver->DriverExtension->AddDevice, AddDevice);
    EXPECT_NE(driver->MajorFunction[IRP_MJ_READ], DispatchCreateClose);  // the system's default stays

    // Add: device, link, interface registered but disabled, "InterfaceName" in its Win32 form.
    kernel.Debug().Clear();
    ASSERT_EQ(board.Add(), STATUS_SUCCESS);
    PDEVICE_OBJECT device = board.Device();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Flags & (DO_POWER_PAGABLE | DO_DIRECT_IO | DO_DEVICE_INITIALIZING),
              ULONG{DO_POWER_PAGABLE | DO_DIRECT_IO});
    EXPECT_EQ(board.Io().FindDevice(u"\\DosDevices\\OrvLEDDev"), device);
    PDEVICE_EXTENSION extension = board.Extension();
    EXPECT_EQ(host::View(extension->m_InterfaceName), kInterface);
    EXPECT_FALSE(board.Io().InterfaceEnabled(kInterface));
    const auto published = kernel.Reg().Value(vboard::kServiceKey, u"InterfaceName");
    ASSERT_TRUE(published);
    EXPECT_EQ(published->type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(published->data.size(), extension->m_InterfaceName.MaximumLength);
    EXPECT_EQ(published->data.back(), 0);
    EXPECT_EQ(published->AsString(), u"\\\\.\\ROOT#ORVLED#0000#{83e78a1e-5998-4258-b728-074415d5cd99}");
    EXPECT_EQ(kernel.Debug().Messages(),
              (std::vector<std::string>{"Registered interface name: L\"" + host::ToUtf8(kInterface) + "\".\n\n"}));
    EXPECT_EQ(extension->m_LEDCount, 0u);
    EXPECT_EQ(extension->m_LowerDeviceObject, board.RootBus().Pdo());
    EXPECT_EQ(host::View(extension->m_RegistryPath), std::u16string_view(vboard::kServiceKey));

    // Start: chip configured, eight LEDs, data register cleared, interface enabled and restricted.
    board.Chip().SetRegister(7, 0xF1, 0xA5);
    ASSERT_EQ(board.Start().status, STATUS_SUCCESS);
    EXPECT_EQ(extension->m_LEDCount, 8u);
    EXPECT_EQ(board.Chip().Register(7, 0xF1), 0x00);
    EXPECT_EQ(kernel.Reg().Value(vboard::kServiceKey, u"ChipsetType")->AsDword(), 1u);
    EXPECT_TRUE(board.Io().InterfaceEnabled(kInterface));
    const auto restricted = board.Io().InterfacePropertyOf(kInterface, DEVPKEY_DeviceInterface_Restricted);
    ASSERT_TRUE(restricted);
    EXPECT_EQ(restricted->type, ULONG{DEVPROP_TYPE_BOOLEAN});
    EXPECT_EQ(restricted->data, (std::vector<uint8_t>{0xFF}));

    // Requests, through the DOS name and through the interface path alike.
    auto handle = board.Open();
    ASSERT_TRUE(handle);
    NTSTATUS status;
    auto byInterface = board.Io().Open(u"\\\\?\\ROOT#ORVLED#0000#{83e78a1e-5998-4258-b728-074415d5cd99}", &status);
    ASSERT_TRUE(byInterface);
    EXPECT_EQ(SetLed(board, *handle, 1, 1), STATUS_SUCCESS);
    EXPECT_EQ(SetLed(board, *byInterface, 6, 1), STATUS_SUCCESS);
    EXPECT_EQ(board.Chip().OutputLevels(), 0x42);
    board.Io().Close(*byInterface);

    // Sleep saves the pattern; the chip loses it; the return to the working state writes it back.
    kernel.Debug().Clear();
    EXPECT_EQ(board.Power().Sleep().status, STATUS_SUCCESS);
    EXPECT_EQ(extension->m_LEDStatus, 0x42);
    board.Chip().Reset();
    EXPECT_EQ(board.Power().WakeFromSleep().status, STATUS_SUCCESS);
    EXPECT_EQ(board.Chip().OutputLevels(), 0x42);
    EXPECT_EQ(kernel.Debug().Messages(),
              (std::vector<std::string>{"System Stand by: m_LEDStatus = 0x42 \n\n",
                                        "Resume from Hibernate: m_LEDStatus = 0x42 \n\n",
                                        "Resume from Hibernate: Value = 0x42 \n\n"}));

    // Hibernation saves, with its own message.
    kernel.Debug().Clear();
    EXPECT_EQ(SetLed(board, *handle, 0, 1), STATUS_SUCCESS);
    board.Power().Hibernate();
    EXPECT_EQ(extension->m_LEDStatus, 0x43);
    EXPECT_EQ(kernel.Debug().Messages(), (std::vector<std::string>{"Hibernate: m_LEDStatus = 0x43 \n\n"}));

    // Stop and start: the pattern does not survive.
    EXPECT_EQ(board.Stop().status, STATUS_SUCCESS);
    EXPECT_EQ(board.Chip().OutputLevels(), 0x43);  // a stop changes nothing
    EXPECT_EQ(board.Start().status, STATUS_SUCCESS);
    EXPECT_EQ(board.Chip().OutputLevels(), 0x00);
    EXPECT_EQ(extension->m_LEDStatus, 0);

    // Surprise removal changes nothing; removal tears the device down.
    EXPECT_EQ(board.Pnp().Send(IRP_MN_SURPRISE_REMOVAL).status, STATUS_SUCCESS);
    EXPECT_EQ(SetLed(board, *handle, 2, 1), STATUS_SUCCESS);
    const auto removal = board.Remove();
    EXPECT_EQ(removal.returned, STATUS_SUCCESS);
    EXPECT_EQ(board.Device(), nullptr);
    EXPECT_EQ(board.Io().FindDevice(u"\\DosDevices\\OrvLEDDev"), nullptr);
    EXPECT_FALSE(board.Io().InterfaceEnabled(kInterface));
    // A handle opened before the removal reaches a driver that refuses it.
    EXPECT_EQ(SetLed(board, *handle, 3, 1), STATUS_DELETE_PENDING);
    EXPECT_EQ(board.Io().Close(*handle), STATUS_SUCCESS);
    EXPECT_FALSE(board.Open(&status));

    // Unload frees everything; the registry values stay.
    board.Unload();
    EXPECT_TRUE(kernel.Memory().Outstanding().empty());
    EXPECT_EQ(g_RegistryPath.Buffer, nullptr);
    EXPECT_TRUE(kernel.Reg().Value(vboard::kServiceKey, u"InterfaceName"));
    EXPECT_TRUE(kernel.Reg().Value(vboard::kServiceKey, u"ChipsetType"));
    EXPECT_EQ(kernel.Rules().Count(), 0u);
}

TEST(DriverLife, OpenAndCloseSucceedWhateverTheDeviceState) {
    vboard::VirtualBoard board({board::ChipPlacement::Absent, vboard::BoardOptions::Stage::Added});
    for (int round = 0; round < 2; ++round) {
        auto handle = board.Open();
        ASSERT_TRUE(handle);
        EXPECT_EQ(board.Io().Close(*handle), STATUS_SUCCESS);
        EXPECT_EQ(board.Start().status, STATUS_UNSUCCESSFUL);  // no chip: not started, still opened
    }
}

TEST(DriverLife, LongRegistryPathIsSavedWholeAndCutForTheDevice) {
    std::u16string path = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
    while (path.size() < 200) {
        path += u"OrvLED";
    }
    vboard::VirtualBoard board({board::ChipPlacement::At2E, vboard::BoardOptions::Stage::Bare});
    ASSERT_EQ(board.Load(path), STATUS_SUCCESS);
    EXPECT_EQ(host::View(g_RegistryPath), path);
    EXPECT_EQ(g_RegistryPath.MaximumLength, path.size() * 2 + 2);
    EXPECT_EQ(g_RegistryPath.Buffer[path.size()], 0);
    ASSERT_EQ(board.Add(), STATUS_SUCCESS);
    PDEVICE_EXTENSION extension = board.Extension();
    EXPECT_EQ(host::View(extension->m_RegistryPath), path.substr(0, 130));
    EXPECT_EQ(extension->m_RegistryPathBuffer[130], 0);
    // "ChipsetType" goes under the cut path, whose key does not exist: the start goes on regardless.
    EXPECT_EQ(board.Start().status, STATUS_SUCCESS);
    EXPECT_FALSE(board.Kernel().Reg().Value(path, u"ChipsetType"));
}

}  // namespace
