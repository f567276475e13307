// DbgPrint with the kernel's format conversions (Windows widths: %lu is 32 bits, %p is 16 hex digits, %wZ a
// counted wide string), captured for tests.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "Kernel.h"
#include "NtKernel.h"
#include "Text.h"

namespace {

struct Directive {
    std::string flags;
    int width = -1;
    int precision = -1;
    bool wide64 = false;
    bool wideChar = false;  // 'w': the argument is a wide string
};

std::string Pad(std::string body, const Directive& directive) {
    if (directive.width > 0 && body.size() < static_cast<std::size_t>(directive.width)) {
        const std::size_t fill = directive.width - body.size();
        if (directive.flags.find('-') != std::string::npos) {
            body.append(fill, ' ');
        } else {
            body.insert(0, fill, ' ');
        }
    }
    return body;
}

std::string Number(const Directive& directive, char conversion, va_list& args) {
    std::string format = "%" + directive.flags;
    if (directive.width >= 0) {
        format += std::to_string(directive.width);
    }
    if (directive.precision >= 0) {
        format += "." + std::to_string(directive.precision);
    }
    char text[64];
    const bool isSigned = conversion == 'd' || conversion == 'i';
    if (directive.wide64) {
        format += "ll";
        format += conversion;
        if (isSigned) {
            std::snprintf(text, sizeof text, format.c_str(), static_cast<long long>(va_arg(args, int64_t)));
        } else {
            std::snprintf(text, sizeof text, format.c_str(), static_cast<unsigned long long>(va_arg(args, uint64_t)));
        }
    } else {
        format += conversion;
        // NOLINTNEXTLINE(bugprone-branch-clone): the branches read different va_arg types.
        if (isSigned) {
            std::snprintf(text, sizeof text, format.c_str(), va_arg(args, int32_t));
        } else {
            std::snprintf(text, sizeof text, format.c_str(), va_arg(args, uint32_t));
        }
    }
    return text;
}

std::string Format(const char* format, va_list& args) {
    std::string out;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out.push_back(*p);
            continue;
        }
        ++p;
        if (*p == '%') {
            out.push_back('%');
            continue;
        }
        Directive directive;
        while (*p == '-' || *p == '0' || *p == '+' || *p == ' ' || *p == '#') {
            directive.flags.push_back(*p++);
        }
        if (*p == '*') {
            directive.width = va_arg(args, int);
            ++p;
        } else {
            for (directive.width = *p >= '0' && *p <= '9' ? 0 : -1; *p >= '0' && *p <= '9'; ++p) {
                directive.width = directive.width * 10 + (*p - '0');
            }
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                directive.precision = va_arg(args, int);
                ++p;
            } else {
                for (directive.precision = 0; *p >= '0' && *p <= '9'; ++p) {
                    directive.precision = directive.precision * 10 + (*p - '0');
                }
            }
        }
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            directive.wide64 = true;
            p += 3;
        } else if (p[0] == 'l' && p[1] == 'l') {
            directive.wide64 = true;
            p += 2;
        } else if (*p == 'l' || *p == 'h') {
            ++p;  // long is 32 bits on Windows; short arguments arrive promoted
        } else if (*p == 'w') {
            directive.wideChar = true;
            ++p;
        }
        switch (*p) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            out += Number(directive, *p, args);
            break;
        case 'c':
            out += Pad(std::string(1, static_cast<char>(va_arg(args, int))), directive);
            break;
        case 'p': {
            char text[32];
            std::snprintf(text, sizeof text, "%016llX",
                          static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(args, void*))));
            out += Pad(text, directive);
            break;
        }
        case 's':
        case 'S': {
            std::string text;
            if (directive.wideChar || *p == 'S') {
                const auto* wide = va_arg(args, const WCHAR*);
                text = wide == nullptr ? "(null)" : host::ToUtf8(host::View(wide));
            } else {
                const char* narrow = va_arg(args, const char*);
                text = narrow == nullptr ? "(null)" : narrow;
            }
            if (directive.precision >= 0 && text.size() > static_cast<std::size_t>(directive.precision)) {
                text.resize(directive.precision);
            }
            out += Pad(text, directive);
            break;
        }
        case 'Z': {
            const auto* counted = va_arg(args, const UNICODE_STRING*);
            out += Pad(counted == nullptr ? "(null)" : host::ToUtf8(host::View(*counted)), directive);
            break;
        }
        case '\0':
            return out;
        default:
            out.push_back(*p);  // unknown conversions print as themselves
            break;
        }
    }
    return out;
}

}  // namespace

extern "C" ULONG DbgPrint(PCSTR Format_, ...) {
    va_list args;
    va_start(args, Format_);
    std::string text = Format(Format_, args);
    va_end(args);
    host::Kernel::Current().Debug().Append(std::move(text));
    return STATUS_SUCCESS;
}
