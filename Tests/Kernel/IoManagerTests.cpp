// The stand-in I/O manager: requests travel a real device stack, complete up it as on Windows, and the verifier
// catches the request-handling mistakes Windows punishes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "IoManager.h"
#include "Kernel.h"
#include "KernelTestSupport.h"
#include "NtKernel.h"
#include "Poison.h"

namespace {

using testsupport::ExpectViolation;
using Dispatch = std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)>;

// Two drivers, one device each, the upper attached on the lower; each test scripts their dispatch routines.
class IoStackTest : public testing::Test {
protected:
    IoStackTest() {
        current_ = this;
        lowerDriver_ = kernel_.Io().CreateDriverObject(u"\\Driver\\Lower");
        upperDriver_ = kernel_.Io().CreateDriverObject(u"\\Driver\\Upper");
        for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
            lowerDriver_->MajorFunction[major] = [](PDEVICE_OBJECT d, PIRP i) { return current_->lower_(d, i); };
            upperDriver_->MajorFunction[major] = [](PDEVICE_OBJECT d, PIRP i) { return current_->upper_(d, i); };
        }
        UNICODE_STRING lowerName, upperName;
        RtlInitUnicodeString(&lowerName, u"\\Device\\Lower");
        RtlInitUnicodeString(&upperName, u"\\Device\\Upper");
        EXPECT_EQ(IoCreateDevice(lowerDriver_, 0, &lowerName, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower_device_), 0);
        EXPECT_EQ(IoCreateDevice(upperDriver_, 16, &upperName, FILE_DEVICE_UNKNOWN, 0, FALSE, &upper_device_), 0);
        EXPECT_EQ(IoAttachDeviceToDeviceStack(upper_device_, lower_device_), lower_device_);
        lower_device_->Flags &= ~DO_DEVICE_INITIALIZING;
        upper_device_->Flags &= ~DO_DEVICE_INITIALIZING;
        lower_ = CompleteWith(STATUS_SUCCESS, 0);
        upper_ = PassDown();
    }

    ~IoStackTest() override {
        IoDetachDevice(lower_device_);
        IoDeleteDevice(upper_device_);
        IoDeleteDevice(lower_device_);
        current_ = nullptr;
    }

    static Dispatch CompleteWith(NTSTATUS status, ULONG_PTR information) {
        return [status, information](PDEVICE_OBJECT, PIRP irp) {
            irp->IoStatus.Status = status;
            irp->IoStatus.Information = information;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return status;
        };
    }

    Dispatch PassDown() {
        return [this](PDEVICE_OBJECT, PIRP irp) {
            IoSkipCurrentIrpStackLocation(irp);
            return IoCallDriver(lower_device_, irp);
        };
    }

    host::IoResult SendToUpper(UCHAR major = IRP_MJ_INTERNAL_DEVICE_CONTROL) {
        host::IrpSetup setup;
        setup.location.MajorFunction = major;
        return kernel_.Io().Send(lower_device_, setup);  // to the top of the lower device's stack
    }

    static inline IoStackTest* current_ = nullptr;
    host::Kernel kernel_;
    PDRIVER_OBJECT lowerDriver_ = nullptr;
    PDRIVER_OBJECT upperDriver_ = nullptr;
    PDEVICE_OBJECT lower_device_ = nullptr;
    PDEVICE_OBJECT upper_device_ = nullptr;
    Dispatch lower_;
    Dispatch upper_;
};

TEST_F(IoStackTest, RequestsGoToTheTopOfTheStackAndCarryOneLocationPerDriver) {
    std::vector<std::string> seen;
    upper_ = [&](PDEVICE_OBJECT device, PIRP irp) {
        seen.push_back(device == upper_device_ ? "upper" : "?");
        EXPECT_EQ(irp->StackCount, 2);
        EXPECT_EQ(irp->CurrentLocation, 2);
        EXPECT_EQ(IoGetCurrentIrpStackLocation(irp)->DeviceObject, upper_device_);
        IoCopyCurrentIrpStackLocationToNext(irp);
        return IoCallDriver(lower_device_, irp);
    };
    lower_ = [&](PDEVICE_OBJECT device, PIRP irp) {
        seen.push_back(device == lower_device_ ? "lower" : "?");
        EXPECT_EQ(irp->CurrentLocation, 1);
        EXPECT_EQ(IoGetCurrentIrpStackLocation(irp)->MajorFunction, IRP_MJ_INTERNAL_DEVICE_CONTROL);
        return CompleteWith(STATUS_SUCCESS, 7)(device, irp);
    };
    const host::IoResult result = SendToUpper();
    EXPECT_EQ(seen, (std::vector<std::string>{"upper", "lower"}));
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 7u);
    EXPECT_EQ(upper_device_->StackSize, 2);
}

