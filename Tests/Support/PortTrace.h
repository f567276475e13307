// Port operations in test output, and the operations a bus still holds.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "PortBus.h"

namespace board {
inline void PrintTo(const PortOperation& operation, std::ostream* out) {
    *out << (operation.direction == PortDirection::In ? "in  " : "out ") << std::hex << "0x" << operation.port
         << " = 0x" << static_cast<int>(operation.value) << std::dec;
}
}  // namespace board

namespace porttrace {

// Every operation the bus still holds, oldest first.
inline std::vector<board::PortOperation> Held(const board::PortBus& bus) {
    std::vector<board::PortOperation> operations;
    for (std::uint64_t i = bus.TraceFirstHeld(); i < bus.TraceCount(); ++i) {
        operations.push_back(bus.TraceAt(i));
    }
    return operations;
}

}  // namespace porttrace
