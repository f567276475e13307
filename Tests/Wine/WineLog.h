// Reads Wine's output for what fails an end-to-end run: missing routines, unhandled exceptions, a trap that
// never armed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace winebed {

// One line per problem, with the reason. A "No implementation for MODULE.ROUTINE" line is a problem unless
// BoardTrap reported that it serves ROUTINE to the importing image ("gets ROUTINE from the test bed").
std::vector<std::string> FindLogProblems(std::string_view log);

} // namespace winebed
