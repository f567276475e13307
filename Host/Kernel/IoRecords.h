// The stand-in's own records behind device objects and requests.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "NtKernel.h"
#include "Poison.h"

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

// One request from its building to the moment its sender has read the outcome. The IRP, its stack locations and
// a small system buffer share this one block; at completion they are poisoned for AddressSanitizer and the block
// is freed as soon as the sender has read the outcome, so a driver touching the request late is reported.
struct IrpRecord {
    static constexpr std::size_t kInlineStack = 4;
    static constexpr std::size_t kInlineBuffer = 64;

    IrpRecord() = default;
    ~IrpRecord() { Unpoison(&irp, RequestBytes()); }
    IrpRecord(const IrpRecord&) = delete;
    IrpRecord& operator=(const IrpRecord&) = delete;

    // The IRP, the inline stack and the inline buffer: the bytes a driver may touch, in declaration order.
    std::size_t RequestBytes() const {
        return static_cast<std::size_t>(reinterpret_cast<const std::byte*>(inlineBuffer.data() + inlineBuffer.size()) -
                                        reinterpret_cast<const std::byte*>(&irp));
    }

    IRP irp{};
    std::array<IO_STACK_LOCATION, kInlineStack> inlineStack{};
    std::unique_ptr<IO_STACK_LOCATION[]> largeStack;  // for stacks deeper than the inline one
    alignas(std::max_align_t) std::array<std::byte, kInlineBuffer> inlineBuffer{};
    std::unique_ptr<std::byte[]> largeBuffer;  // a system buffer longer than the inline one

    // METHOD_BUFFERED device control: where Information bytes go back to.
    bool buffered = false;
    void* userOutput = nullptr;
    ULONG outputLength = 0;
    std::shared_ptr<DeviceRecord> target;  // a reference on the device while the request is out

    // Written at completion, before `done` is set; read by the sender after it sees `done`.
    NTSTATUS status = STATUS_PENDING;
    ULONG_PTR information = 0;
    std::atomic<bool> done{false};
};

}  // namespace host
