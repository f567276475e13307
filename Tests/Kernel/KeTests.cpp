// IRQL and spin locks of the stand-in kernel: they must exclude for real and catch what Windows punishes.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Kernel.h"
#include "KernelTestSupport.h"
#include "NtKernel.h"

namespace {

using testsupport::ExpectViolation;

class KeTest : public testing::Test {
protected:
    host::Kernel kernel_;
};

TEST_F(KeTest, SpinLockRaisesToDispatchAndRestoresTheCallersIrql) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    ASSERT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(KeTest, SpinLockExcludesOtherThreads) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    long counter = 0;  // plain on purpose: only the lock keeps it exact
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
                const long seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
                KeReleaseSpinLock(&lock, old);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, kThreads * kRounds);
}

TEST_F(KeTest, MisusedSpinLocksAreReported) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    {
        ExpectViolation expect(kernel_, "SPIN_LOCK_NOT_OWNED");
        KeReleaseSpinLock(&lock, PASSIVE_LEVEL);
    }
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);

    const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
    {
        ExpectViolation expect(kernel_, "SPIN_LOCK_ALREADY_OWNED");
        (void)KeAcquireSpinLockRaiseToDpc(&lock);
    }
    {
        // Released after the IRQL was dropped below DISPATCH_LEVEL behind the lock's back.
        ExpectViolation expect(kernel_, "IRQL_NOT_DISPATCH_LEVEL");
        KeLowerIrql(PASSIVE_LEVEL);
        KeReleaseSpinLock(&lock, old);
    }
    // A spin lock held by another thread is not ours to release.
    const KIRQL other = KeAcquireSpinLockRaiseToDpc(&lock);
    std::thread([&] {
        ExpectViolation expect(kernel_, "SPIN_LOCK_NOT_OWNED");
        KeReleaseSpinLock(&lock, PASSIVE_LEVEL);
    }).join();
    KeReleaseSpinLock(&lock, other);
}

TEST_F(KeTest, PassiveOnlyWorkAtDispatchIsReported) {
    kernel_.Reg().CreateKey(u"\\REGISTRY\\MACHINE\\X");
    ULONG value = 7;
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    {
        ExpectViolation expect(kernel_, "IRQL_NOT_LESS_OR_EQUAL");
        (void)RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, u"\\REGISTRY\\MACHINE\\X", u"V", REG_DWORD, &value, 4);
    }
    {
        ExpectViolation expect(kernel_, "BAD_POOL_CALLER");
        void* block = ExAllocatePoolWithTag(PagedPool, 16, 'T');
        KeLowerIrql(old);
        ExFreePoolWithTag(block, 0);
        KeRaiseIrql(DISPATCH_LEVEL, &old);
    }
    {
        ExpectViolation expect(kernel_, "PAGED_CODE_ABOVE_APC_LEVEL");
        PAGED_CODE();
    }
    {
        KEVENT event;
        KeInitializeEvent(&event, NotificationEvent, TRUE);
        ExpectViolation expect(kernel_, "IRQL_NOT_LESS_OR_EQUAL");
        (void)KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    }
    KeLowerIrql(old);
}

TEST_F(KeTest, EventsReleaseWaitersAcrossThreads) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER none{};
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &none), STATUS_TIMEOUT);
    std::thread setter([&] { KeSetEvent(&event, IO_NO_INCREMENT, FALSE); });
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_WAIT_0);
    setter.join();
    // A notification event stays signalled; a synchronisation event lets one wait through.
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &none), STATUS_WAIT_0);
    KEVENT gate;
    KeInitializeEvent(&gate, SynchronizationEvent, TRUE);
    EXPECT_EQ(KeWaitForSingleObject(&gate, Executive, KernelMode, FALSE, &none), STATUS_WAIT_0);
    EXPECT_EQ(KeWaitForSingleObject(&gate, Executive, KernelMode, FALSE, &none), STATUS_TIMEOUT);
    EXPECT_EQ(kernel_.Waits(), 5u);
}

}  // namespace
