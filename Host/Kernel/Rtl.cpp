// Rtl routines: counted strings and the registry write, with its PASSIVE_LEVEL rule.
#include <algorithm>
#include <cstring>
#include <string>

#include "Kernel.h"
#include "NtKernel.h"
#include "Text.h"

extern "C" {

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    if (SourceString == nullptr) {
        *DestinationString = UNICODE_STRING{0, 0, nullptr};
        return;
    }
    const std::size_t bytes = std::min<std::size_t>(std::u16string_view(SourceString).size() * sizeof(WCHAR), 0xFFFC);
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

VOID RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString) {
    if (SourceString == nullptr) {
        DestinationString->Length = 0;
        return;
    }
    const USHORT bytes = std::min(SourceString->Length, DestinationString->MaximumLength);
    std::memmove(DestinationString->Buffer, SourceString->Buffer, bytes);
    DestinationString->Length = bytes;
    // As Windows does: terminated when there is room for the zero.
    if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) {
        DestinationString->Buffer[bytes / sizeof(WCHAR)] = 0;
    }
}

VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
    if (UnicodeString->Buffer != nullptr) {
        ExFreePoolWithTag(UnicodeString->Buffer, 0);
    }
    *UnicodeString = UNICODE_STRING{0, 0, nullptr};
}

NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType, PVOID ValueData,
                               ULONG ValueLength) {
    host::RequirePassive("RtlWriteRegistryValue");
    auto& kernel = host::Kernel::Current();
    if (const NTSTATUS injected = kernel.Faults().Check("RtlWriteRegistryValue"); injected != 0) {
        return injected;
    }
    if (RelativeTo != RTL_REGISTRY_ABSOLUTE || Path == nullptr || ValueName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!kernel.Reg().SetValue(host::View(Path), host::View(ValueName), ValueType, ValueData, ValueLength)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    return STATUS_SUCCESS;
}

}  // extern "C"
