// The commands, one by one.
#include "CommandRunner.h"

#include "Demo.h"

namespace ledctl {

bool CommandRunner::Run(const Command& command) {
    switch (command.verb) {
    case Verb::Count: return Count(command);
    case Verb::On:
    case Verb::Off: return Switch(command);
    case Verb::Status: return Status(command);
    case Verb::Pattern: return Pattern(command);
    case Verb::Demo: return LibraryUsable(command) && Demo(platform_, session_, printer_).Run();
    case Verb::Sleep:
    case Verb::Wake:
    case Verb::Hibernate:
    case Verb::Stop:
    case Verb::Start: return Control(command);
    case Verb::Help:
    case Verb::Quit: break;
    }
    return true;
}

// Every function of the library is there; otherwise says why not.
bool CommandRunner::LibraryUsable(const Command& command) {
    if (!platform_.Library().Usable()) {
        printer_.Failure(Describe(command), platform_.Library().unavailable);
        return false;
    }
    return true;
}

// The library is there and a connection is open; otherwise says why not.
bool CommandRunner::Connected(const Command& command) {
    if (!LibraryUsable(command)) {
        return false;
    }
    const LED_LONG opened = session_.Open();
    if (opened != LED_SUCCESS) {
        printer_.Failure(Describe(command) + ": LED_DeviceOpen", session_.Message(opened));
        return false;
    }
    return true;
}

bool CommandRunner::Succeeded(const Command& command, LED_LONG result) {
    if (result != LED_SUCCESS) {
        printer_.Failure(Describe(command), session_.Message(result));
        return false;
    }
    return true;
}

bool CommandRunner::Count(const Command& command) {
    if (!Connected(command)) {
        return false;
    }
    LED_ULONG count = 0;
    if (!Succeeded(command, session_.Count(count))) {
        return false;
    }
    printer_.Out() << "LED count: " << count << '\n';
    return true;
}

bool CommandRunner::Switch(const Command& command) {
    if (!Connected(command)) {
        return false;
    }
    const bool on = command.verb == Verb::On;
    if (!Succeeded(command, session_.Switch(*command.led, on))) {
        return false;
    }
    printer_.Out() << "LED " << *command.led << (on ? " on" : " off") << '\n';
    return true;
}

bool CommandRunner::Status(const Command& command) {
    if (!Connected(command)) {
        return false;
    }
    if (command.led) {
        LED_ULONG state = 0;
        if (!Succeeded(command, session_.Status(*command.led, state))) {
            return false;
        }
        printer_.Out() << "LED " << *command.led << ": " << (state != 0 ? "on" : "off") << '\n';
        return true;
    }
    const RowReading reading = session_.ReadRow();
    const auto byte = reading.row.Byte();
    printer_.Row(reading.row, byte ? HexByte(*byte) : std::string());
    if (reading.refused.empty()) {
        return true;
    }
    std::string leds = "LED";
    for (const unsigned led : reading.refused) {
        leds += ' ' + std::to_string(led);
    }
    printer_.Failure(Describe(command), leds + ": " + session_.Message(reading.firstError));
    return false;
}

bool CommandRunner::Pattern(const Command& command) {
    if (!Connected(command)) {
        return false;
    }
    const RowChange change = session_.SetRow(command.pattern);
    if (change.result != LED_SUCCESS) {
        printer_.Failure(Describe(command),
                         "LED " + std::to_string(change.refusedLed) + ": " + session_.Message(change.result));
        return false;
    }
    printer_.Out() << "pattern " << HexByte(command.pattern) << '\n';
    const RowReading reading = session_.ReadRow();
    const auto byte = reading.row.Byte();
    printer_.Row(reading.row, byte ? HexByte(*byte) : std::string());
    return true;
}

bool CommandRunner::Control(const Command& command) {
    BoardControls& controls = platform_.Controls();
    printer_.Out().flush();  // the driver's debug echo goes straight to stderr: keep what came before first
    BoardOutcome outcome;
    switch (command.verb) {
    case Verb::Sleep: outcome = controls.Sleep(); break;
    case Verb::Wake: outcome = controls.Wake(); break;
    case Verb::Hibernate: outcome = controls.Hibernate(); break;
    case Verb::Stop: outcome = controls.StopDevice(); break;
    default: outcome = controls.StartDevice(); break;
    }
    if (!outcome.done) {
        printer_.Failure(Describe(command), outcome.detail);
        return false;
    }
    printer_.Out() << Describe(command) << ": " << outcome.detail << '\n';
    return true;
}

}  // namespace ledctl
