#pragma once

// ZENT_STRESS_SANITIZED is defined when the program is built with AddressSanitizer or
// ThreadSanitizer (GCC or clang), whose allocators and slower pace change what it checks.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZENT_STRESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZENT_STRESS_SANITIZED 1
#endif
#endif
