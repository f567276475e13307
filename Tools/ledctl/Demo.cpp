// The guided tour of the system.
#include "Demo.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace ledctl {
namespace {

constexpr std::size_t kLabelWidth = 16;
constexpr std::size_t kQuoteWidth = 80;  // with the indent, a quote fits 100 columns
constexpr std::uint8_t kPattern = 0x5A;

std::string Padded(std::string_view text, std::size_t width) {
    std::string padded(text);
    padded.resize(std::max(width, text.size() + 1), ' ');
    return padded;
}

// "LED_On(3)". Appended piece by piece: GCC 12 misjudges "(" + std::string at -O3 (-Wrestrict).
std::string Call(std::string_view function, unsigned led) {
    std::string text(function);
    text += '(';
    text += std::to_string(led);
    text += ')';
    return text;
}

std::string Bits(std::uint8_t value) {
    std::string bits;
    for (unsigned bit = kRowLength; bit-- > 0;) {
        bits += ((value >> bit) & 1U) != 0 ? '1' : '0';
    }
    return bits;
}

// A driver message as a person wants it: one line, no rule lines of the banner.
std::vector<std::string> Readable(const std::vector<std::string>& messages) {
    std::vector<std::string> lines;
    for (const std::string& message : messages) {
        std::size_t start = 0;
        while (start <= message.size()) {
            std::size_t end = message.find('\n', start);
            if (end == std::string::npos) {
                end = message.size();
            }
            std::string line = message.substr(start, end - start);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
                line.pop_back();
            }
            if (!line.empty() && line.find_first_not_of('/') != std::string::npos) {
                lines.push_back(std::move(line));
            }
            start = end + 1;
        }
    }
    return lines;
}

}  // namespace

bool Demo::Run() {
    struct Step {
        std::string_view title;
        bool needsBoard;
        bool (Demo::*run)();
    };
    const std::array steps{
        Step{"The machine starts", true, &Demo::MachineStarts},
        Step{"An application opens the device and asks how many LEDs there are", false, &Demo::OpenAndCount},
        Step{"Each LED on, then off again", false, &Demo::EachLed},
        Step{"A whole pattern at once", false, &Demo::WholePattern},
        Step{"The pattern survives a sleep", true, &Demo::SurvivesSleep},
        Step{"A stop and a start of the device clear it", true, &Demo::StopAndStart},
        Step{"A board without the chip", true, &Demo::WithoutChip},
    };
    const bool board = controls_.Available();
    int total = 0;
    for (const Step& step : steps) {
        total += board || !step.needsBoard ? 1 : 0;
    }

    std::ostream& out = printer_.Out();
    originalPlace_ = controls_.Placement();
    out << printer_.Emphasised("OrvLED and TamLED, step by step") << '\n';
    out << "on " << controls_.Describe() << '\n';
    if (!board) {
        out << "(The power, Plug and Play and missing-chip steps need the virtual board: left out here.)\n";
    }

    int number = 0;
    bool completed = true;
    for (const Step& step : steps) {
        if (step.needsBoard && !board) {
            continue;
        }
        Heading(++number, total, step.title);
        if (!(this->*step.run)()) {
            completed = false;
            break;
        }
    }
    RestoreBoard();

    out << '\n';
    if (!completed) {
        out << printer_.Emphasised("Stopped: the tour could not go on.") << '\n';
    } else if (surprises_ > 0) {
        out << printer_.Emphasised("Done, with " + std::to_string(surprises_) + " surprise(s), marked !") << '\n';
    } else {
        out << printer_.Emphasised("Done: every step behaved as shown.") << '\n';
    }
    return completed && surprises_ == 0;
}

bool Demo::MachineStarts() {
    session_.Close();  // the library starts anew in the new machine's process
    ChipPlace place = originalPlace_.value_or(ChipPlace::At2E);
    if (place == ChipPlace::Absent) {
        place = ChipPlace::At2E;
    }
    const BoardOutcome outcome = controls_.PlaceChip(place);
    Line("power on", "OrvLED is loaded, adds its device and starts it; the driver says:");
    DriverSays();
    if (!outcome.done) {
        Failed("start", outcome.detail);
        return false;
    }
    Line("start", outcome.detail);
    const auto chip = controls_.ChipOutputs();
    Line("chip", "drives " + (chip ? HexByte(*chip) : std::string("?")) + " on the LED pins");
    return true;
}

bool Demo::OpenAndCount() {
    const LED_LONG opened = session_.Open();
    Line("LED_DeviceOpen", session_.Message(opened));
    if (opened != LED_SUCCESS) {
        ++surprises_;
        return false;
    }
    LED_ULONG count = 0;
    const LED_LONG result = session_.Count(count);
    Line("LED_GetCount", result == LED_SUCCESS ? std::to_string(count) + " LEDs" : session_.Message(result));
    return result == LED_SUCCESS;
}

bool Demo::EachLed() {
    if (session_.SetRow(0x00).result != LED_SUCCESS) {
        Failed("LED_Off", "the LEDs cannot be switched off");
        return false;
    }
    printer_.Out() << "   Rows are what LED_GetStatus reads back"
                   << (controls_.ChipOutputs() ? "; chip is what the chip drives on its pins.\n" : ".\n");
    const std::string columns = RowNumbers() + (controls_.ChipOutputs() ? "  chip" : "");
    Line("LED", columns + "    " + Padded("", kLabelWidth - 4) + columns);
    for (unsigned led = 0; led < kRowLength; ++led) {
        const auto number = static_cast<unsigned short>(led);
        const LED_LONG on = session_.Switch(number, true);
        if (on != LED_SUCCESS) {
            Failed(Call("LED_On", led), session_.Message(on));
            return false;
        }
        // The on half first, so that a person sees the LED lit before it goes out.
        const auto lit = static_cast<std::uint8_t>(1U << led);
        printer_.Out() << "   " << Padded(Call("LED_On", led), kLabelWidth) << Observe(lit);
        printer_.Pause(0.5);
        const LED_LONG off = session_.Switch(number, false);
        if (off != LED_SUCCESS) {
            printer_.Out() << '\n';
            Failed(Call("LED_Off", led), session_.Message(off));
            return false;
        }
        printer_.Out() << "    " << Padded(Call("LED_Off", led), kLabelWidth - 4) << Observe(0x00) << '\n';
    }
    return true;
}

