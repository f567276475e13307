// ledctl's entry: the real console and the platform this build runs on.
#include <iostream>
#include <string>
#include <vector>

#include "Ledctl.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ledctl::TerminalFacts terminal = ledctl::DetectTerminal();
    ledctl::Console console{std::cin, std::cout, std::cerr, terminal.inputIsTerminal, terminal.outputTakesUtf8,
                            terminal.outputIsTerminal};
    const auto platform = ledctl::OpenPlatform();
    return ledctl::RunLedctl(args, console, *platform);
}
