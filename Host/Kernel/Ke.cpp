// Ke routines: per-thread IRQL, spin locks that really exclude and move the IRQL, events.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "Kernel.h"
#include "NtKernel.h"

using host::Violate;

namespace {

thread_local KIRQL t_irql = PASSIVE_LEVEL;
thread_local int t_spinLocksHeld = 0;

ULONG_PTR ThreadToken() {
    static thread_local char marker;
    return reinterpret_cast<ULONG_PTR>(&marker);
}

std::string Irql(KIRQL irql) { return "IRQL " + std::to_string(irql); }

}  // namespace

namespace host {
int SpinLocksHeld() { return t_spinLocksHeld; }
}  // namespace host

extern "C" {

KIRQL KeGetCurrentIrql(void) { return t_irql; }

VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql) {
    if (NewIrql < t_irql) {
        Violate("IRQL_NOT_GREATER_OR_EQUAL", "KeRaiseIrql to " + Irql(NewIrql) + " from " + Irql(t_irql));
    }
    *OldIrql = t_irql;
    t_irql = NewIrql;
}

VOID KeLowerIrql(KIRQL NewIrql) {
    if (NewIrql > t_irql) {
        Violate("IRQL_NOT_LESS_OR_EQUAL", "KeLowerIrql to " + Irql(NewIrql) + " from " + Irql(t_irql));
    }
    t_irql = NewIrql;
}

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) { std::atomic_ref<ULONG_PTR>(*SpinLock).store(0); }

KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock) {
    const KIRQL old = t_irql;
    if (old > DISPATCH_LEVEL) {
        Violate("IRQL_NOT_LESS_OR_EQUAL", "spin lock acquired at " + Irql(old));
    }
    std::atomic_ref<ULONG_PTR> word(*SpinLock);
    if (word.load(std::memory_order_relaxed) == ThreadToken()) {
        Violate("SPIN_LOCK_ALREADY_OWNED", "a thread acquired a spin lock it holds (deadlock)");
        return old;
    }
    t_irql = DISPATCH_LEVEL;
    ULONG_PTR expected = 0;
    while (!word.compare_exchange_weak(expected, ThreadToken(), std::memory_order_acquire)) {
        expected = 0;
        std::this_thread::yield();
    }
    ++t_spinLocksHeld;
    return old;
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
    std::atomic_ref<ULONG_PTR> word(*SpinLock);
    if (word.load(std::memory_order_relaxed) != ThreadToken()) {
        Violate("SPIN_LOCK_NOT_OWNED", "KeReleaseSpinLock of a lock this thread does not hold");
        return;
    }
    if (t_irql != DISPATCH_LEVEL) {
        Violate("IRQL_NOT_DISPATCH_LEVEL", "KeReleaseSpinLock at " + Irql(t_irql));
    }
    if (NewIrql > DISPATCH_LEVEL) {
        Violate("IRQL_NOT_LESS_OR_EQUAL", "KeReleaseSpinLock to " + Irql(NewIrql));
    }
    word.store(0, std::memory_order_release);
    --t_spinLocksHeld;
    t_irql = NewIrql;
}

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    Event->Type = static_cast<UCHAR>(Type);
    std::atomic_ref<LONG>(Event->SignalState).store(State ? 1 : 0);
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
    UNREFERENCED_PARAMETER(Increment);
    UNREFERENCED_PARAMETER(Wait);
    if (t_irql > DISPATCH_LEVEL) {
        Violate("IRQL_NOT_LESS_OR_EQUAL", "KeSetEvent at " + Irql(t_irql));
    }
    std::atomic_ref<LONG> state(Event->SignalState);
    const LONG previous = state.exchange(1, std::memory_order_acq_rel);
    state.notify_all();
    return previous;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                               PLARGE_INTEGER Timeout) {
    UNREFERENCED_PARAMETER(WaitReason);
    UNREFERENCED_PARAMETER(WaitMode);
    UNREFERENCED_PARAMETER(Alertable);
    const bool mayBlock = Timeout == nullptr || Timeout->QuadPart != 0;
    if (mayBlock && t_irql > APC_LEVEL) {
        Violate("IRQL_NOT_LESS_OR_EQUAL", "KeWaitForSingleObject may block at " + Irql(t_irql));
    }
    host::Kernel::Current().CountWait();
    auto* event = static_cast<PRKEVENT>(Object);
    std::atomic_ref<LONG> state(event->SignalState);
    const auto take = [&] {
        if (event->Type == SynchronizationEvent) {
            LONG signalled = 1;
            return state.compare_exchange_strong(signalled, 0, std::memory_order_acq_rel);
        }
        return state.load(std::memory_order_acquire) != 0;
    };
    if (Timeout == nullptr) {
        while (!take()) {
            state.wait(0, std::memory_order_acquire);
        }
        return STATUS_WAIT_0;
    }
    // Relative time-outs only, in units of 100 ns (negative), as drivers pass them.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::nanoseconds(-Timeout->QuadPart * 100);
    while (!take()) {
        if (std::chrono::steady_clock::now() >= limit) {
            return STATUS_TIMEOUT;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return STATUS_WAIT_0;
}

VOID HostCheckPagedCode(PCSTR Routine) {
    if (t_irql > APC_LEVEL) {
        Violate("PAGED_CODE_ABOVE_APC_LEVEL", std::string(Routine) + " runs at " + Irql(t_irql));
    }
}

}  // extern "C"
