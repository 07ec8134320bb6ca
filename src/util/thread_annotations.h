// Clang thread-safety annotations; empty for other compilers.
#pragma once

#if defined(__clang__)
#define KORVELA_TSA(x) __attribute__((x))
#else
#define KORVELA_TSA(x)
#endif

#define CAPABILITY(x) KORVELA_TSA(capability(x))
#define SCOPED_CAPABILITY KORVELA_TSA(scoped_lockable)
#define GUARDED_BY(x) KORVELA_TSA(guarded_by(x))
#define PT_GUARDED_BY(x) KORVELA_TSA(pt_guarded_by(x))
#define REQUIRES(...) KORVELA_TSA(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) KORVELA_TSA(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) KORVELA_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KORVELA_TSA(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KORVELA_TSA(try_acquire_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS KORVELA_TSA(no_thread_safety_analysis)
