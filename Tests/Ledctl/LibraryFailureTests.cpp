// What the tool makes of the library's failures, provoked in the stand-in kernel32 below it.
#include <gtest/gtest.h>

#include "LedctlFixture.h"

namespace ledctltest {
namespace {

constexpr int32_t kGenFailure = 31;  // ERROR_GEN_FAILURE: any Win32 error will do

class LibraryFailure : public LedctlTest {
protected:
    host::FaultInjector& Faults() { return Board().Kernel().Faults(); }
};

TEST_F(LibraryFailure, OpenWithoutMemoryReportsTheLibrarysMessage) {
    Faults().FailNext("GlobalAlloc", kGenFailure);
    const RunResult run = Ledctl({"on", "1"});
    EXPECT_EQ(run.status, ledctl::kExitFailure);
    EXPECT_EQ(run.err, "ledctl: on 1: LED_DeviceOpen: LED_Memory_Allocate_Failed: Not Enough Memory\n");
    EXPECT_EQ(Leds(), 0x00);
}

// A lost count request leaves the library with a count of 0: it then refuses every LED.
class LostCount : public LibraryFailure {
protected:
    void SetUp() override {
        ASSERT_EQ(Ledctl({"pattern", "0x42"}).status, ledctl::kExitSuccess);
        Faults().FailNext("DeviceIoControl", kGenFailure);  // the count request of the next open
    }
};

// LED_GetCount asks the driver again: after it the LEDs are there once more.
TEST_F(LostCount, CountBringsTheLedsBack) {
    const RunResult run = Ledctl({"count", "on", "3"});
    EXPECT_EQ(run.status, ledctl::kExitSuccess) << run.err;
    EXPECT_EQ(run.out, "LED count: 8\nLED 3 on\n");
    EXPECT_EQ(Leds(), 0x4A);
}

TEST_F(LostCount, StatusShowsRefusedLedsAndFails) {
    const RunResult run = Ledctl({"status"});
    EXPECT_EQ(run.status, ledctl::kExitFailure);
    EXPECT_EQ(run.out,
              "LED  7 6 5 4 3 2 1 0\n"
              "     - - - - - - - -\n");
    EXPECT_EQ(run.err, "ledctl: status: LED 0 1 2 3 4 5 6 7: LED_INVALID_PORTNUM: Invalid LED Port Number\n");
}

TEST_F(LostCount, PatternStopsAtTheFirstRefusal) {
    const RunResult run = Ledctl({"pattern", "0x18"});
    EXPECT_EQ(run.status, ledctl::kExitFailure);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "ledctl: pattern 0x18: LED 0: LED_INVALID_PORTNUM: Invalid LED Port Number\n");
    EXPECT_EQ(Leds(), 0x42);
}

// Without a usable TamLED.dll every LED command, the demo too, fails with the reason and touches nothing.
TEST(UnusableLibrary, EveryLedCommandFailsWithTheReason) {
    const std::vector<std::vector<std::string>> commands = {
        {"count"}, {"on", "1"}, {"off", "1"}, {"status"}, {"status", "2"}, {"pattern", "0x81"}, {"demo"}};
    for (const auto& command : commands) {
        SCOPED_TRACE(CaseName(command));
        RealLedsPlatform platform("cannot load TamLED.dll");
        const RunResult run = RunOn(platform, command);
        EXPECT_EQ(run.status, ledctl::kExitFailure);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.substr(0, 8), "ledctl: ");
        EXPECT_TRUE(run.err.ends_with(": cannot load TamLED.dll\n")) << run.err;
        EXPECT_EQ(platform.Board().Chip().OutputLevels(), 0x00);
    }
}

}  // namespace
}  // namespace ledctltest
