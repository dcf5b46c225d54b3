#pragma once

// Happens-before annotations for ThreadSanitizer. Qt's mutexes and thread
// joins use futexes in uninstrumented code, so the sanitizer cannot see
// that they order memory accesses; these calls tell it. They compile to
// nothing in every other build.

#if defined(__SANITIZE_THREAD__)
#define BEAMSTAB_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BEAMSTAB_TSAN 1
#endif
#endif

#ifdef BEAMSTAB_TSAN
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
inline void annotateAcquire(const void *address) { __tsan_acquire(const_cast<void *>(address)); }
inline void annotateRelease(const void *address) { __tsan_release(const_cast<void *>(address)); }
#else
inline void annotateAcquire(const void *) {}
inline void annotateRelease(const void *) {}
#endif
