// The rules that fail an end-to-end run on Wine's output.
#include <gtest/gtest.h>

#include "WineLog.h"

namespace {

using winebed::FindLogProblems;

const char* const kMissingKeStall =
    "0160:warn:module:import_dll No implementation for hal.dll.KeStallExecutionProcessor imported from "
    "L\"C:\\\\windows\\\\system32\\\\drivers\\\\OrvLED.sys\", setting to 0000000001230000";
const char* const kMissingProperty =
    "0160:warn:module:import_dll No implementation for ntoskrnl.exe.IoSetDeviceInterfacePropertyData imported "
    "from L\"C:\\\\windows\\\\system32\\\\drivers\\\\OrvLED.sys\", setting to 00000000021C0000";
const char* const kServedProperty =
    "0160:warn:debugstr:vDbgPrintExWithPrefix 00000000:00000001: BoardTrap: image at 00000000021B0000 gets "
    "IoSetDeviceInterfacePropertyData from the test bed";
const char* const kDriverText = "0160:warn:debugstr:vDbgPrintExWithPrefix 00000000:00000001: PortProbe: loaded";

struct LogCase {
    const char* name;
    std::vector<std::string> lines;
    std::size_t problems;
};

TEST(WineLog, FailsOnMissingRoutinesCrashesAndAnUnarmedTrap)
{
    const LogCase cases[] = {
        {"driver text only", {kDriverText}, 0},
        {"routine nobody serves", {kDriverText, kMissingKeStall}, 1},
        {"routine the test bed serves", {kMissingProperty, kServedProperty}, 0},
        {"served routine does not excuse another", {kMissingProperty, kServedProperty, kMissingKeStall}, 1},
        {"missing routine never served", {kMissingProperty}, 1},
        {"unhandled privileged instruction",
         {"wine: Unhandled privileged instruction at address 00000000021A1095 (thread 00cc), starting debugger..."},
         1},
        {"trap not armed", {"0160:warn:debugstr:... BoardTrap: cannot register the vectored exception handler"}, 1},
        {"empty", {}, 0},
    };
    for (const LogCase& c : cases) {
        std::string log;
        for (const std::string& line : c.lines) {
            log += line + "\n";
        }
        EXPECT_EQ(FindLogProblems(log).size(), c.problems) << c.name;
    }
}

} // namespace