NTSTATUS SignalAndStop(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    auto* log = static_cast<std::vector<std::string>*>(context);
    log->push_back(std::string("routine sees ") + (device != nullptr ? "the upper device" : "no device") +
                   " with status " + std::to_string(irp->IoStatus.Status));
    return STATUS_MORE_PROCESSING_REQUIRED;
}

TEST_F(IoStackTest, CompletionRoutinesRunUpTheStackAndCanTakeTheRequestBack) {
    std::vector<std::string> log;
    upper_ = [&](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, SignalAndStop, &log, TRUE, TRUE, TRUE);
        const NTSTATUS lower = IoCallDriver(lower_device_, irp);
        log.push_back("lower returned " + std::to_string(lower));
        // The request is this driver's again: change its outcome and complete it for good.
        EXPECT_TRUE(kernel_.Io().IsLive(irp));
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 3;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    };
    lower_ = CompleteWith(STATUS_UNSUCCESSFUL, 0);
    const host::IoResult result = SendToUpper();
    const std::string failed = std::to_string(STATUS_UNSUCCESSFUL);
    EXPECT_EQ(log, (std::vector<std::string>{"routine sees the upper device with status " + failed,
                                             "lower returned " + failed}));
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 3u);
}

TEST_F(IoStackTest, ARequestCompletedLaterFromAnotherThreadReachesItsSender) {
    std::thread completer;
    lower_ = [&](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        completer = std::thread([irp] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            irp->IoStatus.Status = STATUS_NO_SUCH_DEVICE;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        });
        return STATUS_PENDING;
    };
    const host::IoResult result = SendToUpper();
    completer.join();
    EXPECT_EQ(result.returned, STATUS_PENDING);
    EXPECT_EQ(result.status, STATUS_NO_SUCH_DEVICE);
}

TEST_F(IoStackTest, BufferedDeviceControlCopiesBackOnlyWhatIsOwedAndOnlyWithoutError) {
    const struct {
        NTSTATUS status;
        ULONG_PTR information;
        std::vector<uint8_t> output;
    } rows[] = {
        {STATUS_SUCCESS, 2, {0xA0, 0xA1, 0xEE}},
        {STATUS_BUFFER_ALL_ZEROS, 3, {0xA0, 0xA1, 0xA2}},
        {STATUS_BUFFER_TOO_SMALL, 3, {0xEE, 0xEE, 0xEE}},
    };
    for (const auto& row : rows) {
        lower_ = [&](PDEVICE_OBJECT device, PIRP irp) {
            if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
                return CompleteWith(STATUS_SUCCESS, 0)(device, irp);  // open and close
            }
            auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
            EXPECT_EQ(buffer[0], 1);  // the input came in through the same buffer
            // NOLINTNEXTLINE(bugprone-not-null-terminated-result): five bytes of data, not a string.
            std::memcpy(buffer, "\xA0\xA1\xA2\xA3\xA4", 5);
            irp->IoStatus.Status = row.status;
            irp->IoStatus.Information = row.information;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return row.status;
        };
        NTSTATUS status;
        const auto handle = kernel_.Io().Open(u"\\Device\\Upper", &status);
        ASSERT_TRUE(handle);
        const uint8_t input[5] = {1, 2, 3, 4, 5};
        std::vector<uint8_t> output(3, 0xEE);
        const host::IoResult result = kernel_.Io().DeviceControl(*handle, 0x222000, input, 5, output.data(), 3);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(output, row.output);
        kernel_.Io().Close(*handle);
    }
}

// Short buffers live in the request itself, long ones apart: both carry the input in and the output back.
TEST_F(IoStackTest, SystemBuffersOfAnyLengthCarryTheInputInAndTheOutputBack) {
    for (const ULONG length : {1u, 63u, 64u, 65u, 4096u, 65536u}) {
        SCOPED_TRACE(length);
        lower_ = [length](PDEVICE_OBJECT device, PIRP irp) {
            if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
                return CompleteWith(STATUS_SUCCESS, 0)(device, irp);
            }
            auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
            for (ULONG i = 0; i < length; ++i) {
                EXPECT_EQ(buffer[i], static_cast<uint8_t>(i * 7)) << "input byte " << i;
                buffer[i] = static_cast<uint8_t>(~buffer[i]);
            }
            return CompleteWith(STATUS_SUCCESS, length)(device, irp);
        };
        NTSTATUS status;
        const auto handle = kernel_.Io().Open(u"\\Device\\Upper", &status);
        ASSERT_TRUE(handle);
        std::vector<uint8_t> input(length), output(length, 0);
        for (ULONG i = 0; i < length; ++i) {
            input[i] = static_cast<uint8_t>(i * 7);
        }
        const host::IoResult result =
            kernel_.Io().DeviceControl(*handle, 0x222000, input.data(), length, output.data(), length);
        EXPECT_EQ(result.status, STATUS_SUCCESS);
        for (ULONG i = 0; i < length; ++i) {
            ASSERT_EQ(output[i], static_cast<uint8_t>(~(i * 7))) << "output byte " << i;
        }
        kernel_.Io().Close(*handle);
    }
}

