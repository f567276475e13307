// End-to-end runs under Wine: drivers installed through their INF, their port I/O trapped onto the chip model,
// their requests served, their DbgPrint text and Wine's complaints read from Wine's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "BuiltImages.h"
#include "WineBoard.h"
#include "WineLog.h"

namespace {

using winebed::Lines;
using winebed::ParseKeyValues;
using winebed::WineBoard;

bool Required()
{
    const char* value = std::getenv("LED_REQUIRE_WINE");
    return value != nullptr && std::string(value) == "1";
}

std::string FileBytes(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A Linux path as Windows programs under Wine see it.
std::string WindowsPath(const std::filesystem::path& path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

std::filesystem::path Prefix() { return std::filesystem::path(LED_WINE_E2E_DIR) / "prefix"; }

std::filesystem::path InstalledImage(const char* file)
{
    return Prefix() / "drive_c/windows/system32/drivers" / file;
}

std::filesystem::path BuiltImage(const char* file)
{
    return std::filesystem::path(LED_WINDOWS_BUILD_ROOT) / "windows-x64/bin" / file;
}

// Both suites share one prefix (making one takes half a minute); switching drivers reinstalls the device.
// The server stops after the last test, so no Wine process outlives the run.
class StopBoardAtExit : public testing::Environment {
public:
    void TearDown() override
    {
        if (!WineBoard::Unavailable()) {
            WineBoard("probe", Prefix()).Stop();
        }
    }
};
[[maybe_unused]] testing::Environment* const kStopBoard = testing::AddGlobalTestEnvironment(new StopBoardAtExit);

class BoardSuite : public testing::Test {
protected:
    void SkipWithoutWine()
    {
        if (auto reason = WineBoard::Unavailable()) {
            if (Required()) {
                FAIL() << *reason;
            }
            GTEST_SKIP() << *reason;
        }
    }

    // Fails or skips the test, as SkipWithoutWine does, when a build has not made the image.
    void RequireImage(const char* tree, const char* file)
    {
        auto located = binaries::Locate(tree, file);
        if (auto* absent = std::get_if<binaries::Absent>(&located)) {
            if (absent->isFailure || Required()) {
                FAIL() << absent->reason;
            }
            GTEST_SKIP() << absent->reason;
        }
    }

    // Wine served every import and call the run needed.
    static void ExpectNothingMissing(const WineBoard& board)
    {
        const auto problems = winebed::FindLogProblems(board.Log());
        EXPECT_TRUE(problems.empty()) << testing::PrintToString(problems);
    }
};

// ---- The test-only PortProbe driver: the mechanism on its own ----------------------------------------

class ProbeBoard : public BoardSuite {
protected:
    void SetUp() override { SkipWithoutWine(); }
    const WineBoard board{"probe", Prefix()};
};

TEST_F(ProbeBoard, InstallsThroughItsInfIntoTheTrapsProcess)
{
    const auto service = board.Run({"reg", "query", R"(HKLM\System\CurrentControlSet\Services\PortProbe)"});
    ASSERT_EQ(service.exitCode, 0) << service.output;
    EXPECT_TRUE(Contains(service.output, R"(system32\drivers\PortProbe.sys)")) << service.output;
    EXPECT_TRUE(Contains(service.output, "Board Trap")) << service.output;
    const std::string log = board.Log();
    EXPECT_TRUE(Contains(log, "PortProbe: device added")) << "the PnP manager did not add the root device";
    EXPECT_EQ(FileBytes(InstalledImage("PortProbe.sys")), FileBytes(BuiltImage("PortProbe.sys"))) << "the INF did not copy the built image unchanged";
}

TEST_F(ProbeBoard, TrapsEveryPortFormOntoTheChip)
{
    const auto trace = board.Run({"boardctl.exe", "trace"});
    ASSERT_EQ(trace.exitCode, 0) << trace.output;
    // Immediate and DX forms, a 16-bit IN (two port reads), in program order.
    const std::vector<std::string> expected = {"out 2E 87", "out 2E 87", "out 2E 20", "in 2F 52",
                                               "in 2E 20",  "in 2F 52",  "in 2F 52",  "out 2E AA"};
    EXPECT_EQ(Lines(trace.output), expected);
    const auto state = ParseKeyValues(board.Run({"boardctl.exe", "state"}).output);
    EXPECT_EQ(state.at("trapped"), "7");
    EXPECT_EQ(state.at("undecoded"), "0");
    EXPECT_EQ(state.at("config_mode"), "0");
    EXPECT_TRUE(Contains(board.Log(), "PortProbe: chip ID 0x52, word 0x5220, immediate 0x52"))
        << "DbgPrint text of the probe is missing from Wine's output";
}

TEST_F(ProbeBoard, ChipAt4EMeansOpenBusAt2E)
{
    const auto trace = board.Run({"boardctl.exe", "trace"}, "4e");
    ASSERT_EQ(trace.exitCode, 0) << trace.output;
    const std::vector<std::string> expected = {"out 2E 87", "out 2E 87", "out 2E 20", "in 2F FF",
                                               "in 2E FF",  "in 2F FF",  "in 2F FF",  "out 2E AA"};
    EXPECT_EQ(Lines(trace.output), expected);
    EXPECT_TRUE(Contains(board.Log(), "PortProbe: chip ID 0xFF, word 0xFFFF, immediate 0xFF"));
}

TEST_F(ProbeBoard, WineReportsNothingMissing)
{
    ExpectNothingMissing(board);
}

// ---- OrvLED.sys as shipped --------------------------------------------------------------------------

class OrvLedBoard : public BoardSuite {
protected:
    void SetUp() override
    {
        SkipWithoutWine();
        if (IsSkipped() || HasFailure()) {
            return;
        }
        RequireImage("windows-x64", "OrvLED.sys");
    }
    const WineBoard board{"orvled", Prefix()};

    std::map<std::string, std::string> State(const std::string& placement = "2e") const
    {
        return ParseKeyValues(board.Run({"boardctl.exe", "state"}, placement).output);
    }
};

TEST_F(OrvLedBoard, InstallsThroughOrvLedInfUnchanged)
{
    const auto service = board.Run({"reg", "query", R"(HKLM\System\CurrentControlSet\Services\OrvLED)"});
    ASSERT_EQ(service.exitCode, 0) << service.output;
    EXPECT_TRUE(Contains(service.output, R"(system32\drivers\OrvLED.sys)")) << service.output;
    EXPECT_TRUE(Contains(service.output, "Start    REG_DWORD    0x3")) << service.output;
    EXPECT_TRUE(Contains(service.output, "Type    REG_DWORD    0x1")) << service.output;
    EXPECT_EQ(FileBytes(InstalledImage("OrvLED.sys")), FileBytes(BuiltImage("OrvLED.sys"))) << "the driver that ran is not the file we ship";
    const std::string log = board.Log();
    EXPECT_TRUE(Contains(log, "// GLIM:     ----------------> DriverEntry! ---------------->     //"))
        << "DriverEntry's banner is missing from Wine's output";
}

TEST_F(OrvLedBoard, StartFindsTheChipAndConfiguresGpioPortOne)
{
    const auto trace = Lines(board.Run({"boardctl.exe", "trace"}).output);
    ASSERT_GE(trace.size(), 4u);
    const std::vector<std::string> probe = {"out 2E 87", "out 2E 87", "out 2E 20", "in 2F 52"};
    EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + 4), probe);
    const auto state = State();
    EXPECT_EQ(state.at("undecoded"), "0");
    EXPECT_EQ(state.at("data_outside_config"), "0");
    EXPECT_EQ(state.at("enter_key_in_config"), "0");
    EXPECT_EQ(state.at("config_mode"), "0") << "left in configuration mode";
    EXPECT_EQ(state.at("gpio_direction"), "0x00");
    EXPECT_EQ(state.at("gpio_inversion"), "0xFF");
    EXPECT_EQ(state.at("gpio_data"), "0x00");
    EXPECT_EQ(std::stoul(state.at("gpio_activate"), nullptr, 16) & 1u, 1u);
}

TEST_F(OrvLedBoard, MarksItsInterfaceRestricted)
{
    const auto state = State();
    EXPECT_NE(state.at("property_calls"), "0");
    EXPECT_EQ(state.at("last_property_guid"), "0x026E516E"); // DEVPKEY_DeviceInterface_Restricted
    EXPECT_EQ(state.at("last_property_id"), "6");
    EXPECT_EQ(state.at("last_property_type"), "0x11"); // DEVPROP_TYPE_BOOLEAN
    EXPECT_NE(state.at("last_property_data"), "0x00");
}

TEST_F(OrvLedBoard, RequestsSwitchTheChipsLatch)
{
    const auto count = ParseKeyValues(board.Run({"ledio.exe", "count"}).output);
    EXPECT_EQ(count.at("ok"), "1");
    EXPECT_EQ(count.at("count"), "8");
    for (const int led : {0, 3, 7}) {
        char mask[16];
        std::snprintf(mask, sizeof(mask), "0x%02X", 1u << led);
        EXPECT_EQ(ParseKeyValues(board.Run({"ledio.exe", "set", std::to_string(led), "1"}).output).at("ok"), "1");
        EXPECT_EQ(State().at("gpio_data"), mask) << "LED " << led;
        const auto on = ParseKeyValues(board.Run({"ledio.exe", "get", std::to_string(led)}).output);
        EXPECT_EQ(on.at("value"), "1") << "LED " << led;
        EXPECT_EQ(ParseKeyValues(board.Run({"ledio.exe", "set", std::to_string(led), "0"}).output).at("ok"), "1");
        EXPECT_EQ(State().at("gpio_data"), "0x00") << "LED " << led;
    }
}

TEST_F(OrvLedBoard, FindsTheChipAt4E)
{
    const auto trace = Lines(board.Run({"boardctl.exe", "trace"}, "4e").output);
    EXPECT_NE(std::find(trace.begin(), trace.end(), "in 2F FF"), trace.end()) << "no failed probe at 0x2E";
    EXPECT_NE(std::find(trace.begin(), trace.end(), "out 4E 87"), trace.end()) << "no probe at 0x4E";
    EXPECT_EQ(ParseKeyValues(board.Run({"ledio.exe", "set", "5", "1"}, "4e").output).at("ok"), "1");
    const auto state = State("4e");
    EXPECT_EQ(state.at("placement"), "1");
    EXPECT_EQ(state.at("gpio_direction"), "0x00");
    EXPECT_EQ(state.at("gpio_data"), "0x20");
    EXPECT_EQ(state.at("config_mode"), "0");
}

// The 32-bit library, loaded by a 32-bit application, through the 64-bit driver onto the chip.
class LibraryOnBoard : public OrvLedBoard {
protected:
    void SetUp() override
    {
        OrvLedBoard::SetUp();
        if (IsSkipped() || HasFailure()) {
            return;
        }
        RequireImage("windows-x86", "TamLED.dll");
    }
    std::map<std::string, std::string> Client(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> command = {"tamledcheck.exe"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto result = board.Run(command);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return ParseKeyValues(result.output);
    }
};

TEST_F(LibraryOnBoard, ExportsResolveByNameAndOrdinal)
{
    const auto exports = Client({"exports"});
    for (const char* name : {"LED_DeviceClose", "LED_DeviceOpen", "?LED_GetCount@@YAJJPAK@Z", "LED_GetErrorMessage",
                             "LED_GetStatus", "LED_Off", "LED_On", "DllMain"}) {
        EXPECT_EQ(exports.at(name), "1") << name << " not found by GetProcAddress";
    }
    EXPECT_EQ(exports.at("LED_GetCount"), "0") << "LED_GetCount must be exported under its decorated name only";
    for (int ordinal = 1; ordinal <= 8; ++ordinal) {
        EXPECT_EQ(exports.at("ordinal" + std::to_string(ordinal)), "1") << "ordinal " << ordinal;
    }
}

TEST_F(LibraryOnBoard, SwitchesAndReadsLedsOnTheChip)
{
    EXPECT_EQ(Client({"count"}).at("count"), "8");
    const auto on = Client({"on", "6"});
    EXPECT_EQ(on.at("open"), "0");
    EXPECT_EQ(on.at("result"), "0");
    EXPECT_EQ(State().at("gpio_data"), "0x40");
    EXPECT_EQ(Client({"status", "6"}).at("status"), "1");
    EXPECT_EQ(Client({"off", "6"}).at("result"), "0");
    EXPECT_EQ(State().at("gpio_data"), "0x00");
    EXPECT_EQ(Client({"status", "6"}).at("status"), "0");
    EXPECT_EQ(Client({"on", "8"}).at("result"), "4") << "LED 8 is past the count: LED_INVALID_PORTNUM";
    EXPECT_EQ(State().at("gpio_data"), "0x00");
}

TEST_F(LibraryOnBoard, WineReportsNothingMissing)
{
    ExpectNothingMissing(board);
}

TEST_F(OrvLedBoard, ChecksumAgreesWithWindowsImagehlp)
{
    const auto result = board.Run({"imagecheck.exe", WindowsPath(BuiltImage("OrvLED.sys"))}, "4e");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const auto values = Lines(result.output);
    ASSERT_EQ(values.size(), 1u) << result.output;
    const std::string& line = values.front(); // "stored=0x... computed=0x..."
    const auto stored = line.substr(line.find("stored=") + 7, 10);
    const auto computed = line.substr(line.find("computed=") + 9, 10);
    EXPECT_EQ(stored, computed) << line;
    EXPECT_NE(stored, "0x00000000") << line;
}

TEST_F(OrvLedBoard, WineReportsNothingMissing)
{
    ExpectNothingMissing(board);
}

} // namespace
