// Carries out one command at a time on the library and the board, printing what happened.
#pragma once

#include "Commands.h"
#include "LedSession.h"
#include "Platform.h"
#include "Printer.h"

namespace ledctl {

class CommandRunner {
public:
    CommandRunner(Platform& platform, LedSession& session, Printer& printer)
        : platform_(platform), session_(session), printer_(printer) {}

    // False when the command failed; the reason has been printed. Help and quit belong to the caller.
    bool Run(const Command& command);

private:
    bool LibraryUsable(const Command& command);
    bool Connected(const Command& command);
    bool Succeeded(const Command& command, LED_LONG result);
    bool Count(const Command& command);
    bool Switch(const Command& command);
    bool Status(const Command& command);
    bool Pattern(const Command& command);
    bool Control(const Command& command);

    Platform& platform_;
    LedSession& session_;
    Printer& printer_;
};

}  // namespace ledctl
