// Decodes the x86 port I/O instructions (IN/OUT, immediate or DX port) that Wine cannot execute for a driver.
#pragma once

#include <cstddef>
#include <cstdint>

namespace boardtrap {

struct PortInstruction {
    bool valid = false;
    bool isIn = false;         // IN reads into AL/AX/EAX, OUT writes from it
    std::uint8_t width = 0;    // bytes moved: 1, 2 or 4
    bool portInDx = false;     // port taken from DX, else from the immediate byte
    std::uint8_t immediatePort = 0;
    std::uint8_t length = 0;   // instruction bytes, prefixes included
};

// Reads at most `available` bytes. Accepts an operand-size prefix (0x66) and REX prefixes, which IN/OUT ignore;
// anything else (string forms INS/OUTS, other prefixes) is not decoded.
constexpr PortInstruction DecodePortInstruction(const std::uint8_t* code, std::size_t available)
{
    PortInstruction result;
    std::size_t at = 0;
    bool operandSize16 = false;
    while (at < available && at < 4 && (code[at] == 0x66 || (code[at] & 0xF0) == 0x40)) {
        operandSize16 = operandSize16 || code[at] == 0x66;
        ++at;
    }
    if (at >= available) {
        return result;
    }
    const std::uint8_t opcode = code[at++];
    const bool wide = (opcode & 0x01) != 0;
    switch (opcode) {
    case 0xE4: case 0xE5: case 0xE6: case 0xE7:
        if (at >= available) {
            return result;
        }
        result.immediatePort = code[at++];
        result.portInDx = false;
        break;
    case 0xEC: case 0xED: case 0xEE: case 0xEF:
        result.portInDx = true;
        break;
    default:
        return result;
    }
    result.isIn = opcode == 0xE4 || opcode == 0xE5 || opcode == 0xEC || opcode == 0xED;
    result.width = !wide ? 1 : (operandSize16 ? 2 : 4);
    result.length = static_cast<std::uint8_t>(at);
    result.valid = true;
    return result;
}

// The new RAX after an IN of `width` bytes: AL and AX keep the upper bits, EAX clears them as 32-bit writes do.
constexpr std::uint64_t MergeInResult(std::uint64_t rax, std::uint8_t width, std::uint32_t value)
{
    switch (width) {
    case 1: return (rax & ~std::uint64_t{0xFF}) | (value & 0xFF);
    case 2: return (rax & ~std::uint64_t{0xFFFF}) | (value & 0xFFFF);
    default: return value;
    }
}

} // namespace boardtrap
