// Shared helpers for the board tests: readable trace output, trace capture and a simple fake device.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "PortBus.h"
#include "PortTrace.h"

namespace board_test {

using board::PortDirection;
using board::PortOperation;

inline PortOperation In(std::uint16_t port, std::uint8_t value) { return {port, PortDirection::In, value}; }
inline PortOperation Out(std::uint16_t port, std::uint8_t value) { return {port, PortDirection::Out, value}; }

inline std::vector<PortOperation> HeldTrace(const board::PortBus& bus) { return porttrace::Held(bus); }

// Claims a port range; remembers the last byte written to each port and reads it back.
// Counters are plain integers on purpose: the bus lock is what keeps them exact.
class MemoryDevice final : public board::PortDevice {
public:
    MemoryDevice(std::uint16_t first, std::uint16_t last, std::uint8_t fill = 0x00)
        : first_(first), last_(last), memory_(static_cast<std::size_t>(last - first) + 1, fill)
    {
    }

    bool Claims(std::uint16_t port) const override { return port >= first_ && port <= last_; }
    std::uint8_t Read(std::uint16_t port) override
    {
        ++reads;
        return memory_[port - first_];
    }
    void Write(std::uint16_t port, std::uint8_t value) override
    {
        ++writes;
        memory_[port - first_] = value;
    }

    std::uint8_t At(std::uint16_t port) const { return memory_[port - first_]; }

    std::uint64_t reads = 0;
    std::uint64_t writes = 0;

private:
    std::uint16_t first_;
    std::uint16_t last_;
    std::vector<std::uint8_t> memory_;
};

} // namespace board_test
