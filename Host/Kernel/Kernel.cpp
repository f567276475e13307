// One kernel at a time: tests and tools create it, the NT routines reach it as the current one.
#include "Kernel.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "NtKernel.h"

namespace host {

Kernel::Kernel() {
    Kernel* expected = nullptr;
    if (!current_.compare_exchange_strong(expected, this)) {
        std::fputs("host kernel: a second kernel was created while one exists\n", stderr);
        std::abort();
    }
}

Kernel::~Kernel() {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        Violate("IRQL_LEFT_RAISED", "the kernel ends with its creating thread above PASSIVE_LEVEL");
        KeLowerIrql(PASSIVE_LEVEL);
    }
    current_.store(nullptr);
}

void RequirePassive(const char* routine) {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        Violate("IRQL_NOT_LESS_OR_EQUAL",
                std::string(routine) + " at IRQL " + std::to_string(KeGetCurrentIrql()) + " (PASSIVE_LEVEL only)");
    }
}

void RequireAtMostDispatch(const char* routine) {
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        Violate("IRQL_NOT_LESS_OR_EQUAL", std::string(routine) + " above DISPATCH_LEVEL");
    }
}

void Kernel::NoKernel() {
    std::fputs("host kernel: a kernel routine was called with no kernel\n", stderr);
    std::abort();
}

}  // namespace host
