// UTF-16 and UTF-8 conversions for names, registry values and debug text.
#include "Text.h"

#include <cstdio>

namespace host {

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string ToUtf16(std::string_view text) {
    // Names in this system are ASCII; other bytes are carried as Latin-1.
    std::u16string out;
    for (unsigned char c : text) {
        out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

std::u16string_view View(const UNICODE_STRING& string) {
    if (string.Buffer == nullptr) {
        return {};
    }
    return {string.Buffer, static_cast<std::size_t>(string.Length / sizeof(WCHAR))};
}

std::u16string_view View(PCWSTR zeroTerminated) {
    return zeroTerminated == nullptr ? std::u16string_view{} : std::u16string_view{zeroTerminated};
}

std::u16string UpperAscii(std::u16string_view text) {
    std::u16string upper(text);
    for (auto& c : upper) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return upper;
}

std::string Hex(ULONG value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace host
