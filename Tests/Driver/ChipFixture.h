// A device extension wired to a chip model through the port bus, as a freshly loaded driver sees it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Kernel.h"
#include "OrvLED.h"
#include "SioSequences.h"
#include "W836x7Chip.h"

namespace testsupport {

inline constexpr char16_t kServiceKey[] = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\OrvLED";

class ChipFixture : public testing::Test {
protected:
    ChipFixture() {
        bus_.Attach(chip_);
        kernel_.AttachPorts(&bus_);
        kernel_.Reg().CreateKey(kServiceKey);
        // A fresh driver image starts with the pair at 0x2E/0x2F.
        g_SioIndexPort = 0x2E;
        g_SioDataPort = 0x2F;
        extension_ = DEVICE_EXTENSION{};
        KeInitializeSpinLock(&extension_.m_SpinLock);
        extension_.m_RegistryPath.Buffer = extension_.m_RegistryPathBuffer;
        extension_.m_RegistryPath.MaximumLength = LED_REGISTRY_PATH_BYTES;
        UNICODE_STRING key;
        RtlInitUnicodeString(&key, kServiceKey);
        RtlCopyUnicodeString(&extension_.m_RegistryPath, &key);
    }

    // A device that StartDevice has brought up: chip configured, eight LEDs served.
    void Start() {
        ASSERT_TRUE(InitSuperIoChip(&extension_));
        extension_.m_LEDCount = 8;
        bus_.ClearTrace();
    }

    sio::Trace Recorded() const { return sio::Recorded(bus_); }

    uint8_t Latch() const { return chip_.Register(7, 0xF1); }
    void SetLatch(uint8_t value) { chip_.SetRegister(7, 0xF1, value); }

    host::Kernel kernel_;
    board::PortBus bus_;
    board::W836x7Chip chip_{board::ChipPlacement::At2E};
    DEVICE_EXTENSION extension_{};
};

}  // namespace testsupport
