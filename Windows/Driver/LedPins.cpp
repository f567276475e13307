// LED pin operations: one LED number is one bit of GPIO port 1, changed by read-modify-write of the whole register.
#include "OrvLED.h"

// Read under the device's spin lock, so it lives in resident data.
const LED_PIN g_LedPinTable[LED_PIN_COUNT] = {
    {LED_WIDE("GPIO10"), 0, 0x01}, {LED_WIDE("GPIO11"), 1, 0x02}, {LED_WIDE("GPIO12"), 2, 0x04},
    {LED_WIDE("GPIO13"), 3, 0x08}, {LED_WIDE("GPIO14"), 4, 0x10}, {LED_WIDE("GPIO15"), 5, 0x20},
    {LED_WIDE("GPIO16"), 6, 0x40}, {LED_WIDE("GPIO17"), 7, 0x80},
};

namespace {

BOOLEAN IsServedLed(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber) {
    return LedNumber < LED_PIN_COUNT && LedNumber < DeviceExtension->m_LEDCount;
}

UCHAR ReadPinBit(PDEVICE_EXTENSION DeviceExtension, UCHAR Register, UCHAR LedNumber) {
    UCHAR value = ReadGpioRegister(DeviceExtension, Register);
    return (value & g_LedPinTable[LedNumber].Mask) != 0 ? 1 : 0;
}

VOID WritePinBit(PDEVICE_EXTENSION DeviceExtension, UCHAR Register, UCHAR LedNumber, UCHAR Bit) {
    UCHAR value = ReadGpioRegister(DeviceExtension, Register);
    if (Bit != 0) {
        value = (UCHAR)(value | g_LedPinTable[LedNumber].Mask);
    } else {
        value = (UCHAR)(value & ~g_LedPinTable[LedNumber].Mask);
    }
    WriteGpioRegister(DeviceExtension, Register, value);
}

}  // namespace

NTSTATUS GetLedDirection(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber, PUCHAR Direction) {
    if (DeviceExtension == NULL || !IsServedLed(DeviceExtension, LedNumber) || Direction == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    *Direction = ReadPinBit(DeviceExtension, LED_GPIO1_DIRECTION_REGISTER, LedNumber);
    return STATUS_SUCCESS;
}

// An LED it does not serve is answered with success and an untouched output: the caller presets it to 0.
NTSTATUS GetLedStatus(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber, PUCHAR Status) {
    if (DeviceExtension == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!IsServedLed(DeviceExtension, LedNumber) || Status == NULL) {
        return STATUS_SUCCESS;
    }
    *Status = ReadPinBit(DeviceExtension, LED_GPIO1_DATA_REGISTER, LedNumber);
    return STATUS_SUCCESS;
}

NTSTATUS SetLedDirection(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber, UCHAR Direction) {
    if (DeviceExtension == NULL || !IsServedLed(DeviceExtension, LedNumber)) {
        return STATUS_INVALID_PARAMETER;
    }
    WritePinBit(DeviceExtension, LED_GPIO1_DIRECTION_REGISTER, LedNumber, Direction);
    return STATUS_SUCCESS;
}

NTSTATUS SetLedStatus(PDEVICE_EXTENSION DeviceExtension, UCHAR LedNumber, UCHAR Status) {
    if (DeviceExtension == NULL || !IsServedLed(DeviceExtension, LedNumber)) {
        return STATUS_INVALID_PARAMETER;
    }
    (void)SetLedDirection(DeviceExtension, LedNumber, 0);
    WritePinBit(DeviceExtension, LED_GPIO1_DATA_REGISTER, LedNumber, Status);
    return STATUS_SUCCESS;
}
