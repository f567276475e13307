// Super I/O configuration access: detection of the W836x7 controller and one complete access sequence per
// register read or write of logical device 7 (GPIO port 1).
#include "OrvLED.h"

// One pair for the whole driver; detection moves it to 0x4E/0x4F for good when 0x2E/0x2F does not answer.
LONG g_SioIndexPort = 0x2E;
LONG g_SioDataPort = 0x2F;

namespace {

const UCHAR SIO_ENTER_KEY = 0x87;
const UCHAR SIO_EXIT_KEY = 0xAA;
const UCHAR SIO_REG_LOGICAL_DEVICE = 0x07;
const UCHAR SIO_REG_CHIP_ID = 0x20;
const UCHAR SIO_REG_CHIP_REVISION = 0x21;
const UCHAR SIO_REG_MULTI_FUNCTION = 0x2A;
const UCHAR SIO_REG_ACTIVATE = 0x30;
const UCHAR SIO_REG_GPIO1_INVERSION = 0xF2;
const UCHAR SIO_LDN_GPIO1 = 0x07;
const UCHAR SIO_CHIP_ID_W836X7 = 0x52;

void IndexOut(UCHAR value) { __outbyte((USHORT)g_SioIndexPort, value); }
void DataOut(UCHAR value) { __outbyte((USHORT)g_SioDataPort, value); }
UCHAR DataIn() { return __inbyte((USHORT)g_SioDataPort); }

// Seven operations at the pair in force; gives the chip ID.
UCHAR ProbeChipId() {
    IndexOut(SIO_ENTER_KEY);
    IndexOut(SIO_ENTER_KEY);
    IndexOut(SIO_REG_CHIP_ID);
    UCHAR chipId = DataIn();
    IndexOut(SIO_REG_CHIP_REVISION);
    (void)DataIn();
    IndexOut(SIO_EXIT_KEY);
    return chipId;
}

// Enter configuration mode and re-apply the whole GPIO port 1 configuration: nothing is remembered between
// sequences, so every sequence starts from here (14 operations).
void Preamble() {
    IndexOut(SIO_ENTER_KEY);
    IndexOut(SIO_ENTER_KEY);
    IndexOut(SIO_REG_LOGICAL_DEVICE);
    DataOut(SIO_LDN_GPIO1);
    IndexOut(SIO_REG_MULTI_FUNCTION);
    UCHAR multiFunction = DataIn();
    IndexOut(SIO_REG_MULTI_FUNCTION);
    DataOut((UCHAR)(multiFunction | 0xFC));
    IndexOut(SIO_REG_ACTIVATE);
    UCHAR activate = DataIn();
    IndexOut(SIO_REG_ACTIVATE);
    DataOut((UCHAR)(activate | 0x01));
    IndexOut(LED_GPIO1_DIRECTION_REGISTER);
    DataOut(0x00);
}

void Postamble() {
    IndexOut(SIO_REG_GPIO1_INVERSION);
    DataOut(0xFF);
    IndexOut(SIO_EXIT_KEY);
}

}  // namespace

// Runs at PASSIVE_LEVEL only: it writes the registry. Its port sequences hold the device's spin lock so that
// they never interleave with a device-control request's; the registry write stays outside the lock.
BOOLEAN InitSuperIoChip(PDEVICE_EXTENSION DeviceExtension) {
    KIRQL oldIrql = KeAcquireSpinLockRaiseToDpc(&DeviceExtension->m_SpinLock);
    UCHAR chipId = ProbeChipId();
    if (chipId != SIO_CHIP_ID_W836X7) {
        g_SioIndexPort = 0x4E;
        g_SioDataPort = 0x4F;
        chipId = ProbeChipId();
    }
    KeReleaseSpinLock(&DeviceExtension->m_SpinLock, oldIrql);
    if (chipId != SIO_CHIP_ID_W836X7) {
        return FALSE;
    }

    DeviceExtension->m_ChipsetType = 1;
    (void)RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, DeviceExtension->m_RegistryPath.Buffer,
                                LED_WIDE("ChipsetType"), REG_DWORD, &DeviceExtension->m_ChipsetType,
                                sizeof(ULONG));

    oldIrql = KeAcquireSpinLockRaiseToDpc(&DeviceExtension->m_SpinLock);
    Preamble();
    Postamble();
    KeReleaseSpinLock(&DeviceExtension->m_SpinLock, oldIrql);
    return TRUE;
}

// The accessors take no lock: their callers keep sequences from overlapping.
UCHAR ReadGpioRegister(PDEVICE_EXTENSION DeviceExtension, UCHAR Register) {
    UNREFERENCED_PARAMETER(DeviceExtension);
    Preamble();
    IndexOut(Register);
    UCHAR value = DataIn();
    Postamble();
    return value;
}

VOID WriteGpioRegister(PDEVICE_EXTENSION DeviceExtension, UCHAR Register, UCHAR Value) {
    UNREFERENCED_PARAMETER(DeviceExtension);
    Preamble();
    IndexOut(Register);
    DataOut(Value);
    Postamble();
}

UCHAR ReadGpioRegisterExclusive(PDEVICE_EXTENSION DeviceExtension, UCHAR Register) {
    KIRQL oldIrql = KeAcquireSpinLockRaiseToDpc(&DeviceExtension->m_SpinLock);
    UCHAR value = ReadGpioRegister(DeviceExtension, Register);
    KeReleaseSpinLock(&DeviceExtension->m_SpinLock, oldIrql);
    return value;
}

VOID WriteGpioRegisterExclusive(PDEVICE_EXTENSION DeviceExtension, UCHAR Register, UCHAR Value) {
    KIRQL oldIrql = KeAcquireSpinLockRaiseToDpc(&DeviceExtension->m_SpinLock);
    WriteGpioRegister(DeviceExtension, Register, Value);
    KeReleaseSpinLock(&DeviceExtension->m_SpinLock, oldIrql);
}
