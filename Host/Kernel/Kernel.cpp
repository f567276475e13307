// One kernel at a time: tests and tools create it, the NT routines reach it as the current one.
#include "Kernel.h"

#include <cstdio>
#include <cstdlib>

#include "NtKernel.h"

namespace host {
namespace {
std::atomic<Kernel*> g_current{nullptr};
}

Kernel::Kernel() {
    Kernel* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this)) {
        std::fputs("host kernel: a second kernel was created while one exists\n", stderr);
        std::abort();
    }
}

Kernel::~Kernel() {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        Violate("IRQL_LEFT_RAISED", "the kernel ends with its creating thread above PASSIVE_LEVEL");
        KeLowerIrql(PASSIVE_LEVEL);
    }
    g_current.store(nullptr);
}

Kernel& Kernel::Current() {
    Kernel* kernel = g_current.load(std::memory_order_acquire);
    if (kernel == nullptr) {
        std::fputs("host kernel: a kernel routine was called with no kernel\n", stderr);
        std::abort();
    }
    return *kernel;
}

bool Kernel::Exists() { return g_current.load(std::memory_order_acquire) != nullptr; }

}  // namespace host
