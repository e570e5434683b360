#pragma once

// ZOR_SANITIZED_BUILD is defined in builds instrumented by AddressSanitizer,
// where tests may take the same paths over smaller inputs.
#if defined(__SANITIZE_ADDRESS__)
#define ZOR_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOR_SANITIZED_BUILD 1
#endif
#endif
