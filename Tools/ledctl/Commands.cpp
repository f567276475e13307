// Parsing of commands and options.
#include "Commands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "LedRow.h"

namespace ledctl {
namespace {

enum class Argument { None, Led, OptionalLed, Pattern };

struct VerbSpelling {
    std::string_view word;
    Verb verb;
    Argument argument;
};

constexpr std::array kVerbs{
    VerbSpelling{"count", Verb::Count, Argument::None},
    VerbSpelling{"on", Verb::On, Argument::Led},
    VerbSpelling{"off", Verb::Off, Argument::Led},
    VerbSpelling{"status", Verb::Status, Argument::OptionalLed},
    VerbSpelling{"pattern", Verb::Pattern, Argument::Pattern},
    VerbSpelling{"demo", Verb::Demo, Argument::None},
    VerbSpelling{"sleep", Verb::Sleep, Argument::None},
    VerbSpelling{"wake", Verb::Wake, Argument::None},
    VerbSpelling{"hibernate", Verb::Hibernate, Argument::None},
    VerbSpelling{"stop", Verb::Stop, Argument::None},
    VerbSpelling{"start", Verb::Start, Argument::None},
    VerbSpelling{"help", Verb::Help, Argument::None},
    VerbSpelling{"quit", Verb::Quit, Argument::None},
    VerbSpelling{"exit", Verb::Quit, Argument::None},
};

const VerbSpelling* FindVerb(std::string_view word) {
    const auto it = std::find_if(kVerbs.begin(), kVerbs.end(), [&](const auto& v) { return v.word == word; });
    return it == kVerbs.end() ? nullptr : &*it;
}

std::string_view NameOf(Verb verb) {
    const auto it = std::find_if(kVerbs.begin(), kVerbs.end(), [&](const auto& v) { return v.verb == verb; });
    return it->word;
}

template <typename Number>
std::optional<Number> ParseDigits(std::string_view digits, int base) {
    Number value{};
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

struct ChipSpelling {
    std::string_view word;
    ChipPlace place;
};
constexpr std::array kChipPlaces{ChipSpelling{"2e", ChipPlace::At2E}, ChipSpelling{"4e", ChipPlace::At4E},
                                 ChipSpelling{"none", ChipPlace::Absent}};

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return lower;
}

}  // namespace

std::string Describe(const Command& command) {
    std::string text(NameOf(command.verb));
    if (command.verb == Verb::Pattern) {
        text += ' ' + HexByte(command.pattern);
    } else if (command.led) {
        text += ' ' + std::to_string(*command.led);
    }
    return text;
}

std::optional<unsigned short> ParseLedNumber(std::string_view word) {
    // Digits only: no sign, no spaces.
    if (word.empty() || !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return ParseDigits<unsigned short>(word, 10);
}

std::optional<std::uint8_t> ParsePattern(std::string_view word) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        const std::string_view digits = word.substr(2);
        const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        if (digits.size() > 2 || !std::all_of(digits.begin(), digits.end(), isHex)) {
            return std::nullopt;
        }
        return ParseDigits<std::uint8_t>(digits, 16);
    }
    if (word.size() == kRowLength && word.find_first_not_of("01") == std::string_view::npos) {
        return ParseDigits<std::uint8_t>(word, 2);
    }
    return std::nullopt;
}

ParsedCommands ParseCommands(std::span<const std::string> words) {
    ParsedCommands parsed;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const VerbSpelling* spelling = FindVerb(Lower(words[i]));
        if (spelling == nullptr) {
            parsed.error = "unknown command '" + words[i] + "'";
            return parsed;
        }
        Command command{spelling->verb, std::nullopt, 0};
        const bool hasNext = i + 1 < words.size();
        switch (spelling->argument) {
        case Argument::None:
            break;
        case Argument::Led:
            if (!hasNext) {
                parsed.error = std::string(spelling->word) + ": missing LED number";
                return parsed;
            }
            command.led = ParseLedNumber(words[++i]);
            if (!command.led) {
                parsed.error =
                    std::string(spelling->word) + ": '" + words[i] + "' is not an LED number (0 to 65535)";
                return parsed;
            }
            break;
        case Argument::OptionalLed:
            // A following number belongs to this command; anything else is the next command.
            if (hasNext && ParseLedNumber(words[i + 1])) {
                command.led = ParseLedNumber(words[++i]);
            }
            break;
        case Argument::Pattern: {
            if (!hasNext) {
                parsed.error = "pattern: missing pattern (a hex byte like 0x5A or eight bits like 01011010)";
                return parsed;
            }
            const auto pattern = ParsePattern(words[++i]);
            if (!pattern) {
                parsed.error =
                    "pattern: '" + words[i] + "' is neither a hex byte like 0x5A nor eight bits like 01011010";
                return parsed;
            }
            command.pattern = *pattern;
            break;
        }
        }
        parsed.commands.push_back(command);
    }
    return parsed;
}

Options ParseOptions(std::span<const std::string> args) {
    Options options;
    constexpr std::string_view kChipOption = "--chip=";
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--plain") {
            options.plain = true;
        } else if (arg == "--debug") {
            options.debug = true;
        } else if (arg.starts_with(kChipOption)) {
            const std::string value = Lower(std::string_view(arg).substr(kChipOption.size()));
            const auto it =
                std::find_if(kChipPlaces.begin(), kChipPlaces.end(), [&](const auto& c) { return c.word == value; });
            if (it == kChipPlaces.end()) {
                options.error = "--chip: expected 2e, 4e or none, not '" + value + "'";
                return options;
            }
            options.chip = it->place;
            options.chipOption = arg;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            options.error = "unknown option '" + arg + "'";
            return options;
        } else {
            options.words.push_back(arg);
        }
    }
    return options;
}

}  // namespace ledctl
