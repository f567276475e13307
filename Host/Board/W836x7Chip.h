// Model of a Winbond W836x7-family Super I/O: configuration key protocol, logical devices, GPIO port 1.
#pragma once

#include <atomic>
#include <cstdint>

#include "PortBus.h"
#include "SpinLock.h"

namespace board {

enum class ChipPlacement : std::uint8_t { At2E, At4E, Absent };

// Counts of things a correct driver never does.
struct ChipDiagnostics {
    std::uint32_t dataAccessOutsideConfig = 0; // data-port reads and writes outside configuration mode
    std::uint32_t enterKeyInConfig = 0;        // 0x87 written to the index port in configuration mode

    friend bool operator==(const ChipDiagnostics&, const ChipDiagnostics&) = default;
};

// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor): final, so never deleted through a base.
class W836x7Chip final : public PortDevice {
public:
    static constexpr std::uint8_t kEnterKey = 0x87;
    static constexpr std::uint8_t kExitKey = 0xAA;
    static constexpr std::uint8_t kRegLogicalDevice = 0x07;
    static constexpr std::uint8_t kRegChipId = 0x20;
    static constexpr std::uint8_t kRegRevision = 0x21;
    static constexpr std::uint8_t kFirstBankedRegister = 0x30;
    static constexpr std::uint8_t kRegActivate = 0x30;
    static constexpr std::uint8_t kLogicalDeviceCount = 16;
    static constexpr std::uint8_t kGpio1Device = 7;
    static constexpr std::uint8_t kRegGpioDirection = 0xF0; // 1 = input, 0 = output
    static constexpr std::uint8_t kRegGpioData = 0xF1;
    static constexpr std::uint8_t kRegGpioInversion = 0xF2; // plain storage in this model
    static constexpr std::uint8_t kDefaultChipId = 0x52;
    static constexpr std::uint8_t kDefaultRevision = 0x41;
    static constexpr std::uint32_t kIgnoreForever = UINT32_MAX;

    // Constant-initialisable, so a global chip needs no static constructor.
    constexpr explicit W836x7Chip(ChipPlacement placement = ChipPlacement::At2E) : placement_(placement) {}

    // PortDevice: the ports of the current placement, nothing when absent.
    bool Claims(std::uint16_t port) const override;
    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;

    // Board wiring and identity: kept across Reset(), which models a power cycle.
    void SetPlacement(ChipPlacement placement);
    ChipPlacement Placement() const;
    void SetChipId(std::uint8_t id);
    void SetRevision(std::uint8_t revision);
    void SetInputLevels(std::uint8_t levels); // external level of each GPIO port 1 pin
    std::uint8_t InputLevels() const;

    // Back door, no protocol and no trace. Index < 0x30 is global and ignores ldn; ldn is masked
    // to 0..15. Register 0x07 is the selected logical device, 0x20/0x21 the identity.
    std::uint8_t Register(std::uint8_t ldn, std::uint8_t index) const;
    void SetRegister(std::uint8_t ldn, std::uint8_t index, std::uint8_t value);
    bool InConfigMode() const;
    std::uint8_t SelectedLogicalDevice() const;
    std::uint8_t SelectedIndex() const;

    // GPIO port 1 as seen from the pins.
    std::uint8_t OutputLatch() const;  // raw latch, including bits of input pins
    std::uint8_t OutputMask() const;   // 1 for each pin configured as output
    std::uint8_t OutputLevels() const; // latch for output pins, 0 for input pins
    std::uint8_t PinLevels() const;    // what a read of 0xF1 returns

    // Drops the next count port writes to register 0xF1 of logical device 7; 0 stops dropping.
    void IgnoreLatchWrites(std::uint32_t count);
    std::uint32_t LatchWritesToIgnore() const;
    std::uint32_t DroppedLatchWrites() const;

    ChipDiagnostics Diagnostics() const;
    void ClearDiagnostics();

    // Power-on state: out of configuration mode, LDN 0 and index 0 selected, registers at their defaults,
    // diagnostics and misbehaviour cleared.
    void Reset();

private:
    static constexpr int kBankedCount = 0x100 - kFirstBankedRegister;

    struct RegisterFile {
        std::uint8_t global[kFirstBankedRegister];
        std::uint8_t banked[kLogicalDeviceCount][kBankedCount];
    };

    static constexpr RegisterFile PowerOnRegisters()
    {
        RegisterFile registers{};
        // GPIO port 1 powers up with every pin an input, so nothing is driven before a driver runs.
        registers.banked[kGpio1Device][kRegGpioDirection - kFirstBankedRegister] = 0xFF;
        return registers;
    }

    std::uint16_t IndexPort() const;
    void WriteIndex(std::uint8_t value);
    std::uint8_t ReadData() const;
    void WriteData(std::uint8_t value);
    std::uint8_t LoadRegister(std::uint8_t ldn, std::uint8_t index) const;
    void StoreRegister(std::uint8_t ldn, std::uint8_t index, std::uint8_t value);
    std::uint8_t PinLevelsLocked() const;
    void ResetLocked();

    mutable SpinLock lock_; // back door may run beside driver threads on the bus

    // Read without the lock by Claims, which the bus asks on every access; Read and Write check it again.
    std::atomic<ChipPlacement> placement_;
    std::uint8_t chipId_ = kDefaultChipId;
    std::uint8_t revision_ = kDefaultRevision;
    std::uint8_t inputLevels_ = 0x00;

    bool configMode_ = false;
    std::uint8_t keysSeen_ = 0; // consecutive 0x87 writes outside configuration mode
    std::uint8_t index_ = 0;
    RegisterFile registers_ = PowerOnRegisters();

    std::uint32_t latchWritesToIgnore_ = 0;
    std::uint32_t droppedLatchWrites_ = 0;
    ChipDiagnostics diagnostics_;
};

} // namespace board
