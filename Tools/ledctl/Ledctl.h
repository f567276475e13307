// The tool as a function: arguments and console in, exit status out, on whatever platform it is given.
#pragma once

#include <istream>
#include <ostream>
#include <span>
#include <string>

#include "Platform.h"

namespace ledctl {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // a command failed; the reason is on stderr
inline constexpr int kExitUsage = 2;    // the command line was not understood

struct Console {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool interactive = false;  // a person types the commands: prompt when none are given
    bool utf8 = false;         // the output shows UTF-8 glyphs
    bool animate = false;      // the output is a terminal: emphasis and a paced demo
};

// args: the command line without the program name.
int RunLedctl(std::span<const std::string> args, Console& console, Platform& platform);

std::string HelpText();

}  // namespace ledctl
