// The guided tour: the system at work, step by step, each step read back through the library and the chip.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "LedSession.h"
#include "Platform.h"
#include "Printer.h"

namespace ledctl {

class Demo {
public:
    Demo(Platform& platform, LedSession& session, Printer& printer)
        : platform_(platform), controls_(platform.Controls()), session_(session), printer_(printer) {}

    // Every step in order. False when something did not behave as shown, or a step could not run.
    bool Run();

private:
    // Each step returns false when the tour cannot go on.
    bool MachineStarts();
    bool OpenAndCount();
    bool EachLed();
    bool WholePattern();
    bool SurvivesSleep();
    bool StopAndStart();
    bool WithoutChip();

    void Heading(int number, int total, std::string_view title);
    void Line(std::string_view label, std::string_view text);
    void RowHeader();
    void DriverSays();
    void Failed(std::string_view label, std::string_view text);
    // The row LED_GetStatus reads and the chip's pins, marked when they differ from what the step expects.
    std::string Observe(std::uint8_t expected);
    bool Set(std::string_view label, std::uint8_t bits);
    void RestoreBoard();

    Platform& platform_;
    BoardControls& controls_;
    LedSession& session_;
    Printer& printer_;
    std::optional<ChipPlace> originalPlace_;
    int surprises_ = 0;
};

}  // namespace ledctl
