// count, on, off, status and pattern, held against what the chip drives on the LED pins.
#include <gtest/gtest.h>

#include "LedRow.h"
#include "LedctlFixture.h"

namespace ledctltest {
namespace {

TEST_F(LedctlTest, CountIsTheDriversEight) {
    const RunResult run = Ledctl({"count"});
    EXPECT_EQ(run.status, ledctl::kExitSuccess);
    EXPECT_EQ(run.out, "LED count: 8\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(LedctlTest, EachLedSwitchesItsOwnPinOnAndOff) {
    for (unsigned led = 0; led < 8; ++led) {
        const std::string number = std::to_string(led);
        const RunResult on = Ledctl({"on", number});
        EXPECT_EQ(on.status, ledctl::kExitSuccess);
        EXPECT_EQ(on.out, "LED " + number + " on\n");
        EXPECT_EQ(Leds(), 1U << led) << "LED " << led;

        const RunResult off = Ledctl({"off", number});
        EXPECT_EQ(off.status, ledctl::kExitSuccess);
        EXPECT_EQ(off.out, "LED " + number + " off\n");
        EXPECT_EQ(Leds(), 0x00) << "LED " << led;
    }
}

TEST_F(LedctlTest, SeveralCommandsRunInOrderInOneRun) {
    const RunResult run = Ledctl({"on", "1", "on", "3", "on", "7", "off", "1", "status"}, {.utf8 = true});
    EXPECT_EQ(run.status, ledctl::kExitSuccess);
    EXPECT_EQ(Leds(), 0x88);
    EXPECT_EQ(run.out,
              "LED 1 on\nLED 3 on\nLED 7 on\nLED 1 off\n"
              "LED  7 6 5 4 3 2 1 0\n"
              "     ● ○ ○ ○ ● ○ ○ ○  0x88\n");
}

TEST_F(LedctlTest, StatusReadsWhatAnEarlierRunLeft) {
    ASSERT_EQ(Ledctl({"on", "5"}).status, ledctl::kExitSuccess);
    EXPECT_EQ(Ledctl({"status", "5"}).out, "LED 5: on\n");
    EXPECT_EQ(Ledctl({"status", "4"}).out, "LED 4: off\n");
    EXPECT_EQ(Ledctl({"status", "--plain"}, {.utf8 = true}).out,
              "LED  7 6 5 4 3 2 1 0\n"
              "     . . * . . . . .  0x20\n");
}

struct PatternCase {
    const char* word;
    std::uint8_t leds;

    friend void PrintTo(const PatternCase& c, std::ostream* os) { *os << c.word; }
};

class PatternCommand : public LedctlTest, public testing::WithParamInterface<PatternCase> {};

TEST_P(PatternCommand, SetsEveryLedAndShowsTheRowReadBack) {
    ASSERT_EQ(Ledctl({"pattern", "0x3C"}).status, ledctl::kExitSuccess);  // something to overwrite
    const RunResult run = Ledctl({"pattern", GetParam().word});
    EXPECT_EQ(run.status, ledctl::kExitSuccess);
    EXPECT_EQ(Leds(), GetParam().leds);
    const std::string byte = ledctl::HexByte(GetParam().leds);
    EXPECT_EQ(run.out, "pattern " + byte + "\nLED  7 6 5 4 3 2 1 0\n     " +
                           ledctl::RowCells(ledctl::LedRow::FromByte(GetParam().leds), ledctl::Style::Plain()) +
                           "  " + byte + "\n");
}

INSTANTIATE_TEST_SUITE_P(LedCommands, PatternCommand,
                         testing::Values(PatternCase{"0x5A", 0x5A}, PatternCase{"01011010", 0x5A},
                                         PatternCase{"10000000", 0x80}, PatternCase{"0x01", 0x01},
                                         PatternCase{"0x00", 0x00}, PatternCase{"11111111", 0xFF}),
                         [](const auto& info) { return CaseName({info.param.word}); });

struct RefusalCase {
    std::vector<std::string> args;
    const char* error;

    friend void PrintTo(const RefusalCase& c, std::ostream* os) { *os << CaseName(c.args); }
};

class RefusedLed : public LedctlTest, public testing::WithParamInterface<RefusalCase> {};

// The library's own message, and the LEDs as they were.
TEST_P(RefusedLed, FailsWithTheLibrarysMessage) {
    ASSERT_EQ(Ledctl({"pattern", "0x81"}).status, ledctl::kExitSuccess);
    const RunResult run = Ledctl(GetParam().args);
    EXPECT_EQ(run.status, ledctl::kExitFailure);
    EXPECT_EQ(run.err, std::string("ledctl: ") + GetParam().error + "\n");
    EXPECT_EQ(Leds(), 0x81);
}

INSTANTIATE_TEST_SUITE_P(
    LedCommands, RefusedLed,
    testing::Values(RefusalCase{{"on", "9"}, "on 9: LED_INVALID_PORTNUM: Invalid LED Port Number"},
                    RefusalCase{{"on", "8"}, "on 8: LED_INVALID_PORTNUM: Invalid LED Port Number"},
                    RefusalCase{{"off", "65535"}, "off 65535: LED_INVALID_PORTNUM: Invalid LED Port Number"},
                    RefusalCase{{"status", "8"}, "status 8: LED_INVALID_PORTNUM: Invalid LED Port Number"}),
    [](const auto& info) { return CaseName(info.param.args); });

TEST_F(LedctlTest, AFailedCommandEndsTheRun) {
    const RunResult run = Ledctl({"on", "1", "on", "9", "on", "2"});
    EXPECT_EQ(run.status, ledctl::kExitFailure);
    EXPECT_EQ(run.out, "LED 1 on\n");
    EXPECT_EQ(Leds(), 0x02) << "on 2 came after the failure";
}

TEST_F(LedctlTest, ChipAt4EWorksLikeAt2E) {
    const RunResult run = Ledctl({"--chip=4e", "on", "2", "count"});
    EXPECT_EQ(run.status, ledctl::kExitSuccess) << run.err;
    EXPECT_EQ(run.out, "LED 2 on\nLED count: 8\n");
    EXPECT_EQ(Board().Chip().Placement(), board::ChipPlacement::At4E);
    EXPECT_EQ(Leds(), 0x04);
}

// With no chip the driver's start fails and the system removes the device: the library cannot open it.
TEST_F(LedctlTest, WithoutTheChipTheOpenFails) {
    const RunResult run = Ledctl({"--chip=none", "count"});
    EXPECT_EQ(run.status, ledctl::kExitFailure);
    EXPECT_EQ(run.out, "");
    const auto lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 2U) << run.err;
    EXPECT_TRUE(lines[0].starts_with("ledctl: --chip=none: the driver's start failed with status 0x")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("; the system removed the device")) << lines[0];
    EXPECT_EQ(lines[1], "ledctl: count: LED_DeviceOpen: LED_OpenDevice_Failed: Open LED Device Failed");
}

}  // namespace
}  // namespace ledctltest
