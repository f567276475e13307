// Runs ledctl as a function on a virtual board of the test's own, and keeps what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "Ledctl.h"
#include "VirtualPlatform.h"

namespace ledctltest {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

struct ConsoleKind {
    bool interactive = false;
    bool utf8 = false;
};

inline RunResult RunOn(ledctl::Platform& platform, const std::vector<std::string>& args, ConsoleKind kind = {},
                       const std::string& input = {}) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    ledctl::Console console{in, out, err, kind.interactive, kind.utf8, false};
    RunResult result;
    result.status = ledctl::RunLedctl(args, console, platform);
    result.out = out.str();
    result.err = err.str();
    return result;
}

// A test name made of words of the case: letters and digits kept, anything else an underscore.
inline std::string CaseName(const std::vector<std::string>& words) {
    std::string name;
    for (const std::string& word : words) {
        name += name.empty() ? "" : "_";
        for (const char c : word) {
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
    }
    return name.empty() ? "nothing" : name;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The LEDs as a Windows build of the tool sees them: through the library alone, with no board controls. Given a
// reason, the library cannot be used at all, as when TamLED.dll is missing or lacks a function.
class RealLedsPlatform final : public ledctl::Platform {
public:
    explicit RealLedsPlatform(std::string unusable = {}) : library_(board_.Library()) {
        if (!unusable.empty()) {
            library_ = ledctl::LedLibrary{};
            library_.unavailable = std::move(unusable);
        }
    }
    const ledctl::LedLibrary& Library() const override { return library_; }
    ledctl::BoardControls& Controls() override { return controls_; }
    vboard::VirtualBoard& Board() { return board_.Board(); }

private:
    ledctl::VirtualPlatform board_;  // stands in for the real board behind the library
    ledctl::LedLibrary library_;
    ledctl::NoBoardControls controls_{"TamLED.dll"};
};

class LedctlTest : public testing::Test {
protected:
    RunResult Ledctl(const std::vector<std::string>& args, ConsoleKind kind = {}, const std::string& input = {}) {
        return RunOn(platform_, args, kind, input);
    }
    vboard::VirtualBoard& Board() { return platform_.Board(); }
    // What the chip drives on the LED pins: the truth the tool's output is held against.
    std::uint8_t Leds() { return Board().Chip().OutputLevels(); }

    ledctl::VirtualPlatform platform_;
};

}  // namespace ledctltest
