// Ex pool routines over the tracked pool, with the IRQL rules of paged and non-paged pool.
#include <string>

#include "Kernel.h"
#include "NtKernel.h"
#include "Text.h"

using host::Hex;
using host::Violate;

extern "C" {

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    const KIRQL irql = KeGetCurrentIrql();
    if (PoolType == PagedPool ? irql > APC_LEVEL : irql > DISPATCH_LEVEL) {
        Violate("BAD_POOL_CALLER", "pool type " + std::to_string(PoolType) + " allocated at IRQL " +
                                       std::to_string(irql));
    }
    auto& kernel = host::Kernel::Current();
    if (kernel.Faults().Check("ExAllocatePoolWithTag") != 0) {
        return nullptr;
    }
    return kernel.Memory().Allocate(static_cast<uint32_t>(PoolType), NumberOfBytes, Tag);
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag) {
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        Violate("BAD_POOL_CALLER", "pool freed above DISPATCH_LEVEL");
    }
    switch (host::Kernel::Current().Memory().Free(P, Tag)) {
    case host::Pool::FreeResult::Freed:
        break;
    case host::Pool::FreeResult::Unknown:
        Violate("BAD_POOL_CALLER", "free of a block that is not allocated");
        break;
    case host::Pool::FreeResult::TagMismatch:
        Violate("BAD_POOL_CALLER", "free with tag " + Hex(Tag) + " of a block with another tag");
        break;
    }
}

}  // extern "C"
