// The trap driver's decoder of IN/OUT instructions and its merge of IN results into RAX.
#include <gtest/gtest.h>

#include <vector>

#include "PortDecode.h"

namespace {

using boardtrap::DecodePortInstruction;
using boardtrap::MergeInResult;

struct DecodeCase {
    const char* name;
    std::vector<std::uint8_t> code;
    bool isIn;
    std::uint8_t width;
    bool portInDx;
    std::uint8_t immediatePort;
    std::uint8_t length;
};

TEST(PortDecode, DecodesEveryInAndOutForm)
{
    const DecodeCase cases[] = {
        {"in al, imm8", {0xE4, 0x2F}, true, 1, false, 0x2F, 2},
        {"in eax, imm8", {0xE5, 0x4E}, true, 4, false, 0x4E, 2},
        {"in ax, imm8", {0x66, 0xE5, 0x2E}, true, 2, false, 0x2E, 3},
        {"out imm8, al", {0xE6, 0x2E}, false, 1, false, 0x2E, 2},
        {"out imm8, eax", {0xE7, 0x80}, false, 4, false, 0x80, 2},
        {"out imm8, ax", {0x66, 0xE7, 0x4F}, false, 2, false, 0x4F, 3},
        {"in al, dx", {0xEC}, true, 1, true, 0, 1},
        {"in eax, dx", {0xED}, true, 4, true, 0, 1},
        {"in ax, dx", {0x66, 0xED}, true, 2, true, 0, 2},
        {"out dx, al", {0xEE}, false, 1, true, 0, 1},
        {"out dx, eax", {0xEF}, false, 4, true, 0, 1},
        {"out dx, ax", {0x66, 0xEF}, false, 2, true, 0, 2},
        {"REX prefix ignored", {0x48, 0xEC}, true, 1, true, 0, 2},
        {"operand size and REX", {0x66, 0x41, 0xEF}, false, 2, true, 0, 3},
    };
    for (const DecodeCase& c : cases) {
        // Bytes after the instruction must not change the result.
        std::vector<std::uint8_t> code = c.code;
        code.push_back(0x90);
        const auto decoded = DecodePortInstruction(code.data(), code.size());
        EXPECT_TRUE(decoded.valid) << c.name;
        EXPECT_EQ(decoded.isIn, c.isIn) << c.name;
        EXPECT_EQ(decoded.width, c.width) << c.name;
        EXPECT_EQ(decoded.portInDx, c.portInDx) << c.name;
        if (!c.portInDx) {
            EXPECT_EQ(decoded.immediatePort, c.immediatePort) << c.name;
        }
        EXPECT_EQ(decoded.length, c.length) << c.name;
    }
}

TEST(PortDecode, LeavesOtherInstructionsAlone)
{
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"insb", {0x6C}},
        {"outsb", {0x6E}},
        {"rep outsb", {0xF3, 0x6E}},
        {"segment prefix", {0x2E, 0xEC}},
        {"cli", {0xFA}},
        {"hlt", {0xF4}},
        {"immediate form cut off", {0xE4}},
        {"prefixes only", {0x66, 0x66}},
        {"nothing", {}},
    };
    for (const auto& [name, code] : cases) {
        EXPECT_FALSE(DecodePortInstruction(code.data(), code.size()).valid) << name;
    }
}

TEST(PortDecode, InResultsReplaceOnlyTheirPartOfRax)
{
    const std::uint64_t rax = 0x1122334455667788;
    EXPECT_EQ(MergeInResult(rax, 1, 0xAB), 0x11223344556677ABu);
    EXPECT_EQ(MergeInResult(rax, 2, 0xABCD), 0x112233445566ABCDu);
    // A 32-bit destination clears the upper half, as every 32-bit register write does.
    EXPECT_EQ(MergeInResult(rax, 4, 0xABCDEF01), 0x00000000ABCDEF01u);
}

} // namespace
