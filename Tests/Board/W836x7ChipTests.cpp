// Tests of the W836x7 Super I/O model driven through the port bus, as a driver would.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "BoardTestSupport.h"
#include "PortBus.h"
#include "W836x7Chip.h"

namespace board_test {
namespace {

using board::ChipDiagnostics;
using board::ChipPlacement;
using board::PortBus;
using Chip = board::W836x7Chip;

constexpr std::uint16_t kIndex = 0x2E;
constexpr std::uint16_t kData = 0x2F;

class ChipTest : public testing::Test {
protected:
    ChipTest() { EXPECT_TRUE(bus_.Attach(chip_)); }

    void IndexWrites(std::initializer_list<std::uint8_t> values)
    {
        for (std::uint8_t value : values) {
            bus_.Out(kIndex, value);
        }
    }
    void Enter() { IndexWrites({Chip::kEnterKey, Chip::kEnterKey}); }
    void Exit() { bus_.Out(kIndex, Chip::kExitKey); }
    void WriteRegister(std::uint8_t index, std::uint8_t value)
    {
        bus_.Out(kIndex, index);
        bus_.Out(kData, value);
    }
    std::uint8_t ReadRegister(std::uint8_t index)
    {
        bus_.Out(kIndex, index);
        return bus_.In(kData);
    }
    void SelectDevice(std::uint8_t ldn) { WriteRegister(Chip::kRegLogicalDevice, ldn); }

