// The tool's language: commands, their arguments and the options, parsed from words.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "BoardControls.h"

namespace ledctl {

enum class Verb { Count, On, Off, Status, Pattern, Demo, Sleep, Wake, Hibernate, Stop, Start, Help, Quit };

struct Command {
    Verb verb = Verb::Count;
    std::optional<unsigned short> led;  // on, off, status N
    std::uint8_t pattern = 0;           // pattern

    friend bool operator==(const Command&, const Command&) = default;
};

// The command as a person would type it: "on 3", "pattern 0x5A".
std::string Describe(const Command& command);

// An LED number as the library takes it: 0 to 65535; the library decides which exist.
std::optional<unsigned short> ParseLedNumber(std::string_view word);
// A whole pattern: a hex byte ("0x5A") or eight bits with LED 7 first ("01011010").
std::optional<std::uint8_t> ParsePattern(std::string_view word);

struct ParsedCommands {
    std::vector<Command> commands;
    std::string error;  // empty when every word was understood
};
ParsedCommands ParseCommands(std::span<const std::string> words);

struct Options {
    bool help = false;
    bool trace = false;
    bool plain = false;
    bool debug = false;
    std::optional<ChipPlace> chip;
    std::string chipOption;  // as given, for messages: "--chip=none"
    std::vector<std::string> words;  // everything that is not an option: the commands
    std::string error;
};
Options ParseOptions(std::span<const std::string> args);

}  // namespace ledctl