bool Demo::WholePattern() {
    printer_.Out() << "   " << HexByte(kPattern) << " is " << Bits(kPattern)
                   << ": LED 7 first, one LED_On or LED_Off per LED.\n";
    RowHeader();
    return Set("pattern " + HexByte(kPattern), kPattern);
}

bool Demo::SurvivesSleep() {
    controls_.TakeDriverMessages();  // only what the power requests bring
    const BoardOutcome asleep = controls_.Sleep();
    if (!asleep.done) {
        Failed("sleep", asleep.detail);
        return false;
    }
    Line("sleep", asleep.detail);
    DriverSays();
    if (const auto chip = controls_.ChipOutputs()) {
        Line("asleep", "the chip drives " + HexByte(*chip) + " on the LED pins");
    }
    printer_.Pause();
    const BoardOutcome awake = controls_.Wake();
    if (!awake.done) {
        Failed("wake", awake.detail);
        return false;
    }
    Line("wake", awake.detail);
    DriverSays();
    RowHeader();
    Line("awake", Observe(kPattern));
    return true;
}

bool Demo::StopAndStart() {
    RowHeader();
    const BoardOutcome stopped = controls_.StopDevice();
    if (!stopped.done) {
        Failed("stop", stopped.detail);
        return false;
    }
    Line("stopped", Observe(kPattern));
    printer_.Pause(0.5);
    const BoardOutcome started = controls_.StartDevice();
    if (!started.done) {
        Failed("start", started.detail);
        return false;
    }
    Line("started", Observe(0x00));
    return true;
}

bool Demo::WithoutChip() {
    session_.Close();
    controls_.TakeDriverMessages();
    const BoardOutcome outcome = controls_.PlaceChip(ChipPlace::Absent);
    Line("power on", "the machine starts again, with no W836x7 chip at 0x2E or 0x4E");
    Line("start", outcome.detail);
    printer_.Out() << "   What an application sees:\n";

    const LED_LONG opened = session_.Open();
    Line("LED_DeviceOpen", session_.Message(opened));
    if (opened != LED_SUCCESS) {
        // The application holds handle 0 now; every call answers for that.
        const LedLibrary& library = platform_.Library();
        LED_ULONG count = 0;
        Line("LED_GetCount(0)", session_.Message(library.getCount(0, &count)));
        Line("LED_On(0, 0)", session_.Message(library.on(0, 0)));
        return true;
    }
    LED_ULONG count = 0;
    const LED_LONG counted = session_.Count(count);
    Line("LED_GetCount", counted == LED_SUCCESS ? std::to_string(count) + " LEDs" : session_.Message(counted));
    for (unsigned led = 0; led < kRowLength; ++led) {
        const LED_LONG result = session_.Switch(static_cast<unsigned short>(led), true);
        Line(Call("LED_On", led), session_.Message(result));
    }
    return true;
}

void Demo::RestoreBoard() {
    if (!controls_.Available() || controls_.Placement() == originalPlace_ || !originalPlace_) {
        return;
    }
    session_.Close();
    controls_.PlaceChip(*originalPlace_);
    controls_.TakeDriverMessages();
    printer_.Out() << "\nThe machine starts once more, as it was: " << controls_.Describe() << ", every LED off.\n";
}

void Demo::Heading(int number, int total, std::string_view title) {
    printer_.Pause();
    printer_.Out() << '\n'
                   << printer_.Emphasised(std::string(printer_.Look().rule) + " " + std::to_string(number) + "/" +
                                          std::to_string(total) + "  " + std::string(title))
                   << '\n';
}

void Demo::Line(std::string_view label, std::string_view text) {
    printer_.Out() << "   " << Padded(label, kLabelWidth) << text << '\n';
}

void Demo::RowHeader() { Line("LED", RowNumbers() + (controls_.ChipOutputs() ? "  chip" : "")); }

void Demo::DriverSays() {
    for (std::string line : Readable(controls_.TakeDriverMessages())) {
        if (line.size() > kQuoteWidth) {
            line.resize(kQuoteWidth - 3);
            line += "...";
        }
        printer_.Out() << "   " << Padded("", kLabelWidth) << printer_.Look().quote << ' ' << line << '\n';
    }
}

void Demo::Failed(std::string_view label, std::string_view text) {
    Line(label, std::string("! ") + std::string(text));
    ++surprises_;
}

std::string Demo::Observe(std::uint8_t expected) {
    const RowReading reading = session_.ReadRow();
    const auto chip = controls_.ChipOutputs();
    std::string text = RowCells(reading.row, printer_.Look());
    if (chip) {
        text += "  " + HexByte(*chip);
    }
    if (reading.row.Byte() != expected || (chip && *chip != expected)) {
        text += "  ! expected " + HexByte(expected);
        ++surprises_;
    }
    return text;
}

bool Demo::Set(std::string_view label, std::uint8_t bits) {
    const RowChange change = session_.SetRow(bits);
    if (change.result != LED_SUCCESS) {
        Failed(label, "LED " + std::to_string(change.refusedLed) + ": " + session_.Message(change.result));
        return false;
    }
    Line(label, Observe(bits));
    return true;
}

}  // namespace ledctl
