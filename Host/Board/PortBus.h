// Byte-wide x86 I/O port space with attachable devices, an operation trace and a live listener.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SpinLock.h"

namespace board {

enum class PortDirection : std::uint8_t { In, Out };

struct PortOperation {
    std::uint16_t port = 0;
    PortDirection direction = PortDirection::In;
    std::uint8_t value = 0; // byte read (In) or written (Out)

    friend bool operator==(const PortOperation&, const PortOperation&) = default;
};

// Something that answers on a few ports. The bus calls it with its lock held, one access at a time.
class PortDevice {
public:
    virtual bool Claims(std::uint16_t port) const = 0;
    virtual std::uint8_t Read(std::uint16_t port) = 0;
    virtual void Write(std::uint16_t port, std::uint8_t value) = 0;

protected:
    PortDevice() = default;
    // Not virtual and not public: devices are never deleted through the bus, and a virtual
    // destructor would pull operator delete into runtime-free builds.
    ~PortDevice() = default;
    PortDevice(const PortDevice&) = default;
    PortDevice& operator=(const PortDevice&) = default;
};

class PortBus {
public:
    static constexpr std::size_t kMaxDevices = 4;
    // Power of two so ring indexing is a mask, not a 64-bit division (no libgcc helper on 32-bit).
    static constexpr std::size_t kTraceCapacity = 8192;
    static_assert((kTraceCapacity & (kTraceCapacity - 1)) == 0, "trace capacity must be a power of two");

    // Called after every operation, inside the bus lock: it must not call back into the bus.
    using Listener = void (*)(void* context, const PortOperation& operation);

    PortBus() = default;
    ~PortBus() = default;
    PortBus(const PortBus&) = delete;
    PortBus& operator=(const PortBus&) = delete;

    // Reads a byte; 0xFF (open bus) when no device claims the port.
    std::uint8_t In(std::uint16_t port);
    // Writes a byte; dropped when no device claims the port.
    void Out(std::uint16_t port, std::uint8_t value);

    // False when the device is already attached or the bus is full. On overlapping claims the
    // device attached first answers.
    bool Attach(PortDevice& device);
    // False when the device was not attached.
    bool Detach(PortDevice& device);

    // A null listener turns live reporting off.
    void SetListener(Listener listener, void* context);

    // Operations since the last ClearTrace(); keeps counting past the ring's capacity.
    std::uint64_t TraceCount() const;
    // Index of the oldest operation still held (0 until the ring overflows).
    std::uint64_t TraceFirstHeld() const;
    bool TraceHeld(std::uint64_t index) const;
    // The index-th operation since the clear; a default PortOperation when it is not held.
    PortOperation TraceAt(std::uint64_t index) const;
    bool TraceOverflowed() const;
    void ClearTrace();

private:
    PortDevice* FindDevice(std::uint16_t port) const;
    void Record(const PortOperation& operation);
    std::uint64_t FirstHeldLocked() const;

    mutable SpinLock lock_;
    PortDevice* devices_[kMaxDevices] = {};
    Listener listener_ = nullptr;
    void* listenerContext_ = nullptr;
    std::uint64_t traceCount_ = 0;
    PortOperation trace_[kTraceCapacity] = {};
};

} // namespace board