    std::unique_ptr<PortBus> ownedBus_ = std::make_unique<PortBus>(); // large trace ring: keep off the stack
    PortBus& bus_ = *ownedBus_;
    Chip chip_;
};

// Key protocol

struct KeyCase {
    const char* name;
    std::vector<std::uint8_t> indexWrites;
    bool inConfig;
    std::uint32_t strayEnterKeys;
};

const std::array<KeyCase, 12> kKeyCases = {{
    {"nothing", {}, false, 0},
    {"one key", {0x87}, false, 0},
    {"two keys", {0x87, 0x87}, true, 0},
    {"noise before keys", {0x55, 0x00, 0x87, 0x87}, true, 0},
    {"pair broken by other byte", {0x87, 0x55, 0x87}, false, 0},
    {"pair broken by exit key", {0x87, 0xAA, 0x87}, false, 0},
    {"exit key alone", {0xAA}, false, 0},
    {"enter then exit", {0x87, 0x87, 0xAA}, false, 0},
    {"exit needs a fresh pair", {0x87, 0x87, 0xAA, 0x87}, false, 0},
    {"re-enter after exit", {0x87, 0x87, 0xAA, 0x87, 0x87}, true, 0},
    {"index select keeps mode", {0x87, 0x87, 0x07, 0x30}, true, 0},
    {"keys while in config", {0x87, 0x87, 0x87, 0x87}, true, 2},
}};

TEST_F(ChipTest, KeySequencesEnterAndLeaveConfigurationMode)
{
    for (const KeyCase& c : kKeyCases) {
        SCOPED_TRACE(c.name);
        chip_.Reset();
        for (std::uint8_t value : c.indexWrites) {
            bus_.Out(kIndex, value);
        }
        EXPECT_EQ(chip_.InConfigMode(), c.inConfig);
        EXPECT_EQ(chip_.Diagnostics().enterKeyInConfig, c.strayEnterKeys);
        // The port view agrees with the back door: the ID register answers only in configuration mode.
        EXPECT_EQ(ReadRegister(Chip::kRegChipId), c.inConfig ? Chip::kDefaultChipId : 0xFF);
    }
}

struct LockedCase {
    const char* name;
    std::vector<std::uint8_t> indexWrites;
};

const std::array<LockedCase, 4> kLockedCases = {{
    {"power-on", {}},
    {"half a key", {0x87}},
    {"after exit", {0x87, 0x87, 0xAA}},
    {"after exit and half a key", {0x87, 0x87, 0xAA, 0x87}},
}};

TEST_F(ChipTest, TrafficOutsideConfigurationModeIsIgnoredAndCounted)
{
    for (const LockedCase& c : kLockedCases) {
        SCOPED_TRACE(c.name);
        chip_.Reset();
        chip_.SetRegister(0, 0x2A, 0x11);
        for (std::uint8_t value : c.indexWrites) {
            bus_.Out(kIndex, value);
        }

        bus_.Out(kIndex, 0x2A);
        bus_.Out(kData, 0x5A);
        EXPECT_EQ(bus_.In(kData), 0xFF);
        EXPECT_EQ(bus_.In(kIndex), 0xFF);
        EXPECT_FALSE(chip_.InConfigMode());
        EXPECT_EQ(chip_.Register(0, 0x2A), 0x11);
        EXPECT_EQ(chip_.Diagnostics().dataAccessOutsideConfig, 2u);
    }
}

TEST_F(ChipTest, CorrectSessionLeavesNoDiagnosticsAndExactTrace)
{
    Enter();
    const std::uint8_t id = ReadRegister(Chip::kRegChipId);
    SelectDevice(Chip::kGpio1Device);
    WriteRegister(Chip::kRegGpioData, 0x3C);
    Exit();

    EXPECT_EQ(id, Chip::kDefaultChipId);
    EXPECT_EQ(chip_.Diagnostics(), ChipDiagnostics{});
    EXPECT_EQ(chip_.OutputLatch(), 0x3C);
    const std::vector<PortOperation> expected = {
        Out(kIndex, 0x87), Out(kIndex, 0x87), Out(kIndex, 0x20), In(kData, 0x52),  Out(kIndex, 0x07),
        Out(kData, 0x07),  Out(kIndex, 0xF1), Out(kData, 0x3C),  Out(kIndex, 0xAA),
    };
    EXPECT_EQ(HeldTrace(bus_), expected);
}

TEST_F(ChipTest, IndexPortReadsBackSelectionInConfigurationMode)
{
    Enter();
    bus_.Out(kIndex, 0xF0);
    EXPECT_EQ(bus_.In(kIndex), 0xF0);
    EXPECT_EQ(chip_.SelectedIndex(), 0xF0);
    Exit();
    EXPECT_EQ(bus_.In(kIndex), 0xFF);
}

// Placement

struct PlacementCase {
    ChipPlacement placement;
    std::uint8_t idAt2E;
    std::uint8_t idAt4E;
};

class ChipPlacementTest : public ChipTest, public testing::WithParamInterface<PlacementCase> {
protected:
    // A full identification session on one port pair.
    std::uint8_t IdentifyAt(std::uint16_t index)
    {
        bus_.Out(index, 0x87);
        bus_.Out(index, 0x87);
        bus_.Out(index, Chip::kRegChipId);
        const std::uint8_t id = bus_.In(static_cast<std::uint16_t>(index + 1));
        bus_.Out(index, 0xAA);
        return id;
    }
};

TEST_P(ChipPlacementTest, AnswersOnlyAtItsPortPair)
{
    const PlacementCase& c = GetParam();
    chip_.SetPlacement(c.placement);
    EXPECT_EQ(chip_.Placement(), c.placement);

    EXPECT_EQ(IdentifyAt(0x2E), c.idAt2E);
    EXPECT_EQ(IdentifyAt(0x4E), c.idAt4E);
    EXPECT_FALSE(chip_.InConfigMode());
    EXPECT_EQ(chip_.Claims(0x2E), c.idAt2E != 0xFF);
    EXPECT_EQ(chip_.Claims(0x2F), c.idAt2E != 0xFF);
    EXPECT_EQ(chip_.Claims(0x4E), c.idAt4E != 0xFF);
    EXPECT_EQ(chip_.Claims(0x4F), c.idAt4E != 0xFF);
    for (std::uint16_t port : {0x00, 0x01, 0x2D, 0x30, 0x4D, 0x50}) {
        EXPECT_FALSE(chip_.Claims(port)) << "port 0x" << std::hex << port;
    }
}

INSTANTIATE_TEST_SUITE_P(Placements, ChipPlacementTest,
                         testing::Values(PlacementCase{ChipPlacement::At2E, 0x52, 0xFF},
                                         PlacementCase{ChipPlacement::At4E, 0xFF, 0x52},
                                         PlacementCase{ChipPlacement::Absent, 0xFF, 0xFF}),
                         [](const testing::TestParamInfo<PlacementCase>& info) {
                             switch (info.param.placement) {
                             case ChipPlacement::At2E:
                                 return "At2E";
                             case ChipPlacement::At4E:
                                 return "At4E";
                             case ChipPlacement::Absent:
                                 break;
                             }
                             return "Absent";
                         });

TEST_F(ChipTest, MovingThePlacementKeepsStateAndMovesThePorts)
{
    Enter();
    chip_.SetPlacement(ChipPlacement::At4E);
    EXPECT_EQ(bus_.In(kData), 0xFF) << "old pair is open bus";
    bus_.Out(0x4E, Chip::kRegChipId);
    EXPECT_EQ(bus_.In(0x4F), Chip::kDefaultChipId) << "still in configuration mode";
}

// Identity

struct IdentityCase {
    bool set;
    std::uint8_t id;
    std::uint8_t revision;
};

constexpr std::array<IdentityCase, 3> kIdentityCases = {{
    {false, Chip::kDefaultChipId, Chip::kDefaultRevision},
    {true, 0x55, 0x10},
    {true, 0x00, 0xFF},
}};

TEST_F(ChipTest, IdentityRegistersAreReadOnlyThroughThePorts)
{
    for (const IdentityCase& c : kIdentityCases) {
        SCOPED_TRACE(testing::Message() << "id 0x" << std::hex << int{c.id});
        if (c.set) {
            chip_.SetChipId(c.id);
            chip_.SetRevision(c.revision);
        }
        Enter();
        WriteRegister(Chip::kRegChipId, 0xA5);
        WriteRegister(Chip::kRegRevision, 0xA5);
        SelectDevice(Chip::kGpio1Device);
        EXPECT_EQ(ReadRegister(Chip::kRegChipId), c.id);
        EXPECT_EQ(ReadRegister(Chip::kRegRevision), c.revision);
        EXPECT_EQ(chip_.Register(3, Chip::kRegChipId), c.id) << "global, whatever the device";
        Exit();
    }
}

// Logical devices

constexpr std::array<std::uint8_t, 4> kBankedRegisters = {0x30, 0x60, 0xF2, 0xFF};

TEST_F(ChipTest, BankedRegistersBelongToTheirLogicalDevice)
{
    Enter();
    SelectDevice(Chip::kGpio1Device);
    for (std::uint8_t index : kBankedRegisters) {
        WriteRegister(index, static_cast<std::uint8_t>(index ^ 0x5A));
    }
    SelectDevice(0);
    for (std::uint8_t index : kBankedRegisters) {
        SCOPED_TRACE(testing::Message() << "register 0x" << std::hex << int{index});
        EXPECT_EQ(ReadRegister(index), 0x00) << "LDN 0 sees its own bank";
        EXPECT_EQ(chip_.Register(Chip::kGpio1Device, index), index ^ 0x5A);
        EXPECT_EQ(chip_.Register(0, index), 0x00);
    }
    SelectDevice(Chip::kGpio1Device);
    for (std::uint8_t index : kBankedRegisters) {
        EXPECT_EQ(ReadRegister(index), index ^ 0x5A);
    }
}

TEST_F(ChipTest, GlobalRegistersAreSharedByAllLogicalDevices)
{
    Enter();
    SelectDevice(Chip::kGpio1Device);
    WriteRegister(0x2A, 0x5C);
    SelectDevice(0);
    EXPECT_EQ(ReadRegister(0x2A), 0x5C);
    WriteRegister(0x2A, 0x33);
    SelectDevice(15);
    EXPECT_EQ(ReadRegister(0x2A), 0x33);
    EXPECT_EQ(chip_.Register(9, 0x2A), 0x33);
}

struct DeviceSelectCase {
    std::uint8_t written;
    std::uint8_t selected;
};

// Out-of-range numbers are ignored, so LDN 7 (selected beforehand) stays.
constexpr std::array<DeviceSelectCase, 5> kDeviceSelectCases = {{
    {0, 0}, {7, 7}, {15, 15}, {16, 7}, {0xFF, 7},
}};

TEST_F(ChipTest, LogicalDeviceRegisterAcceptsOnlyExistingDevices)
{
    Enter();
    for (const DeviceSelectCase& c : kDeviceSelectCases) {
        SCOPED_TRACE(testing::Message() << "write " << int{c.written});
        SelectDevice(Chip::kGpio1Device);
        SelectDevice(c.written);
        EXPECT_EQ(ReadRegister(Chip::kRegLogicalDevice), c.selected);
        EXPECT_EQ(chip_.SelectedLogicalDevice(), c.selected);
    }
}

TEST_F(ChipTest, BackDoorAndPortsSeeTheSameRegisters)
{
    chip_.SetRegister(Chip::kGpio1Device, 0xF2, 0x6B);
    chip_.SetRegister(2, 0x2A, 0x44);
    Enter();
    SelectDevice(Chip::kGpio1Device);
    EXPECT_EQ(ReadRegister(0xF2), 0x6B);
    EXPECT_EQ(ReadRegister(0x2A), 0x44);
    WriteRegister(Chip::kRegActivate, 0x01);
    EXPECT_EQ(chip_.Register(Chip::kGpio1Device, Chip::kRegActivate), 0x01);
    EXPECT_EQ(bus_.TraceCount(), 10u) << "the back door adds nothing to the trace";
}

// GPIO port 1

struct GpioCase {
    std::uint8_t direction; // 1 = input
    std::uint8_t latch;
    std::uint8_t inputs;
    std::uint8_t read;
};

constexpr std::array<GpioCase, 6> kGpioCases = {{
    {0x00, 0xA5, 0xFF, 0xA5}, // all outputs: latch only
    {0xFF, 0xA5, 0x3C, 0x3C}, // all inputs: pins only
    {0xF0, 0x5A, 0xC3, 0xCA},
    {0x0F, 0x5A, 0xC3, 0x53},
    {0xAA, 0xFF, 0x00, 0x55},
    {0x55, 0x00, 0xFF, 0x55},
}};

TEST_F(ChipTest, DataRegisterMixesLatchAndInputsByDirection)
{
    Enter();
    SelectDevice(Chip::kGpio1Device);
    for (const GpioCase& c : kGpioCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "direction 0x" << int{c.direction} << " latch 0x"
                                        << int{c.latch} << " inputs 0x" << int{c.inputs});
        chip_.SetInputLevels(c.inputs);
        WriteRegister(Chip::kRegGpioDirection, c.direction);
        WriteRegister(Chip::kRegGpioData, c.latch);

        EXPECT_EQ(ReadRegister(Chip::kRegGpioData), c.read);
        EXPECT_EQ(chip_.PinLevels(), c.read);
        EXPECT_EQ(chip_.OutputLatch(), c.latch) << "latch keeps bits of input pins";
        EXPECT_EQ(chip_.OutputMask(), static_cast<std::uint8_t>(~c.direction));
        EXPECT_EQ(chip_.OutputLevels(), c.latch & ~c.direction & 0xFF);
    }
}

TEST_F(ChipTest, DataRegisterOfOtherDevicesIsPlainStorage)
{
    chip_.SetInputLevels(0xFF);
    Enter();
    SelectDevice(0);
    WriteRegister(Chip::kRegGpioDirection, 0xFF);
    WriteRegister(Chip::kRegGpioData, 0x12);
    EXPECT_EQ(ReadRegister(Chip::kRegGpioData), 0x12);
    EXPECT_EQ(chip_.OutputLatch(), 0x00) << "GPIO port 1 untouched";
}

// Dropped latch writes

struct IgnoreCase {
    std::uint32_t ignore;
    int attempts;
    std::uint8_t latch; // attempt k writes k + 1
    std::uint32_t dropped;
    std::uint32_t remaining;
};

constexpr std::array<IgnoreCase, 7> kIgnoreCases = {{
    {0, 1, 0x01, 0, 0},
    {1, 1, 0x00, 1, 0},
    {1, 2, 0x02, 1, 0},
    {3, 2, 0x00, 2, 1},
    {7, 8, 0x08, 7, 0},
    {8, 8, 0x00, 8, 0},
    {Chip::kIgnoreForever, 20, 0x00, 20, Chip::kIgnoreForever},
}};

TEST_F(ChipTest, IgnoredLatchWritesAreDroppedThenWritesLand)
{
    for (const IgnoreCase& c : kIgnoreCases) {
        SCOPED_TRACE(testing::Message() << "ignore " << c.ignore << ", " << c.attempts << " attempts");
        chip_.Reset();
        Enter();
        SelectDevice(Chip::kGpio1Device);
        WriteRegister(Chip::kRegGpioDirection, 0x00);
        chip_.IgnoreLatchWrites(c.ignore);
        for (int k = 0; k < c.attempts; ++k) {
            WriteRegister(Chip::kRegGpioData, static_cast<std::uint8_t>(k + 1));
        }
        EXPECT_EQ(ReadRegister(Chip::kRegGpioData), c.latch);
        EXPECT_EQ(chip_.OutputLatch(), c.latch);
        EXPECT_EQ(chip_.DroppedLatchWrites(), c.dropped);
        EXPECT_EQ(chip_.LatchWritesToIgnore(), c.remaining);
    }
}

TEST_F(ChipTest, OnlyPortWritesToTheLatchAreDropped)
{
    chip_.IgnoreLatchWrites(1);
    Enter();
    SelectDevice(0);
    WriteRegister(Chip::kRegGpioData, 0x21); // same index, other device
    SelectDevice(Chip::kGpio1Device);
    WriteRegister(Chip::kRegGpioDirection, 0x0F);
    WriteRegister(0xF2, 0x42);
    chip_.SetRegister(Chip::kGpio1Device, Chip::kRegGpioData, 0x80); // back door bypasses
    EXPECT_EQ(chip_.Register(0, Chip::kRegGpioData), 0x21);
    EXPECT_EQ(chip_.Register(Chip::kGpio1Device, Chip::kRegGpioDirection), 0x0F);
    EXPECT_EQ(chip_.Register(Chip::kGpio1Device, 0xF2), 0x42);
    EXPECT_EQ(chip_.OutputLatch(), 0x80);
    EXPECT_EQ(chip_.LatchWritesToIgnore(), 1u) << "none of those used up the count";

    WriteRegister(Chip::kRegGpioData, 0x01);
    EXPECT_EQ(chip_.OutputLatch(), 0x80);
    WriteRegister(Chip::kRegGpioData, 0x02);
    EXPECT_EQ(chip_.OutputLatch(), 0x02);
}

TEST_F(ChipTest, IgnoringForeverStopsWhenCleared)
{
    chip_.IgnoreLatchWrites(Chip::kIgnoreForever);
    Enter();
    SelectDevice(Chip::kGpio1Device);
    WriteRegister(Chip::kRegGpioData, 0x0F);
    EXPECT_EQ(chip_.OutputLatch(), 0x00);
    chip_.IgnoreLatchWrites(0);
    WriteRegister(Chip::kRegGpioData, 0x0F);
    EXPECT_EQ(chip_.OutputLatch(), 0x0F);
}

// Power-on state

void ExpectPowerOnRegisters(const Chip& chip)
{
    EXPECT_FALSE(chip.InConfigMode());
    EXPECT_EQ(chip.SelectedLogicalDevice(), 0);
    EXPECT_EQ(chip.SelectedIndex(), 0);
    EXPECT_EQ(chip.Register(0, 0x2A), 0x00);
    for (std::uint8_t ldn = 0; ldn < Chip::kLogicalDeviceCount; ++ldn) {
        for (int index = Chip::kFirstBankedRegister; index <= 0xFF; ++index) {
            const bool gpioDirection = ldn == Chip::kGpio1Device && index == Chip::kRegGpioDirection;
            ASSERT_EQ(chip.Register(ldn, static_cast<std::uint8_t>(index)), gpioDirection ? 0xFF : 0x00)
                << "LDN " << int{ldn} << " register 0x" << std::hex << index;
        }
    }
    EXPECT_EQ(chip.OutputMask(), 0x00) << "every GPIO pin is an input";
    EXPECT_EQ(chip.LatchWritesToIgnore(), 0u);
    EXPECT_EQ(chip.DroppedLatchWrites(), 0u);
    EXPECT_EQ(chip.Diagnostics(), ChipDiagnostics{});
}

TEST_F(ChipTest, PowerOnState)
{
    ExpectPowerOnRegisters(chip_);
    EXPECT_EQ(chip_.Placement(), ChipPlacement::At2E);
    EXPECT_EQ(chip_.Register(0, Chip::kRegChipId), Chip::kDefaultChipId);
    EXPECT_EQ(chip_.Register(0, Chip::kRegRevision), Chip::kDefaultRevision);
    EXPECT_EQ(chip_.InputLevels(), 0x00);
}

TEST_F(ChipTest, ResetRestoresRegistersButKeepsWiringAndIdentity)
{
    chip_.SetChipId(0x99);
    chip_.SetInputLevels(0x0F);
    (void)bus_.In(kData); // a diagnostic to clear
    Enter();
    bus_.Out(kIndex, Chip::kEnterKey);
    SelectDevice(Chip::kGpio1Device);
    WriteRegister(Chip::kRegGpioDirection, 0x00);
    WriteRegister(Chip::kRegGpioData, 0xF0);
    WriteRegister(0x2A, 0x77);
    WriteRegister(0x60, 0x02);
    chip_.IgnoreLatchWrites(3);
    WriteRegister(Chip::kRegGpioData, 0x01);
    chip_.SetPlacement(ChipPlacement::At4E);

    chip_.Reset();

    ExpectPowerOnRegisters(chip_);
    EXPECT_EQ(chip_.Placement(), ChipPlacement::At4E);
    EXPECT_EQ(chip_.Register(0, Chip::kRegChipId), 0x99);
    EXPECT_EQ(chip_.InputLevels(), 0x0F);
    EXPECT_EQ(chip_.PinLevels(), 0x0F);
}

TEST_F(ChipTest, ResetForgetsAHalfEnteredKey)
{
    bus_.Out(kIndex, Chip::kEnterKey);
    chip_.Reset();
    bus_.Out(kIndex, Chip::kEnterKey);
    EXPECT_FALSE(chip_.InConfigMode());
}

// The emulator DLL keeps these as globals without a C++ runtime to run constructors.
constinit PortBus gConstantBus;
constinit Chip gConstantChip(ChipPlacement::At4E);

TEST(BoardGlobals, ConstantInitialisedObjectsStartAtPowerOn)
{
    EXPECT_EQ(gConstantBus.TraceCount(), 0u);
    EXPECT_EQ(gConstantChip.Placement(), ChipPlacement::At4E);
    ExpectPowerOnRegisters(gConstantChip);
}

} // namespace
} // namespace board_test
