// The LED row and the trace line: what a person reads.
#include <gtest/gtest.h>

#include "LedRow.h"
#include "Printer.h"

namespace ledctltest {
namespace {

using ledctl::LedRow;
using ledctl::LedState;
using ledctl::Style;

TEST(LedRow, EveryByteSurvivesTheRoundTrip) {
    for (unsigned value = 0; value <= 0xFF; ++value) {
        EXPECT_EQ(LedRow::FromByte(static_cast<std::uint8_t>(value)).Byte(), value);
    }
}

TEST(LedRow, ShowsLed7OnTheLeft) {
    const LedRow row = LedRow::FromByte(0x5A);  // 0101 1010
    EXPECT_EQ(ledctl::RowNumbers(), "7 6 5 4 3 2 1 0");
    EXPECT_EQ(ledctl::RowCells(row, Style::Plain()), ". * . * * . * .");
    EXPECT_EQ(ledctl::RowCells(row, Style::Utf8()), "○ ● ○ ● ● ○ ● ○");
    EXPECT_EQ(ledctl::RowCells(LedRow::FromByte(0x80), Style::Plain()), "* . . . . . . .");
}

TEST(LedRow, ARefusedLedHasNoStateAndNoByte) {
    LedRow row = LedRow::FromByte(0x01);
    row.states[6] = LedState::Refused;
    EXPECT_EQ(ledctl::RowCells(row, Style::Plain()), ". - . . . . . *");
    EXPECT_EQ(row.Byte(), std::nullopt);
}

TEST(LedRow, PlainStyleIsAscii) {
    const Style plain = Style::Plain();
    for (std::string_view text : {plain.on, plain.off, plain.refused, plain.rule, plain.quote}) {
        for (const char c : text) {
            EXPECT_LT(static_cast<unsigned char>(c), 0x80) << text;
        }
    }
    EXPECT_EQ(plain.emphasis, "");
    EXPECT_EQ(plain.pause.count(), 0);
}

TEST(LedRow, HexBytesHaveTwoUpperCaseDigits) {
    EXPECT_EQ(ledctl::HexByte(0x0A), "0x0A");
    EXPECT_EQ(ledctl::HexByte(0xFF), "0xFF");
}

TEST(LedRow, TraceLinesShowPortDirectionAndValue) {
    EXPECT_EQ(ledctl::FormatPortAccess({0x2E, true, 0x87}), "  out 0x2E <- 0x87");
    EXPECT_EQ(ledctl::FormatPortAccess({0x4F, false, 0x05}), "  in  0x4F -> 0x05");
}

}  // namespace
}  // namespace ledctltest
