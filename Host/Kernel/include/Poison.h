// Marks memory the stand-in has taken back as unusable, so AddressSanitizer reports a driver that still touches it.
// Without AddressSanitizer these do nothing.
#pragma once

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOST_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HOST_ADDRESS_SANITIZER 1
#endif

#if defined(HOST_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

namespace host {

inline void Poison(const void* start, std::size_t size) {
#if defined(HOST_ADDRESS_SANITIZER)
    ASAN_POISON_MEMORY_REGION(start, size);
#else
    (void)start;
    (void)size;
#endif
}

inline void Unpoison(const void* start, std::size_t size) {
#if defined(HOST_ADDRESS_SANITIZER)
    ASAN_UNPOISON_MEMORY_REGION(start, size);
#else
    (void)start;
    (void)size;
#endif
}

constexpr bool kAddressSanitizer =
#if defined(HOST_ADDRESS_SANITIZER)
    true;
#else
    false;
#endif

}  // namespace host
