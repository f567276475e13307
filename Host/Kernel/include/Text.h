// Conversions between the kernel's UTF-16 strings and the host's UTF-8 text.
#pragma once

#include <string>
#include <string_view>

#include "NtKernel.h"

namespace host {

std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);
std::u16string_view View(const UNICODE_STRING& string);  // the Length bytes of the string
std::u16string_view View(PCWSTR zeroTerminated);
std::u16string UpperAscii(std::u16string_view text);  // how the kernel compares names: case-insensitive
std::string Hex(ULONG value);  // "0x" and eight hex digits, as statuses and tags are shown

}  // namespace host
