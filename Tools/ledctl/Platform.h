// The platform seam: what the tool runs on (library and board) and what it writes to, chosen per build.
#pragma once

#include <memory>

#include "BoardControls.h"
#include "LedLibrary.h"

namespace ledctl {

class Platform {
public:
    virtual ~Platform() = default;
    virtual const LedLibrary& Library() const = 0;
    virtual BoardControls& Controls() = 0;
};

// Facts about the console the tool was started on.
struct TerminalFacts {
    bool inputIsTerminal = false;
    bool outputIsTerminal = false;
    bool outputTakesUtf8 = false;
};

// Defined once per platform: the virtual board on Linux, TamLED.dll on Windows.
std::unique_ptr<Platform> OpenPlatform();
TerminalFacts DetectTerminal();

}  // namespace ledctl
