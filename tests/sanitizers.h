// Whether this test program was built with AddressSanitizer, for the tests
// that limit the address space: the checker reserves terabytes of shadow
// memory, so any such limit stops it at start.
#pragma once

// VELMORA_SKIP_UNDER_ASAN is for GoogleTest tests, which include gtest themselves.

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_UNDER_ASAN 1
#endif
#endif

namespace velmora::testing {

#ifdef VELMORA_UNDER_ASAN
inline constexpr bool kUnderAddressSanitizer = true;
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif

}  // namespace velmora::testing

#define VELMORA_SKIP_UNDER_ASAN()                                                                       \
  if (::velmora::testing::kUnderAddressSanitizer)                                                       \
  GTEST_SKIP() << "skipped under AddressSanitizer: it reserves terabytes of shadow memory, so no "     \
                  "address-space limit (ulimit -v, RLIMIT_AS) can be set"
