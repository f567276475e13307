// The tool's connection to TamLED.
#include "LedSession.h"

#include <algorithm>
#include <array>

namespace ledctl {

LED_LONG LedSession::Open() {
    if (IsOpen()) {
        return LED_SUCCESS;
    }
    LED_LONG handle = 0;
    const LED_LONG result = library_.deviceOpen(&handle);
    if (result == LED_SUCCESS) {
        handle_ = handle;
    }
    return result;
}

void LedSession::Close() {
    if (IsOpen()) {
        library_.deviceClose(&handle_);
        handle_ = 0;
    }
}

LED_LONG LedSession::Count(LED_ULONG& count) {
    const LED_LONG opened = Open();
    return opened != LED_SUCCESS ? opened : library_.getCount(handle_, &count);
}

LED_LONG LedSession::Status(unsigned short led, LED_ULONG& state) {
    const LED_LONG opened = Open();
    return opened != LED_SUCCESS ? opened : library_.getStatus(handle_, led, &state);
}

LED_LONG LedSession::Switch(unsigned short led, bool on) {
    const LED_LONG opened = Open();
    if (opened != LED_SUCCESS) {
        return opened;
    }
    return on ? library_.on(handle_, led) : library_.off(handle_, led);
}

RowReading LedSession::ReadRow() {
    RowReading reading;
    for (unsigned led = 0; led < kRowLength; ++led) {
        LED_ULONG state = 0;
        const LED_LONG result = Status(static_cast<unsigned short>(led), state);
        if (result != LED_SUCCESS) {
            reading.row.states[led] = LedState::Refused;
            reading.refused.push_back(led);
            if (reading.firstError == LED_SUCCESS) {
                reading.firstError = result;
            }
            continue;
        }
        reading.row.states[led] = state != 0 ? LedState::On : LedState::Off;
    }
    return reading;
}

RowChange LedSession::SetRow(std::uint8_t bits) {
    for (unsigned led = 0; led < kRowLength; ++led) {
        const LED_LONG result = Switch(static_cast<unsigned short>(led), ((bits >> led) & 1U) != 0);
        if (result != LED_SUCCESS) {
            return RowChange{result, led};
        }
    }
    return RowChange{};
}

std::string LedSession::Message(LED_LONG code) const {
    // The library writes nothing for a code it does not know.
    std::array<char, LED_MESSAGE_BUFFER_SIZE> buffer{};
    library_.getErrorMessage(code, buffer.data());
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    if (end == buffer.begin()) {
        return "result code " + std::to_string(code);
    }
    return std::string(buffer.begin(), end);
}

}  // namespace ledctl
