#pragma once

// Which sanitizer this test program was built with. Sanitizers add threads and
// keep memory that a plain build gives back, so checks of the helper's threads
// and memory allow for them.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool addressSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool addressSanitizerBuild = true;
#else
inline constexpr bool addressSanitizerBuild = false;
#endif
#else
inline constexpr bool addressSanitizerBuild = false;
#endif

#if defined(__SANITIZE_THREAD__)
inline constexpr bool threadSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool threadSanitizerBuild = true;
#else
inline constexpr bool threadSanitizerBuild = false;
#endif
#else
inline constexpr bool threadSanitizerBuild = false;
#endif
