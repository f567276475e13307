// The command line: words to commands, options, usage errors and the exit status they give.
#include <gtest/gtest.h>

#include <optional>

#include "Commands.h"
#include "LedctlFixture.h"

namespace ledctltest {
namespace {

using ledctl::Command;
using ledctl::Verb;

struct PatternCase {
    const char* word;
    std::optional<std::uint8_t> value;

    friend void PrintTo(const PatternCase& c, std::ostream* os) { *os << '"' << c.word << '"'; }
};

class PatternWord : public testing::TestWithParam<PatternCase> {};

TEST_P(PatternWord, ParsesHexBytesAndEightBitsLed7First) {
    EXPECT_EQ(ledctl::ParsePattern(GetParam().word), GetParam().value) << GetParam().word;
}

INSTANTIATE_TEST_SUITE_P(CommandLine, PatternWord,
                         testing::Values(PatternCase{"0x5A", 0x5A}, PatternCase{"0X5a", 0x5A},
                                         PatternCase{"0xF", 0x0F}, PatternCase{"0x00", 0x00},
                                         PatternCase{"01011010", 0x5A}, PatternCase{"10000000", 0x80},
                                         PatternCase{"00000001", 0x01}, PatternCase{"11111111", 0xFF},
                                         PatternCase{"5A", std::nullopt}, PatternCase{"0x", std::nullopt},
                                         PatternCase{"0x100", std::nullopt}, PatternCase{"0x5G", std::nullopt},
                                         PatternCase{"0x-1", std::nullopt}, PatternCase{"0101101", std::nullopt},
                                         PatternCase{"010110100", std::nullopt},
                                         PatternCase{"01021010", std::nullopt}, PatternCase{"", std::nullopt}),
                         [](const auto& info) { return CaseName({info.param.word}); });

TEST(CommandLine, LedNumbersAreWhatTheLibraryTakes) {
    EXPECT_EQ(ledctl::ParseLedNumber("0"), 0);
    EXPECT_EQ(ledctl::ParseLedNumber("9"), 9);  // the library, not the parser, refuses LEDs that are not there
    EXPECT_EQ(ledctl::ParseLedNumber("65535"), 65535);
    for (const char* word : {"65536", "-1", "+1", "3a", "", " 3", "0x3"}) {
        EXPECT_EQ(ledctl::ParseLedNumber(word), std::nullopt) << "'" << word << "'";
    }
}

TEST(CommandLine, StatusTakesAFollowingNumberOnly) {
    const std::vector<std::string> words{"status", "3", "on", "1", "status", "Pattern", "01011010", "OFF", "2"};
    const auto parsed = ledctl::ParseCommands(words);
    ASSERT_EQ(parsed.error, "");
    const std::vector<Command> expected{{Verb::Status, 3, 0}, {Verb::On, 1, 0},     {Verb::Status, {}, 0},
                                        {Verb::Pattern, {}, 0x5A}, {Verb::Off, 2, 0}};
    EXPECT_EQ(parsed.commands, expected);
}

TEST(CommandLine, DescribesCommandsAsTyped) {
    EXPECT_EQ(ledctl::Describe({Verb::On, 3, 0}), "on 3");
    EXPECT_EQ(ledctl::Describe({Verb::Status, {}, 0}), "status");
    EXPECT_EQ(ledctl::Describe({Verb::Pattern, {}, 0x0A}), "pattern 0x0A");
    EXPECT_EQ(ledctl::Describe({Verb::Hibernate, {}, 0}), "hibernate");
}

TEST(CommandLine, OptionsMayStandAnywhere) {
    const std::vector<std::string> args{"on", "1", "--trace", "--chip=4E", "status", "--plain"};
    const auto options = ledctl::ParseOptions(args);
    ASSERT_EQ(options.error, "");
    EXPECT_TRUE(options.trace);
    EXPECT_TRUE(options.plain);
    EXPECT_FALSE(options.debug);
    EXPECT_EQ(options.chip, ledctl::ChipPlace::At4E);
    EXPECT_EQ(options.words, (std::vector<std::string>{"on", "1", "status"}));
}

struct UsageCase {
    std::vector<std::string> args;
    const char* message;

    friend void PrintTo(const UsageCase& c, std::ostream* os) { *os << CaseName(c.args); }
};

class UsageError : public LedctlTest, public testing::WithParamInterface<UsageCase> {};

// Nothing runs when any word is wrong: the LED before the bad word stays off.
TEST_P(UsageError, ExitsWithTwoAndTouchesNoLed) {
    const RunResult run = Ledctl(GetParam().args);
    EXPECT_EQ(run.status, ledctl::kExitUsage);
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("ledctl --help"), std::string::npos);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Leds(), 0x00);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, UsageError,
    testing::Values(UsageCase{{"on", "0", "bogus"}, "unknown command 'bogus'"},
                    UsageCase{{"on", "0", "on"}, "on: missing LED number"},
                    UsageCase{{"on", "0", "off", "x"}, "off: 'x' is not an LED number"},
                    UsageCase{{"on", "0", "on", "65536"}, "on: '65536' is not an LED number"},
                    UsageCase{{"on", "0", "pattern"}, "pattern: missing pattern"},
                    UsageCase{{"on", "0", "pattern", "0x1FF"}, "pattern: '0x1FF' is neither"},
                    UsageCase{{"on", "0", "--chip=8e"}, "--chip: expected 2e, 4e or none"},
                    UsageCase{{"on", "0", "--frobnicate"}, "unknown option '--frobnicate'"},
                    UsageCase{{}, "no command given"}),
    [](const auto& info) { return CaseName(info.param.args); });

TEST_F(LedctlTest, HelpDocumentsCommandsPatternFormatAndExitStatus) {
    for (const char* spelling : {"--help", "-h"}) {
        const RunResult run = Ledctl({"on", "1", spelling});
        EXPECT_EQ(run.status, ledctl::kExitSuccess);
        EXPECT_EQ(run.out, ledctl::HelpText());
        EXPECT_EQ(Leds(), 0x00) << "help runs no command";
    }
    const std::string help = ledctl::HelpText();
    for (const char* topic : {"count", "on N", "status [N]", "0x5A", "01011010", "LED 7 first", "demo", "sleep",
                              "--trace", "--chip=2e|4e|none", "--plain", "Exit status"}) {
        EXPECT_NE(help.find(topic), std::string::npos) << topic;
    }
}

}  // namespace
}  // namespace ledctltest
