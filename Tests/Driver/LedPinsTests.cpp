// The four LED operations: argument tests, read-modify-write of one bit, and how they meet the access preamble.
#include <gtest/gtest.h>

#include <functional>

#include "ChipFixture.h"

namespace {

using sio::Expect;
using testsupport::ChipFixture;

class LedPinsTest : public ChipFixture {};

TEST_F(LedPinsTest, PinTableMapsEachLedToItsBit) {
    const char16_t* names[] = {u"GPIO10", u"GPIO11", u"GPIO12", u"GPIO13",
                               u"GPIO14", u"GPIO15", u"GPIO16", u"GPIO17"};
    for (UCHAR led = 0; led < LED_PIN_COUNT; ++led) {
        EXPECT_EQ(std::u16string_view(g_LedPinTable[led].Name), names[led]);
        EXPECT_EQ(g_LedPinTable[led].Index, led);
        EXPECT_EQ(g_LedPinTable[led].Mask, 1u << led);
    }
}

// The first applicable test decides; a refused call touches no register and writes no output.
TEST_F(LedPinsTest, ArgumentTestsRefuseBeforeAnyRegisterAccess) {
    enum class Op { GetDirection, GetStatus, SetDirection, SetStatus };
    struct Case {
        const char* name;
        Op op;
        bool nullExtension;
        UCHAR led;
        ULONG ledCount;
        bool nullOutput;
        NTSTATUS status;
    };
    const NTSTATUS invalid = STATUS_INVALID_PARAMETER;
    const Case cases[] = {
        {"get direction, no extension", Op::GetDirection, true, 0, 8, false, invalid},
        {"get status, no extension", Op::GetStatus, true, 0, 8, false, invalid},
        {"set direction, no extension", Op::SetDirection, true, 0, 8, false, invalid},
        {"set status, no extension", Op::SetStatus, true, 0, 8, false, invalid},
        {"get direction, LED 8", Op::GetDirection, false, 8, 8, false, invalid},
        {"get status, LED 8", Op::GetStatus, false, 8, 8, false, STATUS_SUCCESS},
        {"set direction, LED 8", Op::SetDirection, false, 8, 8, false, invalid},
        {"set status, LED 8", Op::SetStatus, false, 8, 8, false, invalid},
        {"get direction, LED 255", Op::GetDirection, false, 255, 8, false, invalid},
        {"get status, LED 255", Op::GetStatus, false, 255, 8, false, STATUS_SUCCESS},
        {"set status, LED 255", Op::SetStatus, false, 255, 8, false, invalid},
        {"get direction, not started", Op::GetDirection, false, 0, 0, false, invalid},
        {"get status, not started", Op::GetStatus, false, 0, 0, false, STATUS_SUCCESS},
        {"set direction, not started", Op::SetDirection, false, 0, 0, false, invalid},
        {"set status, not started", Op::SetStatus, false, 0, 0, false, invalid},
        {"set status, above a count of 3", Op::SetStatus, false, 3, 3, false, invalid},
        {"get status, above a count of 3", Op::GetStatus, false, 5, 3, false, STATUS_SUCCESS},
        {"get direction, no output", Op::GetDirection, false, 1, 8, true, invalid},
        {"get status, no output", Op::GetStatus, false, 1, 8, true, STATUS_SUCCESS},
        // A NULL extension is tested before the LED number.
        {"set status, no extension and LED 9", Op::SetStatus, true, 9, 8, false, invalid},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        extension_.m_LEDCount = c.ledCount;
        PDEVICE_EXTENSION extension = c.nullExtension ? nullptr : &extension_;
        UCHAR output = 0xAB;
        PUCHAR out = c.nullOutput ? nullptr : &output;
        bus_.ClearTrace();
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        switch (c.op) {
        case Op::GetDirection: status = GetLedDirection(extension, c.led, out); break;
        case Op::GetStatus: status = GetLedStatus(extension, c.led, out); break;
        case Op::SetDirection: status = SetLedDirection(extension, c.led, 1); break;
        case Op::SetStatus: status = SetLedStatus(extension, c.led, 1); break;
        }
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(output, 0xAB);
        EXPECT_EQ(bus_.TraceCount(), 0u);
    }
}

TEST_F(LedPinsTest, SetStatusChangesOnlyItsBitOfTheReportedRegister) {
    const uint8_t patterns[] = {0x00, 0xFF, 0x0C, 0xA5, 0x5A};
    const uint8_t values[] = {0, 1, 0x80};
    Start();
    for (UCHAR led = 0; led < 8; ++led) {
        for (uint8_t before : patterns) {
            for (uint8_t value : values) {
                SetLatch(before);
                ASSERT_EQ(SetLedStatus(&extension_, led, value), STATUS_SUCCESS);
                const uint8_t mask = static_cast<uint8_t>(1u << led);
                const uint8_t expected = value != 0 ? (before | mask) : (before & ~mask);
                EXPECT_EQ(Latch(), expected) << "LED " << int(led) << " from 0x" << std::hex << int(before)
                                             << " with value 0x" << int(value);
            }
        }
    }
}

TEST_F(LedPinsTest, SetStatusMakesThePinAnOutputThenWritesTheData) {
    Start();
    SetLatch(0x0C);
    ASSERT_EQ(SetLedStatus(&extension_, 0, 1), STATUS_SUCCESS);
    // Four complete sequences: the direction's read-modify-write (0xF0 reads 0x00 after the preamble), then the
    // data's.
    const sio::Trace expected = Expect(0x2E)
                                    .ReadConfigured(0xF0, 0x00)
                                    .WriteConfigured(0xF0, 0x00)
                                    .ReadConfigured(0xF1, 0x0C)
                                    .WriteConfigured(0xF1, 0x0D);
    EXPECT_EQ(Recorded(), expected);
    EXPECT_EQ(Recorded().size(), 76u);

    bus_.ClearTrace();
    ASSERT_EQ(SetLedStatus(&extension_, 3, 0), STATUS_SUCCESS);
    EXPECT_EQ(Latch(), 0x05);
    EXPECT_EQ(chip_.OutputLevels(), 0x05);  // every pin drives its latch
}

TEST_F(LedPinsTest, GetStatusReportsTheBitAsZeroOrOne) {
    const struct {
        UCHAR led;
        uint8_t latch;
        UCHAR expected;
    } cases[] = {{7, 0x80, 1}, {7, 0x7F, 0}, {0, 0x01, 1}, {0, 0xFE, 0}, {4, 0x10, 1}, {4, 0xEF, 0}};
    Start();
    for (const auto& c : cases) {
        SetLatch(c.latch);
        bus_.ClearTrace();
        UCHAR status = 0xAB;
        ASSERT_EQ(GetLedStatus(&extension_, c.led, &status), STATUS_SUCCESS);
        EXPECT_EQ(status, c.expected) << "LED " << int(c.led) << " latch 0x" << std::hex << int(c.latch);
        EXPECT_EQ(Recorded(), Expect(0x2E).ReadConfigured(0xF1, c.latch).Operations());
    }
}

TEST_F(LedPinsTest, DirectionWrittenHoldsOnlyUntilTheNextSequence) {
    Start();
    ASSERT_EQ(SetLedDirection(&extension_, 4, 1), STATUS_SUCCESS);
    EXPECT_EQ(Recorded(), Expect(0x2E).ReadConfigured(0xF0, 0x00).WriteConfigured(0xF0, 0x10).Operations());
    EXPECT_EQ(chip_.Register(7, 0xF0), 0x10);

    UCHAR direction = 0xAB;
    ASSERT_EQ(GetLedDirection(&extension_, 4, &direction), STATUS_SUCCESS);
    EXPECT_EQ(direction, 0);

    bus_.ClearTrace();
    ASSERT_EQ(SetLedDirection(&extension_, 4, 0), STATUS_SUCCESS);
    EXPECT_EQ(Recorded(), Expect(0x2E).ReadConfigured(0xF0, 0x00).WriteConfigured(0xF0, 0x00).Operations());
}

}  // namespace
