// The result-file reader on any bytes: the models' occurrence counts are the occurrence lines read back
// from their offsets, and the final counts read from the end of a complete file are found.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "result_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fuzz::memoryFile(std::string(reinterpret_cast<const char*>(data), size));
    const StoredResult result = readStoredResult(f);
    for (const StoredModel& m : result.models) {
        size_t spacers = 0;
        for (char c : m.code) spacers += c == '-' ? 1 : 0;
        const auto lines = storedOccurrences(f, m.occurrencesAt, spacers, true);
        if (static_cast<int64_t>(lines.size()) != m.occurrences) abort();
    }
    long long models = 0;
    double seconds = 0;
    storedFinalCounts(f, &models, &seconds);
    fclose(f);
    return 0;
}
