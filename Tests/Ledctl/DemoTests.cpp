// The demo: every step on the virtual board, its honesty when something misbehaves, and its shorter tour on real LEDs.
#include <gtest/gtest.h>

#include "LedctlFixture.h"

namespace ledctltest {
namespace {

std::vector<std::string> Headings(const std::string& out) {
    std::vector<std::string> headings;
    for (const std::string& line : Lines(out)) {
        if (line.starts_with("-- ")) {
            headings.push_back(line);
        }
    }
    return headings;
}

std::string LineStarting(const std::string& out, const std::string& start) {
    for (const std::string& line : Lines(out)) {
        if (line.starts_with(start)) {
            return line;
        }
    }
    return {};
}

TEST_F(LedctlTest, DemoWalksThroughEveryStep) {
    const RunResult run = Ledctl({"demo"});
    ASSERT_EQ(run.status, ledctl::kExitSuccess) << run.out << run.err;
    EXPECT_EQ(Headings(run.out),
              (std::vector<std::string>{"-- 1/7  The machine starts",
                                        "-- 2/7  An application opens the device and asks how many LEDs there are",
                                        "-- 3/7  Each LED on, then off again", "-- 4/7  A whole pattern at once",
                                        "-- 5/7  The pattern survives a sleep",
                                        "-- 6/7  A stop and a start of the device clear it",
                                        "-- 7/7  A board without the chip"}));
    EXPECT_EQ(LineStarting(run.out, "   LED_GetCount    "), "   LED_GetCount    8 LEDs");
    EXPECT_EQ(LineStarting(run.out, "   LED_On(5)"),
              "   LED_On(5)       . . * . . . . .  0x20    LED_Off(5)  . . . . . . . .  0x00");
    EXPECT_EQ(LineStarting(run.out, "   awake "), "   awake           . * . * * . * .  0x5A");
    EXPECT_EQ(LineStarting(run.out, "   started "), "   started         . . . . . . . .  0x00");
    EXPECT_NE(run.out.find("System Stand by: m_LEDStatus = 0x5A"), std::string::npos) << "the driver's own words";
    EXPECT_NE(run.out.find("LED_DeviceOpen  LED_OpenDevice_Failed: Open LED Device Failed"), std::string::npos);
    EXPECT_NE(run.out.find("Done: every step behaved as shown."), std::string::npos);
    EXPECT_EQ(run.out.find(" ! "), std::string::npos) << "no surprise marked";
}

TEST_F(LedctlTest, DemoLeavesTheBoardAsItFoundIt) {
    const RunResult run = Ledctl({"--chip=4e", "demo", "on", "1"});
    ASSERT_EQ(run.status, ledctl::kExitSuccess) << run.err;
    EXPECT_EQ(Board().Chip().Placement(), board::ChipPlacement::At4E);
    EXPECT_EQ(Leds(), 0x02);
}

// A library that reads LED 4 as always off: the demo must notice instead of showing the expected picture.
class LedFourStuckOff final : public ledctl::Platform {
public:
    LedFourStuckOff() : library_(inner_.Library()) {
        realGetStatus_ = library_.getStatus;
        library_.getStatus = [](LED_LONG handle, unsigned short led, LED_ULONG* state) {
            const LED_LONG result = realGetStatus_(handle, led, state);
            if (led == 4) {
                *state = 0;
            }
            return result;
        };
    }
    const ledctl::LedLibrary& Library() const override { return library_; }
    ledctl::BoardControls& Controls() override { return inner_.Controls(); }

private:
    static inline ledctl::LedLibrary::StatusFunction realGetStatus_ = nullptr;
    ledctl::VirtualPlatform inner_;
    ledctl::LedLibrary library_;
};

TEST(Demo, MarksWhatDidNotBehaveAndFails) {
    LedFourStuckOff platform;
    const RunResult run = RunOn(platform, {"demo"});
    EXPECT_EQ(run.status, ledctl::kExitFailure);
    EXPECT_EQ(LineStarting(run.out, "   LED_On(4)"),
              "   LED_On(4)       . . . . . . . .  0x10  ! expected 0x10    LED_Off(4)  . . . . . . . .  0x00");
    EXPECT_NE(run.out.find("   pattern 0x5A    . * . . * . * .  0x5A  ! expected 0x5A"), std::string::npos);
    EXPECT_NE(run.out.find("Done, with"), std::string::npos);
}

TEST(Demo, OnRealLedsTakesTheLibraryStepsOnly) {
    RealLedsPlatform platform;
    const RunResult run = RunOn(platform, {"demo"});
    EXPECT_EQ(run.status, ledctl::kExitSuccess) << run.out << run.err;
    EXPECT_EQ(Headings(run.out), (std::vector<std::string>{
                                     "-- 1/3  An application opens the device and asks how many LEDs there are",
                                     "-- 2/3  Each LED on, then off again", "-- 3/3  A whole pattern at once"}));
    EXPECT_EQ(LineStarting(run.out, "   LED_On(0)"),
              "   LED_On(0)       . . . . . . . *    LED_Off(0)  . . . . . . . .");
}

TEST_F(LedctlTest, DemoShowsUtf8LedsOnAUtf8Console) {
    const RunResult run = Ledctl({"demo"}, {.utf8 = true});
    ASSERT_EQ(run.status, ledctl::kExitSuccess);
    EXPECT_NE(run.out.find("── 4/7  A whole pattern at once"), std::string::npos);
    EXPECT_NE(run.out.find("○ ● ○ ● ● ○ ● ○  0x5A"), std::string::npos);
}

}  // namespace
}  // namespace ledctltest
