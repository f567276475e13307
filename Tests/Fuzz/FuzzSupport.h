// What the fuzz targets share: reading choices from the fuzzer's bytes, and failing an input loudly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "VirtualBoard.h"

namespace fuzz {

// Hands out the input's bytes as choices; once they run out every choice is 0, so any input is a valid program.
class ByteReader {
public:
    ByteReader(const uint8_t* data, std::size_t size) : bytes_(data, size) {}

    bool Empty() const { return position_ >= bytes_.size(); }
    std::size_t Remaining() const { return Empty() ? 0 : bytes_.size() - position_; }

    uint8_t Byte() { return Empty() ? 0 : bytes_[position_++]; }
    bool Bool() { return (Byte() & 1) != 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }

    template <typename T, std::size_t N>
    const T& Pick(const T (&choices)[N]) {
        return choices[Byte() % N];
    }

    // Up to count bytes of the input, fewer when it runs out.
    std::span<const uint8_t> Take(std::size_t count) {
        const std::size_t taken = count < Remaining() ? count : Remaining();
        std::span<const uint8_t> part = bytes_.subspan(position_, taken);
        position_ += taken;
        return part;
    }

private:
    std::span<const uint8_t> bytes_;
    std::size_t position_ = 0;
};

// A broken invariant ends the run like a crash, so the fuzzer keeps the input that broke it.
[[noreturn]] inline void Fail(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "FUZZ INVARIANT BROKEN at %s:%d: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_REQUIRE(condition)                           \
    do {                                                  \
        if (!(condition)) {                               \
            ::fuzz::Fail(__FILE__, __LINE__, #condition); \
        }                                                 \
    } while (false)

// The chip saw only complete, well-formed access sequences: no data-port traffic outside configuration mode, no
// enter key inside it, and every sequence ended with the exit key.
inline void RequireCleanChip(vboard::VirtualBoard& board) {
    const board::ChipDiagnostics diagnostics = board.Chip().Diagnostics();
    FUZZ_REQUIRE(diagnostics.dataAccessOutsideConfig == 0);
    FUZZ_REQUIRE(diagnostics.enterKeyInConfig == 0);
    FUZZ_REQUIRE(!board.Chip().InConfigMode());
}

// A request sender's thread is back where it started: PASSIVE_LEVEL, no spin lock held.
inline void RequirePassiveThread() {
    FUZZ_REQUIRE(KeGetCurrentIrql() == PASSIVE_LEVEL);
    FUZZ_REQUIRE(host::SpinLocksHeld() == 0);
}

}  // namespace fuzz
