// The eight LEDs as one row a person reads at a glance, LED 7 on the left as in a binary number.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ledctl {

// A row always shows GPIO port 1's eight pins, whatever count the library reports.
inline constexpr unsigned kRowLength = 8;

enum class LedState : std::uint8_t { Off, On, Refused };

struct LedRow {
    std::array<LedState, kRowLength> states{};  // indexed by LED number

    static LedRow FromByte(std::uint8_t bits);
    std::optional<std::uint8_t> Byte() const;  // only when no LED was refused

    friend bool operator==(const LedRow&, const LedRow&) = default;
};

// How output looks: glyphs, and on a terminal emphasis and pacing.
struct Style {
    std::string_view on;
    std::string_view off;
    std::string_view refused;
    std::string_view rule;      // marks a heading
    std::string_view quote;     // marks text quoted from the driver
    std::string_view emphasis;  // starts emphasised text; empty when plain
    std::string_view normal;    // ends it
    std::chrono::milliseconds pause{0};  // between demo steps, so a person can follow them

    static Style Plain();     // ASCII: * on, . off
    static Style Utf8();      // ● on, ○ off
    static Style Terminal();  // Utf8 with bold headings and a paced demo
};

std::string RowNumbers();                                  // "7 6 5 4 3 2 1 0"
std::string RowCells(const LedRow& row, const Style& style);  // "● ○ ○ ● ○ ○ ○ ●"
std::string HexByte(std::uint8_t value);                   // "0x5A"

}  // namespace ledctl
