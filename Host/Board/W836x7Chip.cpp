// W836x7 Super I/O state machine behind its index/data port pair.
#include "W836x7Chip.h"

namespace board {

bool W836x7Chip::Claims(std::uint16_t port) const
{
    const std::uint16_t index = IndexPort();
    return index != 0 && (port == index || port == index + 1);
}

std::uint8_t W836x7Chip::Read(std::uint16_t port)
{
    SpinLockGuard guard(lock_);
    const std::uint16_t index = IndexPort();
    if (index == 0) {
        return 0xFF;
    }
    if (port == index) {
        // The index port reads back the selection only in configuration mode.
        return configMode_ ? index_ : std::uint8_t{0xFF};
    }
    if (port == index + 1) {
        if (!configMode_) {
            ++diagnostics_.dataAccessOutsideConfig;
            return 0xFF;
        }
        return ReadData();
    }
    return 0xFF;
}

void W836x7Chip::Write(std::uint16_t port, std::uint8_t value)
{
    SpinLockGuard guard(lock_);
    const std::uint16_t index = IndexPort();
    if (index == 0) {
        return;
    }
    if (port == index) {
        WriteIndex(value);
    } else if (port == index + 1) {
        if (!configMode_) {
            ++diagnostics_.dataAccessOutsideConfig;
            return;
        }
        WriteData(value);
    }
}

void W836x7Chip::SetPlacement(ChipPlacement placement)
{
    SpinLockGuard guard(lock_);
    placement_.store(placement, std::memory_order_relaxed);
}

ChipPlacement W836x7Chip::Placement() const
{
    return placement_.load(std::memory_order_relaxed);
}

void W836x7Chip::SetChipId(std::uint8_t id)
{
    SpinLockGuard guard(lock_);
    chipId_ = id;
}

void W836x7Chip::SetRevision(std::uint8_t revision)
{
    SpinLockGuard guard(lock_);
    revision_ = revision;
}

void W836x7Chip::SetInputLevels(std::uint8_t levels)
{
    SpinLockGuard guard(lock_);
    inputLevels_ = levels;
}

std::uint8_t W836x7Chip::InputLevels() const
{
    SpinLockGuard guard(lock_);
    return inputLevels_;
}

std::uint8_t W836x7Chip::Register(std::uint8_t ldn, std::uint8_t index) const
{
    SpinLockGuard guard(lock_);
    return LoadRegister(ldn & (kLogicalDeviceCount - 1), index);
}

void W836x7Chip::SetRegister(std::uint8_t ldn, std::uint8_t index, std::uint8_t value)
{
    SpinLockGuard guard(lock_);
    if (index == kRegChipId) {
        chipId_ = value;
    } else if (index == kRegRevision) {
        revision_ = value;
    } else {
        StoreRegister(ldn & (kLogicalDeviceCount - 1), index, value);
    }
}

bool W836x7Chip::InConfigMode() const
{
    SpinLockGuard guard(lock_);
    return configMode_;
}

std::uint8_t W836x7Chip::SelectedLogicalDevice() const
{
    SpinLockGuard guard(lock_);
    return registers_.global[kRegLogicalDevice];
}

std::uint8_t W836x7Chip::SelectedIndex() const
{
    SpinLockGuard guard(lock_);
    return index_;
}

std::uint8_t W836x7Chip::OutputLatch() const
{
    SpinLockGuard guard(lock_);
    return registers_.banked[kGpio1Device][kRegGpioData - kFirstBankedRegister];
}

std::uint8_t W836x7Chip::OutputMask() const
{
    SpinLockGuard guard(lock_);
    return static_cast<std::uint8_t>(~registers_.banked[kGpio1Device][kRegGpioDirection - kFirstBankedRegister]);
}

std::uint8_t W836x7Chip::OutputLevels() const
{
    SpinLockGuard guard(lock_);
    const std::uint8_t direction = registers_.banked[kGpio1Device][kRegGpioDirection - kFirstBankedRegister];
    const std::uint8_t latch = registers_.banked[kGpio1Device][kRegGpioData - kFirstBankedRegister];
    return static_cast<std::uint8_t>(latch & ~direction);
}

std::uint8_t W836x7Chip::PinLevels() const
{
    SpinLockGuard guard(lock_);
    return PinLevelsLocked();
}

void W836x7Chip::IgnoreLatchWrites(std::uint32_t count)
{
    SpinLockGuard guard(lock_);
    latchWritesToIgnore_ = count;
}

std::uint32_t W836x7Chip::LatchWritesToIgnore() const
{
    SpinLockGuard guard(lock_);
    return latchWritesToIgnore_;
}

std::uint32_t W836x7Chip::DroppedLatchWrites() const
{
    SpinLockGuard guard(lock_);
    return droppedLatchWrites_;
}

ChipDiagnostics W836x7Chip::Diagnostics() const
{
    SpinLockGuard guard(lock_);
    return diagnostics_;
}

void W836x7Chip::ClearDiagnostics()
{
    SpinLockGuard guard(lock_);
    diagnostics_ = ChipDiagnostics{};
}

void W836x7Chip::Reset()
{
    SpinLockGuard guard(lock_);
    ResetLocked();
}

std::uint16_t W836x7Chip::IndexPort() const
{
    switch (placement_.load(std::memory_order_relaxed)) {
    case ChipPlacement::At2E:
        return 0x2E;
    case ChipPlacement::At4E:
        return 0x4E;
    case ChipPlacement::Absent:
        break;
    }
    return 0;
}

void W836x7Chip::WriteIndex(std::uint8_t value)
{
    if (!configMode_) {
        // Only an unbroken pair of keys enters; anything else starts the pair over.
        if (value == kEnterKey && ++keysSeen_ == 2) {
            configMode_ = true;
            keysSeen_ = 0;
        } else if (value != kEnterKey) {
            keysSeen_ = 0;
        }
        return;
    }
    if (value == kExitKey) {
        configMode_ = false;
        return;
    }
    if (value == kEnterKey) {
        ++diagnostics_.enterKeyInConfig;
    }
    // Like the real part, any other byte (a stray key included) just selects that index.
    index_ = value;
}

std::uint8_t W836x7Chip::ReadData() const
{
    const std::uint8_t ldn = registers_.global[kRegLogicalDevice];
    if (ldn == kGpio1Device && index_ == kRegGpioData) {
        return PinLevelsLocked();
    }
    return LoadRegister(ldn, index_);
}

void W836x7Chip::WriteData(std::uint8_t value)
{
    const std::uint8_t ldn = registers_.global[kRegLogicalDevice];
    if (ldn == kGpio1Device && index_ == kRegGpioData && latchWritesToIgnore_ != 0) {
        if (latchWritesToIgnore_ != kIgnoreForever) {
            --latchWritesToIgnore_;
        }
        ++droppedLatchWrites_;
        return;
    }
    StoreRegister(ldn, index_, value);
}

std::uint8_t W836x7Chip::LoadRegister(std::uint8_t ldn, std::uint8_t index) const
{
    if (index == kRegChipId) {
        return chipId_;
    }
    if (index == kRegRevision) {
        return revision_;
    }
    if (index < kFirstBankedRegister) {
        return registers_.global[index];
    }
    return registers_.banked[ldn][index - kFirstBankedRegister];
}

void W836x7Chip::StoreRegister(std::uint8_t ldn, std::uint8_t index, std::uint8_t value)
{
    if (index == kRegChipId || index == kRegRevision) {
        return; // identity is read-only through the ports
    }
    if (index == kRegLogicalDevice) {
        // Out-of-range device numbers are ignored, leaving the previous device selected.
        if (value < kLogicalDeviceCount) {
            registers_.global[kRegLogicalDevice] = value;
        }
        return;
    }
    if (index < kFirstBankedRegister) {
        registers_.global[index] = value;
        return;
    }
    registers_.banked[ldn][index - kFirstBankedRegister] = value;
}

std::uint8_t W836x7Chip::PinLevelsLocked() const
{
    const std::uint8_t direction = registers_.banked[kGpio1Device][kRegGpioDirection - kFirstBankedRegister];
    const std::uint8_t latch = registers_.banked[kGpio1Device][kRegGpioData - kFirstBankedRegister];
    return static_cast<std::uint8_t>((latch & ~direction) | (inputLevels_ & direction));
}

void W836x7Chip::ResetLocked()
{
    configMode_ = false;
    keysSeen_ = 0;
    index_ = 0;
    registers_ = PowerOnRegisters();
    latchWritesToIgnore_ = 0;
    droppedLatchWrites_ = 0;
    diagnostics_ = ChipDiagnostics{};
}

} // namespace board
