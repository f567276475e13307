// Drives Tools/wine-board from the tests: runs Windows programs on the emulated board and reads its log.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winebed {

struct CommandResult {
    int exitCode = -1;
    std::string output; // the program's standard output
};

// One prefix with one driver installed ("orvled" or "probe"); the prefix lives on between runs.
class WineBoard {
public:
    WineBoard(std::string driver, std::filesystem::path prefix);

    // Runs a Windows program with the chip at `placement` ("2e", "4e", "absent").
    CommandResult Run(const std::vector<std::string>& command, const std::string& placement = "2e") const;
    // Everything Wine printed into the prefix's log so far.
    std::string Log() const;
    // Stops the server; the next run starts it again without making a new prefix.
    void Stop() const;

    // Why no board can run here (no Wine, no Windows build), or nothing.
    static std::optional<std::string> Unavailable();

private:
    std::string driver_;
    std::filesystem::path prefix_;
};

// "key=value" lines, as boardctl state prints them.
std::map<std::string, std::string> ParseKeyValues(const std::string& text);
// The text's lines, without their line feeds.
std::vector<std::string> Lines(const std::string& text);

} // namespace winebed