TEST_F(IoStackTest, DeepStacksCarryOneLocationPerDriver) {
    std::map<PDEVICE_OBJECT, PDEVICE_OBJECT> below{{upper_device_, lower_device_}};
    std::vector<PDEVICE_OBJECT> added;
    for (int i = 0; i < 4; ++i) {
        PDEVICE_OBJECT device = nullptr;
        ASSERT_EQ(IoCreateDevice(upperDriver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device), STATUS_SUCCESS);
        below[device] = IoAttachDeviceToDeviceStack(device, lower_device_);
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        added.push_back(device);
    }
    std::vector<int> locations;
    upper_ = [&](PDEVICE_OBJECT device, PIRP irp) {
        locations.push_back(irp->CurrentLocation);
        IoCopyCurrentIrpStackLocationToNext(irp);
        return IoCallDriver(below[device], irp);
    };
    lower_ = [&](PDEVICE_OBJECT device, PIRP irp) {
        locations.push_back(irp->CurrentLocation);
        EXPECT_EQ(irp->StackCount, 6);
        EXPECT_EQ(IoGetCurrentIrpStackLocation(irp)->MajorFunction, IRP_MJ_INTERNAL_DEVICE_CONTROL);
        return CompleteWith(STATUS_SUCCESS, 9)(device, irp);
    };
    const host::IoResult result = SendToUpper();
    EXPECT_EQ(locations, (std::vector<int>{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 9u);
    for (auto device = added.rbegin(); device != added.rend(); ++device) {
        IoDetachDevice(below[*device]);
        IoDeleteDevice(*device);
    }
}

// Windows frees a request at its completion; a driver that still touches it, or its system buffer, corrupts
// memory. Here AddressSanitizer reports the touch.
TEST_F(IoStackTest, TouchingARequestAfterCompletingItIsReported) {
    if (!host::kAddressSanitizer) {
        GTEST_SKIP() << "shown only in builds with AddressSanitizer";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        const char* what;
        ULONG length;
        bool touchBuffer;
    } rows[] = {
        {"the request", 8, false},
        {"a short system buffer", 8, true},
        {"a long system buffer", 4096, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        lower_ = [&row](PDEVICE_OBJECT device, PIRP irp) {
            if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
                return CompleteWith(STATUS_SUCCESS, 0)(device, irp);
            }
            auto* buffer = static_cast<volatile uint8_t*>(irp->AssociatedIrp.SystemBuffer);
            CompleteWith(STATUS_SUCCESS, 0)(device, irp);
            if (row.touchBuffer) {
                buffer[0] = 1;
            } else {
                static_cast<volatile ULONG_PTR&>(irp->IoStatus.Information) = 1;
            }
            return STATUS_SUCCESS;
        };
        NTSTATUS status;
        const auto handle = kernel_.Io().Open(u"\\Device\\Upper", &status);
        ASSERT_TRUE(handle);
        std::vector<uint8_t> bytes(row.length);
        EXPECT_DEATH(kernel_.Io().DeviceControl(*handle, 0x222000, bytes.data(), row.length, bytes.data(), 0),
                     "use-after-poison|heap-use-after-free");
        lower_ = CompleteWith(STATUS_SUCCESS, 0);
        kernel_.Io().Close(*handle);
    }
}

TEST_F(IoStackTest, VerifierCatchesRequestHandlingMistakes) {
    NTSTATUS status;
    const auto handle = kernel_.Io().Open(u"\\Device\\Upper", &status);
    ASSERT_TRUE(handle);
    {
        ExpectViolation expect(kernel_, "BUFFERED_INFORMATION_ABOVE_OUTPUT_LENGTH");
        lower_ = CompleteWith(STATUS_SUCCESS, 4);
        uint8_t in[4] = {}, out[2] = {};
        kernel_.Io().DeviceControl(*handle, 0x222000, in, 4, out, 2);
    }
    {
        ExpectViolation expect(kernel_, "IRP_COMPLETED_TWICE");
        lower_ = [](PDEVICE_OBJECT, PIRP irp) {
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return STATUS_SUCCESS;
        };
        SendToUpper();
    }
    {
        ExpectViolation expect(kernel_, "IRP_NOT_COMPLETED");
        std::thread late;
        lower_ = [&late](PDEVICE_OBJECT, PIRP irp) {
            late = std::thread([irp] {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                irp->IoStatus.Status = STATUS_SUCCESS;
                IoCompleteRequest(irp, IO_NO_INCREMENT);
            });
            return STATUS_SUCCESS;  // claims done while the request is still out
        };
        SendToUpper();
        late.join();
    }
    {
        ExpectViolation expect(kernel_, "IRQL_CHANGED_BY_DISPATCH");
        lower_ = [](PDEVICE_OBJECT device, PIRP irp) {
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            return CompleteWith(STATUS_SUCCESS, 0)(device, irp);
        };
        SendToUpper();
        KeLowerIrql(PASSIVE_LEVEL);
    }
    {
        ExpectViolation expect(kernel_, "CALL_TO_NULL_DEVICE");
        upper_ = [](PDEVICE_OBJECT device, PIRP irp) {
            IoSkipCurrentIrpStackLocation(irp);
            (void)IoCallDriver(nullptr, irp);
            // Nothing was sent: step back to this driver's own location and complete there.
            irp->CurrentLocation--;
            irp->Tail.Overlay.CurrentStackLocation--;
            return CompleteWith(STATUS_SUCCESS, 0)(device, irp);
        };
        SendToUpper();
    }
    upper_ = PassDown();
    lower_ = CompleteWith(STATUS_SUCCESS, 0);
    kernel_.Io().Close(*handle);
}

TEST_F(IoStackTest, RemoveLockRefusesAfterRemovalAndCatchesUnbalancedReleases) {
    IO_REMOVE_LOCK lock;
    IoInitializeRemoveLockEx(&lock, 'T', 1, 10, sizeof(IO_REMOVE_LOCK));
    int a = 0, b = 0, removal = 0;
    ASSERT_EQ(IoAcquireRemoveLockEx(&lock, &a, "", 1, sizeof lock), STATUS_SUCCESS);
    ASSERT_EQ(IoAcquireRemoveLockEx(&lock, &b, "", 1, sizeof lock), STATUS_SUCCESS);
    IoReleaseRemoveLockEx(&lock, &b, sizeof lock);
    {
        ExpectViolation expect(kernel_, "REMOVE_LOCK_RELEASED_MORE_THAN_ACQUIRED");
        IoReleaseRemoveLockEx(&lock, &b, sizeof lock);
    }
    // Removal waits for the holder of tag a, released from another thread.
    ASSERT_EQ(IoAcquireRemoveLockEx(&lock, &removal, "", 1, sizeof lock), STATUS_SUCCESS);
    std::atomic<bool> released{false};
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        released = true;
        IoReleaseRemoveLockEx(&lock, &a, sizeof lock);
    });
    IoReleaseRemoveLockAndWaitEx(&lock, &removal, sizeof lock);
    EXPECT_TRUE(released.load());
    holder.join();
    EXPECT_EQ(IoAcquireRemoveLockEx(&lock, &a, "", 1, sizeof lock), STATUS_DELETE_PENDING);
    EXPECT_EQ(kernel_.Io().RemoveLockHeld(&lock), 0u);
}

