#pragma once

// Which sanitizer this test program was built with. Sanitizers add threads and
// keep memory that a plain build gives back, so checks of the helper's threads
// and memory allow for them. (g++ names them by macro, clang by feature.)
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SORVANE_ADDRESS_SANITIZER 1
#endif
#if __has_feature(thread_sanitizer)
#define SORVANE_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(SORVANE_ADDRESS_SANITIZER)
inline constexpr bool addressSanitizerBuild = true;
#else
inline constexpr bool addressSanitizerBuild = false;
#endif
#if defined(__SANITIZE_THREAD__) || defined(SORVANE_THREAD_SANITIZER)
inline constexpr bool threadSanitizerBuild = true;
#else
inline constexpr bool threadSanitizerBuild = false;
#endif
