// The stand-in NT kernel as tests and tools hold it: one object owns all kernel state while it lives.
#pragma once

#include <atomic>
#include <cstdint>

#include "DebugLog.h"
#include "FaultInjector.h"
#include "IoManager.h"
#include "Pool.h"
#include "Registry.h"
#include "Verifier.h"

namespace board {
class PortBus;
}

namespace host {

class Kernel {
public:
    Kernel();  // becomes the current kernel; only one exists at a time
    ~Kernel();
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    // Inline: every IN and OUT the driver makes goes through here.
    static Kernel& Current() {
        Kernel* kernel = current_.load(std::memory_order_acquire);
        if (kernel == nullptr) {
            NoKernel();
        }
        return *kernel;
    }
    static bool Exists() { return current_.load(std::memory_order_acquire) != nullptr; }

    Verifier& Rules() { return verifier_; }
    FaultInjector& Faults() { return faults_; }
    Registry& Reg() { return registry_; }
    DebugLog& Debug() { return debug_; }
    Pool& Memory() { return pool_; }
    IoManager& Io() { return io_; }

    // The x86 I/O port space the processor's IN and OUT reach; unattached, every port reads 0xFF.
    void AttachPorts(board::PortBus* bus) { ports_.store(bus, std::memory_order_release); }
    board::PortBus* Ports() const { return ports_.load(std::memory_order_acquire); }

    uint64_t Waits() const { return waits_.load(std::memory_order_relaxed); }
    void CountWait() { waits_.fetch_add(1, std::memory_order_relaxed); }
    uint64_t PowerIrpsStarted() const { return powerIrpsStarted_.load(std::memory_order_relaxed); }
    void CountPowerIrpStarted() { powerIrpsStarted_.fetch_add(1, std::memory_order_relaxed); }

private:
    [[noreturn]] static void NoKernel();

    inline static std::atomic<Kernel*> current_{nullptr};
    Verifier verifier_;
    FaultInjector faults_;
    Registry registry_;
    DebugLog debug_;
    Pool pool_;
    IoManager io_;
    std::atomic<board::PortBus*> ports_{nullptr};
    std::atomic<uint64_t> waits_{0};
    std::atomic<uint64_t> powerIrpsStarted_{0};
};

// Spin locks the calling thread holds now.
int SpinLocksHeld();

// Shorthand for the stand-in's own routines.
inline void Violate(const char* rule, std::string detail) { Kernel::Current().Rules().Report(rule, std::move(detail)); }

// The IRQL rules of the routines: a call from too high an IRQL is reported as IRQL_NOT_LESS_OR_EQUAL.
void RequirePassive(const char* routine);
void RequireAtMostDispatch(const char* routine);

}  // namespace host
