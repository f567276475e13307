// Board controls on the virtual board (power, Plug and Play, tracing), and their absence where LEDs are real.
#include <gtest/gtest.h>

#include <regex>

#include "LedctlFixture.h"
#include "Printer.h"

namespace ledctltest {
namespace {

class Suspend : public LedctlTest, public testing::WithParamInterface<const char*> {};

// The chip loses power while the system is away; the driver writes the saved pattern back.
TEST_P(Suspend, ThePatternComesBackOnWake) {
    const std::string suspend = GetParam();
    ASSERT_EQ(Ledctl({"pattern", "0x5A"}).status, ledctl::kExitSuccess);

    const RunResult away = Ledctl({suspend});
    EXPECT_EQ(away.status, ledctl::kExitSuccess) << away.err;
    EXPECT_NE(away.out.find(suspend + ": the system is in S"), std::string::npos) << away.out;
    EXPECT_EQ(Leds(), 0x00) << "the chip has no power";

    const RunResult back = Ledctl({"wake", "status"});
    EXPECT_EQ(back.status, ledctl::kExitSuccess) << back.err;
    EXPECT_EQ(Leds(), 0x5A);
    EXPECT_NE(back.out.find("0x5A"), std::string::npos) << back.out;
}

INSTANTIATE_TEST_SUITE_P(BoardControls, Suspend, testing::Values("sleep", "hibernate"));

TEST_F(LedctlTest, SleepAndWakeComeInPairs) {
    const RunResult early = Ledctl({"wake"});
    EXPECT_EQ(early.status, ledctl::kExitFailure);
    EXPECT_EQ(early.err, "ledctl: wake: the system is not asleep\n");

    const RunResult twice = Ledctl({"sleep", "hibernate"});
    EXPECT_EQ(twice.status, ledctl::kExitFailure);
    EXPECT_EQ(twice.err, "ledctl: hibernate: the system is already in S3; wake it first\n");
}

TEST_F(LedctlTest, StopKeepsThePatternAndStartClearsIt) {
    ASSERT_EQ(Ledctl({"pattern", "0xFF", "stop"}).status, ledctl::kExitSuccess);
    EXPECT_EQ(Leds(), 0xFF);
    const RunResult started = Ledctl({"start", "status"});
    EXPECT_EQ(started.status, ledctl::kExitSuccess) << started.err;
    EXPECT_EQ(Leds(), 0x00);
    EXPECT_NE(started.out.find("start: the LED device is started\n"), std::string::npos) << started.out;
}

TEST_F(LedctlTest, DeviceControlsNeedTheDevice) {
    for (const char* control : {"stop", "start"}) {
        const RunResult run = Ledctl({"--chip=none", control});
        EXPECT_EQ(run.status, ledctl::kExitFailure);
        EXPECT_NE(run.err.find(std::string(control) + ": there is no OrvLED device on this board"), std::string::npos)
            << run.err;
    }
}

// Every operation the bus saw in the run is printed, as it happened, and nothing else is added.
TEST_F(LedctlTest, TracePrintsEachPortOperation) {
    const std::uint64_t before = Board().Ports().TraceCount();
    const RunResult run = Ledctl({"--trace", "on", "3"});
    ASSERT_EQ(run.status, ledctl::kExitSuccess) << run.err;
    const std::uint64_t operations = Board().Ports().TraceCount() - before;
    ASSERT_GT(operations, 0U);

    const std::regex traceLine("  (out 0x2[EF] <- |in  0x2[EF] -> )0x[0-9A-F]{2}");
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), operations + 1);
    EXPECT_EQ(lines.back(), "LED 3 on") << "the trace comes as the request runs, before the result";
    for (std::uint64_t i = 0; i < operations; ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], traceLine)) << lines[i];
        const board::PortOperation seen = Board().Ports().TraceAt(before + i);
        EXPECT_EQ(lines[i], ledctl::FormatPortAccess({seen.port, seen.direction == board::PortDirection::Out,
                                                      seen.value}));
    }
    EXPECT_EQ(lines.front(), "  out 0x2E <- 0x87") << "each access begins with the enter key";
}

TEST_F(LedctlTest, TraceEndsWithTheRun) {
    ASSERT_EQ(Ledctl({"--trace", "count"}).status, ledctl::kExitSuccess);
    const RunResult quiet = Ledctl({"on", "1"});
    EXPECT_EQ(quiet.out, "LED 1 on\n");
}

TEST_F(LedctlTest, TraceFollowsTheChipToItsPlace) {
    const RunResult run = Ledctl({"--chip=4e", "--trace", "off", "0"});
    ASSERT_EQ(run.status, ledctl::kExitSuccess) << run.err;
    EXPECT_NE(run.out.find("  out 0x4E <- 0x87\n"), std::string::npos);
    EXPECT_EQ(run.out.find(" 0x2E "), std::string::npos);
}

// Where the LEDs are real the library works as ever, and the board controls say they are not there.
class RealLeds : public testing::Test {
protected:
    RealLedsPlatform platform_;
};

TEST_F(RealLeds, LedCommandsWork) {
    const RunResult run = RunOn(platform_, {"pattern", "0x81", "count"});
    EXPECT_EQ(run.status, ledctl::kExitSuccess) << run.err;
    EXPECT_EQ(platform_.Board().Chip().OutputLevels(), 0x81);
}

TEST_F(RealLeds, BoardControlsFailAndSayWhy) {
    for (const char* control : {"sleep", "wake", "hibernate", "stop", "start"}) {
        const RunResult run = RunOn(platform_, {control});
        EXPECT_EQ(run.status, ledctl::kExitFailure);
        EXPECT_EQ(run.err, std::string("ledctl: ") + control +
                               ": board controls need the virtual board; here the LEDs are real\n");
    }
}

TEST_F(RealLeds, BoardOptionsAreUsageErrors) {
    for (const char* option : {"--trace", "--chip=4e", "--debug"}) {
        const RunResult run = RunOn(platform_, {option, "on", "1"});
        EXPECT_EQ(run.status, ledctl::kExitUsage) << option;
        EXPECT_EQ(platform_.Board().Chip().OutputLevels(), 0x00) << option;
    }
}

}  // namespace
}  // namespace ledctltest
