// Detection, configuration and the register access sequences, checked operation by operation on the chip model.
#include <gtest/gtest.h>

#include "ChipFixture.h"

namespace {

using board::ChipPlacement;
using sio::Expect;
using testsupport::ChipFixture;

class SuperIoTest : public ChipFixture {
protected:
    std::optional<host::RegistryValue> ChipsetType() {
        return kernel_.Reg().Value(testsupport::kServiceKey, u"ChipsetType");
    }
};

TEST_F(SuperIoTest, ChipAt2EIsProbedOnceAndConfigured) {
    chip_.SetRegister(0, 0x2A, 0x01);
    chip_.SetRegister(7, 0x30, 0x00);

    ASSERT_TRUE(InitSuperIoChip(&extension_));

    const sio::Trace expected = Expect(0x2E).Probe(0x52, 0x41).Configure(0x01, 0x00);
    EXPECT_EQ(Recorded(), expected);
    EXPECT_EQ(Recorded().size(), 7u + 17u);
    EXPECT_EQ(g_SioIndexPort, 0x2E);
    EXPECT_EQ(g_SioDataPort, 0x2F);
    ASSERT_TRUE(ChipsetType());
    EXPECT_EQ(ChipsetType()->type, static_cast<uint32_t>(REG_DWORD));
    EXPECT_EQ(ChipsetType()->data.size(), 4u);
    EXPECT_EQ(ChipsetType()->AsDword(), 1u);
    EXPECT_EQ(extension_.m_ChipsetType, 1u);
    // The configuration left the chip as the protocol promises.
    EXPECT_FALSE(chip_.InConfigMode());
    EXPECT_EQ(chip_.SelectedLogicalDevice(), 7);
    EXPECT_EQ(chip_.Register(0, 0x2A), 0xFD);
    EXPECT_EQ(chip_.Register(7, 0x30), 0x01);
    EXPECT_EQ(chip_.Register(7, 0xF0), 0x00);
    EXPECT_EQ(chip_.Register(7, 0xF2), 0xFF);
    EXPECT_EQ(chip_.Diagnostics(), board::ChipDiagnostics{});
}

TEST_F(SuperIoTest, ChipOnlyAt4EMovesThePairForGood) {
    chip_.SetPlacement(ChipPlacement::At4E);

    ASSERT_TRUE(InitSuperIoChip(&extension_));
    const sio::Trace detection =
        Expect(0x2E).Probe(0xFF, 0xFF).Then(Expect(0x4E).Probe(0x52, 0x41).Configure(0x00, 0x00));
    EXPECT_EQ(Recorded(), detection);
    EXPECT_EQ(g_SioIndexPort, 0x4E);
    EXPECT_EQ(g_SioDataPort, 0x4F);
    ASSERT_TRUE(ChipsetType());

    // Every later access goes to 0x4E/0x4F, and so does a later detection's first probe.
    bus_.ClearTrace();
    chip_.SetRegister(7, 0xF1, 0x33);
    EXPECT_EQ(ReadGpioRegister(&extension_, 0xF1), 0x33);
    ASSERT_TRUE(InitSuperIoChip(&extension_));
    const sio::Trace later = Expect(0x4E).ReadConfigured(0xF1, 0x33).Probe(0x52, 0x41).Configure(0xFC, 0x01);
    EXPECT_EQ(Recorded(), later);
}

TEST_F(SuperIoTest, NoAnswerAtEitherPairFailsWithoutRegistryOrConfiguration) {
    struct Case {
        const char* name;
        ChipPlacement placement;
        uint8_t chipId;
        uint8_t idAt2E;
        uint8_t idAt4E;
    };
    const Case cases[] = {
        {"no chip", ChipPlacement::Absent, 0x52, 0xFF, 0xFF},
        {"another chip at 0x2E", ChipPlacement::At2E, 0x53, 0x53, 0xFF},
        {"another chip at 0x4E", ChipPlacement::At4E, 0x61, 0xFF, 0x61},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_SioIndexPort = 0x2E;
        g_SioDataPort = 0x2F;
        chip_.SetPlacement(c.placement);
        chip_.SetChipId(c.chipId);
        bus_.ClearTrace();

        EXPECT_FALSE(InitSuperIoChip(&extension_));

        const uint8_t revisionAt2E = c.idAt2E == 0xFF ? 0xFF : 0x41;
        const uint8_t revisionAt4E = c.idAt4E == 0xFF ? 0xFF : 0x41;
        const sio::Trace expected =
            Expect(0x2E).Probe(c.idAt2E, revisionAt2E).Then(Expect(0x4E).Probe(c.idAt4E, revisionAt4E));
        EXPECT_EQ(Recorded(), expected);
        EXPECT_EQ(g_SioIndexPort, 0x4E);
        EXPECT_EQ(g_SioDataPort, 0x4F);
        EXPECT_FALSE(ChipsetType());
        EXPECT_EQ(extension_.m_ChipsetType, 0u);
    }
}

TEST_F(SuperIoTest, FailedRegistryWriteStillConfiguresTheChip) {
    struct Case {
        const char* name;
        bool injectFailure;
        bool keyExists;
    };
    const Case cases[] = {{"write refused", true, true}, {"service key missing", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host::Kernel::Current().Faults().Reset();
        if (c.injectFailure) {
            kernel_.Faults().FailNext("RtlWriteRegistryValue", STATUS_INSUFFICIENT_RESOURCES);
        }
        if (!c.keyExists) {
            extension_.m_RegistryPath.Length = 0;
            extension_.m_RegistryPathBuffer[1] = u'X';  // a path whose key was never created
        }
        bus_.ClearTrace();
        chip_.Reset();

        EXPECT_TRUE(InitSuperIoChip(&extension_));
        EXPECT_EQ(kernel_.Faults().Calls("RtlWriteRegistryValue"), 1u);
        EXPECT_EQ(Recorded(), Expect(0x2E).Probe(0x52, 0x41).Configure(0x00, 0x00).Operations());
        EXPECT_FALSE(ChipsetType());
    }
}

TEST_F(SuperIoTest, RegisterReadAndWriteAreNineteenOperationsEach) {
    Start();
    SetLatch(0xA5);
    EXPECT_EQ(ReadGpioRegister(&extension_, 0xF1), 0xA5);
    WriteGpioRegister(&extension_, 0xF1, 0x5A);

    const sio::Trace expected = Expect(0x2E).ReadConfigured(0xF1, 0xA5).WriteConfigured(0xF1, 0x5A);
    const sio::Trace recorded = Recorded();
    EXPECT_EQ(recorded, expected);
    ASSERT_EQ(recorded.size(), 38u);
    // The data byte follows the register's index as operations 15 and 16 of the write.
    EXPECT_EQ(recorded[19 + 14], (board::PortOperation{0x2E, board::PortDirection::Out, 0xF1}));
    EXPECT_EQ(recorded[19 + 15], (board::PortOperation{0x2F, board::PortDirection::Out, 0x5A}));
    EXPECT_EQ(Latch(), 0x5A);
    EXPECT_FALSE(chip_.InConfigMode());
}

TEST_F(SuperIoTest, EverySequenceReappliesTheConfiguration) {
    // Bits the preamble must keep: 0x2A bits 0..1, 0x30 bits 1..7.
    const struct {
        uint8_t reg2A, written2A, reg30, written30;
    } cases[] = {{0x01, 0xFD, 0x00, 0x01}, {0x02, 0xFE, 0x01, 0x01}, {0x00, 0xFC, 0x80, 0x81}, {0xFF, 0xFF, 0xFE, 0xFF}};
    Start();
    for (const auto& c : cases) {
        chip_.SetRegister(0, 0x2A, c.reg2A);
        chip_.SetRegister(7, 0x30, c.reg30);
        bus_.ClearTrace();
        (void)ReadGpioRegister(&extension_, 0xF1);
        EXPECT_EQ(Recorded(), Expect(0x2E).ReadRegister(0xF1, 0x00, c.reg2A, c.reg30).Operations());
        EXPECT_EQ(chip_.Register(0, 0x2A), c.written2A);
        EXPECT_EQ(chip_.Register(7, 0x30), c.written30);
    }
}

TEST_F(SuperIoTest, DirectionAndInversionWritesLastOnlyUntilTheNextSequence) {
    Start();
    WriteGpioRegister(&extension_, 0xF0, 0x08);
    EXPECT_EQ(chip_.Register(7, 0xF0), 0x08);
    EXPECT_EQ(ReadGpioRegister(&extension_, 0xF0), 0x00);

    WriteGpioRegister(&extension_, 0xF2, 0x12);
    EXPECT_EQ(chip_.Register(7, 0xF2), 0xFF);
}

}  // namespace
