// The scriptable bus driver under the function driver's device.
#include "RootBus.h"

#include <cstdio>

#include "Kernel.h"

namespace host {

RootBus::RootBus(std::u16string_view instancePath) {
    current_ = this;
    auto& io = Kernel::Current().Io();
    driver_ = io.CreateDriverObject(u"\\Driver\\RootBus");
    for (auto& entry : driver_->MajorFunction) {
        entry = Dispatch;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\00000001");
    io.CreateDevice(driver_, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &pdo_);
    pdo_->Flags &= ~DO_DEVICE_INITIALIZING;
    pdo_->Flags |= DO_POWER_PAGABLE;
    io.SetInstancePath(pdo_, instancePath);
}

RootBus::~RootBus() {
    {
        std::lock_guard lock(mutex_);
        completers_.clear();  // joins
    }
    DeletePdo();
    Kernel::Current().Io().DeleteDriverObject(driver_);
    current_ = nullptr;
}

void RootBus::DeletePdo() {
    if (pdo_ != nullptr) {
        Kernel::Current().Io().DeleteDevice(pdo_);
        pdo_ = nullptr;
    }
}

void RootBus::Answer(UCHAR major, UCHAR minor, BusAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_[{major, minor}] = answer;
}

void RootBus::AnswerAll(UCHAR major, BusAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_[{major, -1}] = answer;
}

void RootBus::ClearAnswers() {
    std::lock_guard lock(mutex_);
    answers_.clear();
}

std::vector<BusRequest> RootBus::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void RootBus::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

BusAnswer RootBus::AnswerFor(UCHAR major, UCHAR minor) const {
    if (auto it = answers_.find({major, minor}); it != answers_.end()) {
        return it->second;
    }
    if (auto it = answers_.find({major, -1}); it != answers_.end()) {
        return it->second;
    }
    if (major == IRP_MJ_PNP && minor != IRP_MN_START_DEVICE && minor != IRP_MN_REMOVE_DEVICE) {
        return BusAnswer{BusAnswer::Status::AsArrived, 0, false, std::nullopt};
    }
    return BusAnswer{};
}

NTSTATUS RootBus::Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    UNREFERENCED_PARAMETER(device);
    return current_->Serve(irp);
}

NTSTATUS RootBus::Serve(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    BusRequest seen;
    seen.major = stack->MajorFunction;
    seen.minor = stack->MinorFunction;
    seen.statusOnArrival = irp->IoStatus.Status;
    if (seen.major == IRP_MJ_POWER) {
        seen.powerType = stack->Parameters.Power.Type;
        seen.powerState = static_cast<ULONG>(stack->Parameters.Power.State.SystemState);
        seen.powerAction = stack->Parameters.Power.ShutdownType;
    }
    // The lower driver's answers are fail-able like any routine, one name per request kind.
    char routine[32];
    std::snprintf(routine, sizeof routine, "LowerDriver.%s.0x%02X", seen.major == IRP_MJ_POWER ? "Power" : "Pnp",
                  seen.minor);
    const NTSTATUS injected = seen.major == IRP_MJ_PNP || seen.major == IRP_MJ_POWER
                                  ? Kernel::Current().Faults().Check(routine)
                                  : STATUS_SUCCESS;
    std::unique_lock lock(mutex_);
    requests_.push_back(seen);
    const BusAnswer answer = AnswerFor(seen.major, seen.minor);
    NTSTATUS status = answer.kind == BusAnswer::Status::AsArrived ? irp->IoStatus.Status : answer.status;
    if (injected != STATUS_SUCCESS) {
        status = injected;
    }
    if (answer.information) {
        irp->IoStatus.Information = *answer.information;
    }
    if (!answer.later) {
        lock.unlock();
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    IoMarkIrpPending(irp);
    completers_.emplace_back([irp, status] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        // Completions of this kind come from a DPC on Windows.
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        KeLowerIrql(old);
    });
    return STATUS_PENDING;
}

}  // namespace host
