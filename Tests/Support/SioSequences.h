// The port operations a correct driver makes on the Super I/O, built from the protocol, for exact trace checks.
#pragma once

#include <cstdint>
#include <vector>

#include "PortBus.h"
#include "PortTrace.h"

namespace sio {

using board::PortDirection;
using board::PortOperation;
using Trace = std::vector<PortOperation>;

inline std::vector<PortOperation> Recorded(const board::PortBus& bus) { return porttrace::Held(bus); }

// Builds expected traces at one index/data pair.
class Expect {
public:
    explicit Expect(std::uint16_t indexPort) : index_(indexPort), data_(static_cast<std::uint16_t>(indexPort + 1)) {}

    Expect& Index(std::uint8_t value) { return Add(index_, PortDirection::Out, value); }
    Expect& Write(std::uint8_t value) { return Add(data_, PortDirection::Out, value); }
    Expect& Read(std::uint8_t value) { return Add(data_, PortDirection::In, value); }

    Expect& Probe(std::uint8_t chipId, std::uint8_t revision) {
        return Index(0x87).Index(0x87).Index(0x20).Read(chipId).Index(0x21).Read(revision).Index(0xAA);
    }
    // The 14 operations that open every sequence, given what the chip reports for 0x2A and 0x30.
    Expect& Preamble(std::uint8_t reg2A, std::uint8_t reg30) {
        return Index(0x87)
            .Index(0x87)
            .Index(0x07)
            .Write(0x07)
            .Index(0x2A)
            .Read(reg2A)
            .Index(0x2A)
            .Write(static_cast<std::uint8_t>(reg2A | 0xFC))
            .Index(0x30)
            .Read(reg30)
            .Index(0x30)
            .Write(static_cast<std::uint8_t>(reg30 | 0x01))
            .Index(0xF0)
            .Write(0x00);
    }
    Expect& Postamble() { return Index(0xF2).Write(0xFF).Index(0xAA); }
    Expect& Configure(std::uint8_t reg2A, std::uint8_t reg30) { return Preamble(reg2A, reg30).Postamble(); }
    Expect& ReadRegister(std::uint8_t reg, std::uint8_t value, std::uint8_t reg2A, std::uint8_t reg30) {
        return Preamble(reg2A, reg30).Index(reg).Read(value).Postamble();
    }
    Expect& WriteRegister(std::uint8_t reg, std::uint8_t value, std::uint8_t reg2A, std::uint8_t reg30) {
        return Preamble(reg2A, reg30).Index(reg).Write(value).Postamble();
    }
    // Once configured, 0x2A reads back with bits 2..7 set and 0x30 with bit 0 set.
    Expect& ReadConfigured(std::uint8_t reg, std::uint8_t value) { return ReadRegister(reg, value, 0xFC, 0x01); }
    Expect& WriteConfigured(std::uint8_t reg, std::uint8_t value) { return WriteRegister(reg, value, 0xFC, 0x01); }

    Expect& Then(const Expect& other) {
        operations_.insert(operations_.end(), other.operations_.begin(), other.operations_.end());
        return *this;
    }

    const std::vector<PortOperation>& Operations() const { return operations_; }
    operator const std::vector<PortOperation>&() const { return operations_; }

private:
    Expect& Add(std::uint16_t port, PortDirection direction, std::uint8_t value) {
        operations_.push_back({port, direction, value});
        return *this;
    }

    std::uint16_t index_;
    std::uint16_t data_;
    std::vector<PortOperation> operations_;
};

}  // namespace sio
