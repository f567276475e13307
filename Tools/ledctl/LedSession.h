// The tool's connection to TamLED: opened on first use, closed when the session ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "LedLibrary.h"
#include "LedRow.h"

namespace ledctl {

// All eight LEDs as the library reports them, and what it refused.
struct RowReading {
    LedRow row;
    std::vector<unsigned> refused;  // LED numbers the library gave no state for
    LED_LONG firstError = LED_SUCCESS;
};

// The outcome of setting all eight LEDs: the first refusal ends it.
struct RowChange {
    LED_LONG result = LED_SUCCESS;
    unsigned refusedLed = 0;
};

class LedSession {
public:
    explicit LedSession(const LedLibrary& library) : library_(library) {}
    ~LedSession() { Close(); }
    LedSession(const LedSession&) = delete;
    LedSession& operator=(const LedSession&) = delete;

    // LED_DeviceOpen, unless a connection is open already.
    LED_LONG Open();
    void Close();
    bool IsOpen() const { return handle_ != 0; }

    // Each opens the connection first if needed; a failed open's code is the result.
    LED_LONG Count(LED_ULONG& count);
    LED_LONG Status(unsigned short led, LED_ULONG& state);
    LED_LONG Switch(unsigned short led, bool on);
    RowReading ReadRow();
    RowChange SetRow(std::uint8_t bits);

    // The library's own text for a result code.
    std::string Message(LED_LONG code) const;

private:
    const LedLibrary& library_;
    LED_LONG handle_ = 0;
};

}  // namespace ledctl
