// Port bus dispatch, trace ring and listener.
#include "PortBus.h"

namespace board {

std::uint8_t PortBus::In(std::uint16_t port)
{
    SpinLockGuard guard(lock_);
    PortDevice* device = FindDevice(port);
    const std::uint8_t value = device != nullptr ? device->Read(port) : std::uint8_t{0xFF};
    Record(PortOperation{port, PortDirection::In, value});
    return value;
}

void PortBus::Out(std::uint16_t port, std::uint8_t value)
{
    SpinLockGuard guard(lock_);
    if (PortDevice* device = FindDevice(port)) {
        device->Write(port, value);
    }
    Record(PortOperation{port, PortDirection::Out, value});
}

bool PortBus::Attach(PortDevice& device)
{
    SpinLockGuard guard(lock_);
    PortDevice** freeSlot = nullptr;
    for (PortDevice*& slot : devices_) {
        if (slot == &device) {
            return false;
        }
        if (slot == nullptr && freeSlot == nullptr) {
            freeSlot = &slot;
        }
    }
    if (freeSlot == nullptr) {
        return false;
    }
    *freeSlot = &device;
    return true;
}

bool PortBus::Detach(PortDevice& device)
{
    SpinLockGuard guard(lock_);
    for (std::size_t i = 0; i < kMaxDevices; ++i) {
        if (devices_[i] == &device) {
            // Close the gap so attach order, and with it claim priority, is kept.
            for (std::size_t j = i; j + 1 < kMaxDevices; ++j) {
                devices_[j] = devices_[j + 1];
            }
            devices_[kMaxDevices - 1] = nullptr;
            return true;
        }
    }
    return false;
}

void PortBus::SetListener(Listener listener, void* context)
{
    SpinLockGuard guard(lock_);
    listener_ = listener;
    listenerContext_ = listener != nullptr ? context : nullptr;
}

std::uint64_t PortBus::TraceCount() const
{
    SpinLockGuard guard(lock_);
    return traceCount_;
}

std::uint64_t PortBus::TraceFirstHeld() const
{
    SpinLockGuard guard(lock_);
    return FirstHeldLocked();
}

bool PortBus::TraceHeld(std::uint64_t index) const
{
    SpinLockGuard guard(lock_);
    return index >= FirstHeldLocked() && index < traceCount_;
}

PortOperation PortBus::TraceAt(std::uint64_t index) const
{
    SpinLockGuard guard(lock_);
    if (index < FirstHeldLocked() || index >= traceCount_) {
        return PortOperation{};
    }
    return trace_[index & (kTraceCapacity - 1)];
}

bool PortBus::TraceOverflowed() const
{
    SpinLockGuard guard(lock_);
    return traceCount_ > kTraceCapacity;
}

void PortBus::ClearTrace()
{
    SpinLockGuard guard(lock_);
    traceCount_ = 0;
}

PortDevice* PortBus::FindDevice(std::uint16_t port) const
{
    for (PortDevice* device : devices_) {
        if (device != nullptr && device->Claims(port)) {
            return device;
        }
    }
    return nullptr;
}

void PortBus::Record(const PortOperation& operation)
{
    trace_[traceCount_ & (kTraceCapacity - 1)] = operation;
    ++traceCount_;
    if (listener_ != nullptr) {
        listener_(listenerContext_, operation);
    }
}

std::uint64_t PortBus::FirstHeldLocked() const
{
    return traceCount_ > kTraceCapacity ? traceCount_ - kTraceCapacity : 0;
}

} // namespace board
