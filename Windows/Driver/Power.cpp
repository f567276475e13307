// Power requests: the LED pattern is saved before sleep and hibernation and written back on the return to the
// working state after a sleep; every power request then goes down unchanged.
#include "OrvLED.h"

namespace {

const ULONG LED_RESTORE_READBACKS = 8;

VOID SaveLedPattern(PDEVICE_EXTENSION Extension, POWER_ACTION Action) {
    UCHAR value = ReadGpioRegisterExclusive(Extension, LED_GPIO1_DATA_REGISTER);
    Extension->m_LEDStatus = value;
    if (Action == PowerActionSleep) {
        DbgPrint("System Stand by: m_LEDStatus = 0x%X \n\n", (ULONG)value);
    } else {
        DbgPrint("Hibernate: m_LEDStatus = 0x%X \n\n", (ULONG)value);
    }
}

// The chip may have lost its configuration and latch while asleep: configure it again, then write the saved
// byte until it reads back, a bounded number of times.
VOID RestoreLedPattern(PDEVICE_EXTENSION Extension) {
    (void)InitSuperIoChip(Extension);
    DbgPrint("Resume from Hibernate: m_LEDStatus = 0x%X \n\n", (ULONG)Extension->m_LEDStatus);
    WriteGpioRegisterExclusive(Extension, LED_GPIO1_DATA_REGISTER, Extension->m_LEDStatus);
    ULONG count = 0;
    for (;;) {
        UCHAR value = ReadGpioRegisterExclusive(Extension, LED_GPIO1_DATA_REGISTER);
        DbgPrint("Resume from Hibernate: Value = 0x%X \n\n", (ULONG)value);
        if (value == Extension->m_LEDStatus) {
            break;
        }
        WriteGpioRegisterExclusive(Extension, LED_GPIO1_DATA_REGISTER, Extension->m_LEDStatus);
        count++;
        if (count >= LED_RESTORE_READBACKS) {
            break;
        }
    }
}

}  // namespace

NTSTATUS ForwardPowerIrp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
    PoStartNextPowerIrp(Irp);
    IoSkipCurrentIrpStackLocation(Irp);
    return PoCallDriver(extension->m_LowerDeviceObject, Irp);
}

// Entered at PASSIVE_LEVEL (the device is power-pageable), as the restore's registry write requires.
NTSTATUS DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);

    if (stack->MinorFunction == IRP_MN_SET_POWER && stack->Parameters.Power.Type == SystemPowerState) {
        POWER_ACTION action = stack->Parameters.Power.ShutdownType;
        SYSTEM_POWER_STATE state = stack->Parameters.Power.State.SystemState;
        if (action == PowerActionSleep) {
            if (state == PowerSystemSleeping1 || state == PowerSystemSleeping2 || state == PowerSystemSleeping3) {
                SaveLedPattern(extension, action);
            } else if (state == PowerSystemWorking) {
                RestoreLedPattern(extension);
            }
        } else if (action == PowerActionHibernate) {
            SaveLedPattern(extension, action);
        }
    }
    return ForwardPowerIrp(DeviceObject, Irp);
}
