// Helpers for system tests on the virtual board: single requests, and reading register accesses off the trace.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "SioSequences.h"
#include "Text.h"
#include "VirtualBoard.h"

namespace systemtest {

inline NTSTATUS SetLed(vboard::VirtualBoard& board, host::FileHandle handle, uint8_t led, uint8_t value) {
    LED_IO_BUFFER buffer{led, value};
    return board.Control(handle, IOCTL_LED_SET_STATUS, &buffer, sizeof buffer, &buffer, sizeof buffer).status;
}

struct RegisterAccesses {
    int reads = 0;
    int writes = 0;
};

// Accesses of one register of the GPIO logical device in the trace: the data-port operation that follows the
// register's index.
inline RegisterAccesses AccessesOf(const board::PortBus& bus, uint8_t reg) {
    RegisterAccesses accesses;
    const auto trace = sio::Recorded(bus);
    for (std::size_t i = 0; i + 1 < trace.size(); ++i) {
        const bool selects = trace[i].direction == board::PortDirection::Out && trace[i].value == reg &&
                             (trace[i].port == 0x2E || trace[i].port == 0x4E);
        if (!selects || trace[i + 1].port != trace[i].port + 1) {
            continue;
        }
        (trace[i + 1].direction == board::PortDirection::In ? accesses.reads : accesses.writes)++;
    }
    return accesses;
}

}  // namespace systemtest
