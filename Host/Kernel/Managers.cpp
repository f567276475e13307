// Plug and Play and power managers of the stand-in kernel.
#include "Managers.h"

#include <cstdio>

#include "Kernel.h"
#include "Text.h"

namespace host {
namespace {

// A device node that is gone gets no more requests; its sender learns so instead of reaching a deleted device.
constexpr IoResult kNoDeviceNode{STATUS_NO_SUCH_DEVICE, 0, STATUS_NO_SUCH_DEVICE};

}  // namespace

NTSTATUS PnpManager::LoadDriver(DRIVER_INITIALIZE* entry, std::u16string_view serviceName,
                                std::u16string_view registryPath) {
    auto& kernel = Kernel::Current();
    kernel.Reg().CreateKey(registryPath);
    driver_ = kernel.Io().CreateDriverObject(u"\\Driver\\" + std::u16string(serviceName));
    registryPath_ = registryPath;
    UNICODE_STRING path{static_cast<USHORT>(registryPath_.size() * sizeof(WCHAR)),
                        static_cast<USHORT>(registryPath_.size() * sizeof(WCHAR)), registryPath_.data()};
    const NTSTATUS status = entry(driver_, &path);
    if (!NT_SUCCESS(status)) {
        kernel.Io().DeleteDriverObject(driver_);
        driver_ = nullptr;
    }
    return status;
}

void PnpManager::UnloadDriver() {
    if (driver_ == nullptr) {
        return;
    }
    auto& kernel = Kernel::Current();
    if (driver_->DriverUnload != nullptr) {
        driver_->DriverUnload(driver_);
    }
    if (driver_->DeviceObject != nullptr) {
        Violate("DRIVER_UNLOADED_WITH_DEVICES", "DriverUnload returned with a device object still present");
    }
    for (const PoolBlock& block : kernel.Memory().Outstanding()) {
        char detail[96];
        std::snprintf(detail, sizeof detail, "%zu bytes of pool with tag 0x%08X not freed by unload", block.size,
                      block.tag);
        Violate("POOL_LEAKED_AT_UNLOAD", detail);
    }
    kernel.Io().DeleteDriverObject(driver_);
    driver_ = nullptr;
}

NTSTATUS PnpManager::AddDevice() {
    RequirePassive("AddDevice");
    if (bus_.Pdo() == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    return driver_->DriverExtension->AddDevice(driver_, bus_.Pdo());
}

IoResult PnpManager::Send(UCHAR minor, NTSTATUS initialStatus) {
    if (bus_.Pdo() == nullptr) {
        return kNoDeviceNode;
    }
    IrpSetup setup;
    setup.location.MajorFunction = IRP_MJ_PNP;
    setup.location.MinorFunction = minor;
    setup.initialStatus = initialStatus;
    return Kernel::Current().Io().Send(bus_.Pdo(), setup);
}

IoResult PnpManager::Remove() {
    IoResult result = Send(IRP_MN_REMOVE_DEVICE);
    // A function driver that failed the removal is still attached: its device node stays.
    if (bus_.Pdo() != nullptr && bus_.Pdo()->AttachedDevice == nullptr) {
        bus_.DeletePdo();
    }
    return result;
}

IoResult PnpManager::StartDevice() {
    IoResult result = Send(IRP_MN_START_DEVICE);
    if (!NT_SUCCESS(result.status)) {
        Send(IRP_MN_REMOVE_DEVICE);
    }
    return result;
}

IoResult PowerManager::Send(UCHAR minor, POWER_STATE_TYPE type, ULONG state, POWER_ACTION action) {
    if (bus_.Pdo() == nullptr) {
        return kNoDeviceNode;
    }
    auto& io = Kernel::Current().Io();
    IrpSetup setup;
    setup.location.MajorFunction = IRP_MJ_POWER;
    setup.location.MinorFunction = minor;
    setup.location.Parameters.Power.Type = type;
    setup.location.Parameters.Power.State.SystemState = static_cast<SYSTEM_POWER_STATE>(state);
    setup.location.Parameters.Power.ShutdownType = action;
    setup.initialStatus = STATUS_NOT_SUPPORTED;
    // A stack whose top is power-pageable gets its requests at PASSIVE_LEVEL; any other at DISPATCH_LEVEL.
    const bool pageable = (io.TopOfStack(bus_.Pdo())->Flags & DO_POWER_PAGABLE) != 0;
    KIRQL old = PASSIVE_LEVEL;
    if (!pageable) {
        KeRaiseIrql(DISPATCH_LEVEL, &old);
    }
    IoResult result = io.Send(bus_.Pdo(), setup);
    if (!pageable) {
        KeLowerIrql(old);
    }
    return result;
}

}  // namespace host
