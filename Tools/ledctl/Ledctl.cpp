// The tool's course: options, then the commands of the command line or of a prompt.
#include "Ledctl.h"

#include <sstream>
#include <vector>

#include "CommandRunner.h"
#include "Commands.h"
#include "LedSession.h"
#include "Printer.h"

namespace ledctl {
namespace {

constexpr std::string_view kCommandsHelp = R"(Commands (several may follow one another, as in: on 1 on 3 status):
  count              how many LEDs the library reports
  on N, off N        switch LED N on or off (the board has LEDs 0 to 7)
  status [N]         the state of LED N, or all eight as a row, LED 7 on the left
  pattern P          set all eight LEDs at once; P is a hex byte (0x5A) or eight bits,
                     LED 7 first (01011010)
  demo               a guided tour of the system, step by step
Board controls (virtual board only):
  sleep, hibernate   the system goes to S3 or S4: the driver saves the pattern, the chip loses power
  wake               the system works again (S0): the driver writes the pattern back
  stop, start        Plug and Play stop or start of the LED device
)";

constexpr std::string_view kOptionsHelp = R"(Options:
  --trace            print every port operation as it happens: "  out 0x2E <- 0x87", "  in  0x2F -> 0x52"
  --chip=2e|4e|none  where the W836x7 chip answers (virtual board only; default 2e)
  --debug            copy the driver's debug output to stderr as it is written (virtual board only)
  --plain            ASCII output (* on, . off) even on a UTF-8 terminal
  -h, --help         this text

Exit status: 0 success, 1 a command failed (the library's message is on stderr), 2 bad command line.
)";

Style StyleFor(const Console& console, bool plain) {
    if (plain || !console.utf8) {
        return Style::Plain();
    }
    return console.animate ? Style::Terminal() : Style::Utf8();
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

int UsageError(Console& console, std::string_view text) {
    console.err << "ledctl: " << text << "\nTry 'ledctl --help'.\n";
    return kExitUsage;
}

// Stops the board's live reports when the run ends: they write to this run's console.
class BoardReports {
public:
    explicit BoardReports(BoardControls& controls) : controls_(controls) {}
    ~BoardReports() {
        if (controls_.Available()) {
            controls_.TracePorts({});
            controls_.EchoDriverDebug(false);
        }
    }
    BoardReports(const BoardReports&) = delete;
    BoardReports& operator=(const BoardReports&) = delete;

private:
    BoardControls& controls_;
};

// A person at the prompt: a failed command is reported and the next one awaited.
int Interactive(Console& console, BoardControls& controls, CommandRunner& runner) {
    console.out << "ledctl on " << controls.Describe() << ". Type help for the commands, quit to leave.\n";
    for (;;) {
        console.out << "ledctl> " << std::flush;
        std::string line;
        if (!std::getline(console.in, line)) {
            console.out << '\n';
            return kExitSuccess;
        }
        const ParsedCommands parsed = ParseCommands(SplitWords(line));
        if (!parsed.error.empty()) {
            console.err << "ledctl: " << parsed.error << '\n';
            continue;
        }
        for (const Command& command : parsed.commands) {
            if (command.verb == Verb::Quit) {
                return kExitSuccess;
            }
            if (command.verb == Verb::Help) {
                console.out << kCommandsHelp;
                continue;
            }
            if (!runner.Run(command)) {
                break;  // the rest of the line counted on this one
            }
        }
    }
}

}  // namespace

std::string HelpText() {
    std::string text =
        "Usage: ledctl [options] [command...]\n\n"
        "Switches the board's LEDs through the TamLED library. On Linux it runs on the virtual board: the\n"
        "OrvLED driver on a simulated W836x7 chip. On Windows it runs on TamLED.dll and the installed driver.\n"
        "With no command, and a terminal on stdin, it reads commands at a prompt.\n\n";
    text += kCommandsHelp;
    text += '\n';
    text += kOptionsHelp;
    return text;
}

int RunLedctl(std::span<const std::string> args, Console& console, Platform& platform) {
    const Options options = ParseOptions(args);
    if (!options.error.empty()) {
        return UsageError(console, options.error);
    }
    if (options.help) {
        console.out << HelpText();
        return kExitSuccess;
    }
    const ParsedCommands parsed = ParseCommands(options.words);
    if (!parsed.error.empty()) {
        return UsageError(console, parsed.error);
    }
    if (parsed.commands.empty() && !console.interactive) {
        return UsageError(console, "no command given");
    }

    BoardControls& controls = platform.Controls();
    if (!controls.Available() && (options.chip || options.trace || options.debug)) {
        return UsageError(console, "--chip, --trace and --debug need the virtual board; here the LEDs are real");
    }
    Printer printer(console.out, console.err, StyleFor(console, options.plain));
    const BoardReports reports(controls);
    if (options.chip) {
        // A start that fails is the board's news, not the run's failure: the commands show what it means.
        const BoardOutcome placed = controls.PlaceChip(*options.chip);
        if (!placed.done) {
            printer.Failure(options.chipOption, placed.detail);
        }
    }
    if (options.debug) {
        controls.EchoDriverDebug(true);
    }
    if (options.trace) {
        controls.TracePorts([&console](const PortAccess& access) { console.out << FormatPortAccess(access) << '\n'; });
    }

    LedSession session(platform.Library());
    CommandRunner runner(platform, session, printer);
    if (parsed.commands.empty()) {
        return Interactive(console, controls, runner);
    }
    for (const Command& command : parsed.commands) {
        if (command.verb == Verb::Quit) {
            break;
        }
        if (command.verb == Verb::Help) {
            console.out << HelpText();
            continue;
        }
        if (!runner.Run(command)) {
            return kExitFailure;  // later commands counted on this one
        }
    }
    return kExitSuccess;
}

}  // namespace ledctl
