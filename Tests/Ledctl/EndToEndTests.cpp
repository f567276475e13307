// The built program itself: arguments, output streams and exit status as a shell sees them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace ledctltest {
namespace {

struct ProgramRun {
    int status = -1;
    std::string output;
};

// stdin from /dev/null: the program must not wait for a person.
ProgramRun RunProgram(const std::string& arguments, const char* redirection) {
    const std::string command = std::string(LEDCTL_PROGRAM) + " " + arguments + " </dev/null " + redirection;
    ProgramRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return run;
    }
    std::array<char, 4096> buffer{};
    for (std::size_t read; (read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
        run.output.append(buffer.data(), read);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(EndToEnd, CommandsPrintToStdoutInPlainAsciiWhenPiped) {
    const ProgramRun run = RunProgram("on 1 on 3 status", "2>/dev/null");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              "LED 1 on\nLED 3 on\n"
              "LED  7 6 5 4 3 2 1 0\n"
              "     . . . . * . * .  0x0A\n");
}

TEST(EndToEnd, FailuresGoToStderrWithStatusOne) {
    const ProgramRun quiet = RunProgram("on 9", "2>/dev/null");
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.output, "");
    const ProgramRun both = RunProgram("on 9", "2>&1");
    EXPECT_EQ(both.output, "ledctl: on 9: LED_INVALID_PORTNUM: Invalid LED Port Number\n");
}

TEST(EndToEnd, WithoutCommandAndTerminalItIsAUsageError) {
    const ProgramRun run = RunProgram("", "2>&1");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, "ledctl: no command given\nTry 'ledctl --help'.\n");
}

}  // namespace
}  // namespace ledctltest
