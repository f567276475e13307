// The prompt: commands line by line until quit or the end of input; a failure is reported and the prompt returns.
#include <gtest/gtest.h>

#include "LedctlFixture.h"

namespace ledctltest {
namespace {

constexpr ConsoleKind kPerson{.interactive = true, .utf8 = false};

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

TEST_F(LedctlTest, PromptRunsLinesUntilQuit) {
    const RunResult run = Ledctl({}, kPerson, "on 2 on 4\nstatus 2\nquit\non 6\n");
    EXPECT_EQ(run.status, ledctl::kExitSuccess);
    EXPECT_EQ(Leds(), 0x14) << "on 6 came after quit";
    EXPECT_NE(run.out.find("LED 2: on\n"), std::string::npos) << run.out;
    EXPECT_EQ(Count(run.out, "ledctl> "), 3U);
    EXPECT_EQ(run.err, "");
}

TEST_F(LedctlTest, PromptCarriesOnAfterAFailure) {
    const RunResult run = Ledctl({}, kPerson, "bogus\non 9 on 1\non 4\n");
    EXPECT_EQ(run.status, ledctl::kExitSuccess);
    EXPECT_EQ(Leds(), 0x10) << "the rest of a failed line is dropped, the next line runs";
    EXPECT_EQ(run.err,
              "ledctl: unknown command 'bogus'\n"
              "ledctl: on 9: LED_INVALID_PORTNUM: Invalid LED Port Number\n");
    EXPECT_EQ(Count(run.out, "ledctl> "), 4U) << "a prompt for each line and one that meets the end of input";
}

TEST_F(LedctlTest, PromptHelpListsTheCommands) {
    const RunResult run = Ledctl({}, kPerson, "help\nexit\n");
    EXPECT_EQ(run.status, ledctl::kExitSuccess);
    for (const char* command : {"count", "on N, off N", "status [N]", "pattern P", "demo", "sleep", "stop, start"}) {
        EXPECT_NE(run.out.find(command), std::string::npos) << command;
    }
    EXPECT_EQ(run.out.find("--trace"), std::string::npos) << "options cannot be given at the prompt";
}

TEST_F(LedctlTest, PromptKeepsOptionsOfTheCommandLine) {
    const RunResult run = Ledctl({"--trace"}, kPerson, "on 0\n");
    EXPECT_EQ(run.status, ledctl::kExitSuccess);
    EXPECT_NE(run.out.find("  out 0x2E <- 0x87\n"), std::string::npos);
    EXPECT_EQ(Leds(), 0x01);
}

}  // namespace
}  // namespace ledctltest
