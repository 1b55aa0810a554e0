// The time bounds of the desktop tests' "at once" and "finishes" checks. The
// sanitizer builds (make sanitize, make tsan; g++ defines the macros) run the
// work many times slower and are there to check memory and races, not speed:
// their bounds are this many times wider, while the normal build keeps the
// real ones.
#pragma once

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSanitizerSlowdown = 10;
#else
constexpr int kSanitizerSlowdown = 1;
#endif