TEST_F(IoStackTest, NamesLinksAndOpens) {
    PDEVICE_OBJECT other = nullptr;
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, u"\\Device\\Upper");
    EXPECT_EQ(IoCreateDevice(upperDriver_, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &other),
              STATUS_OBJECT_NAME_COLLISION);
    RtlInitUnicodeString(&link, u"\\DosDevices\\UpperDev");
    EXPECT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_SUCCESS);
    EXPECT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(kernel_.Io().FindDevice(u"\\\\.\\upperdev"), upper_device_);

    NTSTATUS status;
    auto handle = kernel_.Io().Open(u"\\\\.\\UpperDev", &status);
    ASSERT_TRUE(handle);
    EXPECT_EQ(kernel_.Io().Close(*handle), STATUS_SUCCESS);
    EXPECT_EQ(kernel_.Io().Close(*handle), STATUS_INVALID_HANDLE);

    upper_device_->Flags |= DO_DEVICE_INITIALIZING;
    EXPECT_FALSE(kernel_.Io().Open(u"\\\\.\\UpperDev", &status));
    EXPECT_EQ(status, STATUS_NO_SUCH_DEVICE);
    upper_device_->Flags &= ~DO_DEVICE_INITIALIZING;

    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_FALSE(kernel_.Io().Open(u"\\\\.\\UpperDev", &status));
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);
}

}  // namespace
