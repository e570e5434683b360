#pragma once

// Clang thread-safety attributes (-Wthread-safety). They expand to nothing on
// other compilers. Mark every field that a lock guards with GUARDED_BY, and
// every lock type with CAPABILITY.

#if defined(__clang__)
#define ZOR_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZOR_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ZOR_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ZOR_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ZOR_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ZOR_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) ZOR_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) ZOR_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) ZOR_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) ZOR_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) ZOR_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) ZOR_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) ZOR_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ZOR_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) ZOR_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) ZOR_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS ZOR_THREAD_ANNOTATION(no_thread_safety_analysis)
