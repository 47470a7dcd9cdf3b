#pragma once
// Forced into every source of the fuzz build: the process-ending paths of the programs (refusals,
// fatalError) throw FuzzExit while a fuzz input runs, so that one input's refusal does not end the fuzzer.
#include <cstdlib>

#ifdef __cplusplus
struct FuzzExit {
    int status;
};
inline bool fuzzCatchExits = false;
[[noreturn]] inline void motbox_fuzz_exit(int status) {
    if (fuzzCatchExits) throw FuzzExit{status};
    std::exit(status);
}
#define exit(status) motbox_fuzz_exit(status)
#endif

// clang 14 refuses a function made multiversioned after its first use (the popcount of the colour sets):
// the fuzz build keeps the default version only.
#define target_clones(...) unused
