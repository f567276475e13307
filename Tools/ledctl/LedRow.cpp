// Rendering of the LED row.
#include "LedRow.h"

#include <cstdio>

namespace ledctl {

LedRow LedRow::FromByte(std::uint8_t bits) {
    LedRow row;
    for (unsigned led = 0; led < kRowLength; ++led) {
        row.states[led] = (bits >> led) & 1U ? LedState::On : LedState::Off;
    }
    return row;
}

std::optional<std::uint8_t> LedRow::Byte() const {
    unsigned bits = 0;
    for (unsigned led = 0; led < kRowLength; ++led) {
        if (states[led] == LedState::Refused) {
            return std::nullopt;
        }
        bits |= (states[led] == LedState::On ? 1U : 0U) << led;
    }
    return static_cast<std::uint8_t>(bits);
}

Style Style::Plain() { return Style{"*", ".", "-", "--", "|", "", "", std::chrono::milliseconds(0)}; }

Style Style::Utf8() { return Style{"●", "○", "-", "──", "│", "", "", std::chrono::milliseconds(0)}; }

Style Style::Terminal() {
    Style style = Utf8();
    style.emphasis = "\x1b[1m";
    style.normal = "\x1b[0m";
    style.pause = std::chrono::milliseconds(120);
    return style;
}

std::string RowNumbers() {
    std::string text;
    for (unsigned led = kRowLength; led-- > 0;) {
        text += static_cast<char>('0' + led);
        if (led != 0) {
            text += ' ';
        }
    }
    return text;
}

std::string RowCells(const LedRow& row, const Style& style) {
    std::string text;
    for (unsigned led = kRowLength; led-- > 0;) {
        switch (row.states[led]) {
        case LedState::On: text += style.on; break;
        case LedState::Off: text += style.off; break;
        case LedState::Refused: text += style.refused; break;
        }
        if (led != 0) {
            text += ' ';
        }
    }
    return text;
}

std::string HexByte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

}  // namespace ledctl
