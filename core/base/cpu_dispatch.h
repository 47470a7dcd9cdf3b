#pragma once
// Hot counts compiled twice, with and without the popcount instruction, the version for the processor
// chosen when the program loads.  ThreadSanitizer cannot run that choice (it runs before the sanitizer
// has started), so its builds keep the portable version alone.

#if defined(__SANITIZE_THREAD__)
#define MOTBOX_NO_CPU_DISPATCH 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MOTBOX_NO_CPU_DISPATCH 1
#endif
#endif

#ifdef MOTBOX_NO_CPU_DISPATCH
#define POPCOUNT_DISPATCH
#else
#define POPCOUNT_DISPATCH __attribute__((target_clones("popcnt", "default")))
#endif
