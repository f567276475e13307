// The Plug and Play and power managers: they load a driver, add its device on a bus, and send it the
// requests Windows would, at the IRQL Windows would.
#pragma once

#include <string>
#include <string_view>

#include "IoManager.h"
#include "NtKernel.h"
#include "RootBus.h"

namespace host {

class PnpManager {
public:
    explicit PnpManager(RootBus& bus) : bus_(bus) {}

    // Creates the driver object and the service key, and calls the entry point with the key's path.
    NTSTATUS LoadDriver(DRIVER_INITIALIZE* entry, std::u16string_view serviceName, std::u16string_view registryPath);
    // Calls the driver's DriverUnload, then checks that it left no device object and no pool behind.
    void UnloadDriver();
    bool Loaded() const { return driver_ != nullptr; }
    PDRIVER_OBJECT Driver() const { return driver_; }

    NTSTATUS AddDevice();
    // A Plug and Play request to the top of the bus device's stack, its status preset as Windows presets it.
    IoResult Send(UCHAR minor, NTSTATUS initialStatus = STATUS_NOT_SUPPORTED);
    // IRP_MN_REMOVE_DEVICE, then the bus device goes as Windows deletes it after a removal.
    IoResult Remove();
    // The system's start: a device that fails its start request is removed at once (the bus device stays, as a
    // device node with a problem).
    IoResult StartDevice();

private:
    RootBus& bus_;
    PDRIVER_OBJECT driver_ = nullptr;
    std::u16string registryPath_;
};

class PowerManager {
public:
    explicit PowerManager(RootBus& bus) : bus_(bus) {}

    IoResult Send(UCHAR minor, POWER_STATE_TYPE type, ULONG state, POWER_ACTION action);
    IoResult SetSystemPower(SYSTEM_POWER_STATE state, POWER_ACTION action) {
        return Send(IRP_MN_SET_POWER, SystemPowerState, state, action);
    }
    // A system's own round trips: to sleep (S3) and back, to hibernation.
    IoResult Sleep() { return SetSystemPower(PowerSystemSleeping3, PowerActionSleep); }
    IoResult WakeFromSleep() { return SetSystemPower(PowerSystemWorking, PowerActionSleep); }
    IoResult Hibernate() { return SetSystemPower(PowerSystemHibernate, PowerActionHibernate); }

private:
    RootBus& bus_;
};

}  // namespace host
