// The stand-in's own records behind device objects and requests.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "NtKernel.h"

namespace host {

struct DeviceRecord : std::enable_shared_from_this<DeviceRecord> {
    DEVICE_OBJECT object{};
    std::unique_ptr<std::max_align_t[]> extension;
    std::u16string name;
    std::u16string instancePath;  // set on physical device objects by their bus
    PDEVICE_OBJECT attachedTo = nullptr;  // the device this one sits on, until it detaches
    std::shared_ptr<void> driver;  // the driver object's record, kept while this device object lives
};

inline DeviceRecord* RecordOf(PDEVICE_OBJECT device) {
    return reinterpret_cast<DeviceRecord*>(device->DeviceObjectExtension);
}

struct IrpRecord {
    IRP irp{};
    std::unique_ptr<IO_STACK_LOCATION[]> stack;
    std::shared_ptr<void> request;
};

}  // namespace host
