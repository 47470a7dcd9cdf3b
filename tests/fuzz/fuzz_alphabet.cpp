// The alphabet loader over fuzzed texts, then the translation of the models symbols and the name lookup.
// Input: the alphabet file, a line "@@", then one text per line.
#include "fuzz_support.h"
#include "run.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts =
        fuzz::split(std::string_view(reinterpret_cast<const char*>(data), size), "\n@@\n");
    std::vector<std::string> lines =
        parts.size() > 1 ? fuzz::split(parts[1], "\n") : std::vector<std::string>{};
    if (lines.size() > 64) return 0;
    std::vector<std::string> storage;
    for (const std::string& l : lines) storage.push_back(l + "$");
    std::vector<char*> texts;
    for (std::string& t : storage) texts.push_back(t.data());
    FILE* f = fuzz::memoryFile(parts[0]);
    // Each input in a run of its own, which releases the tables it fills.
    Run run;
    RunBinding bound(&run);
    fuzz::catchingExits([&] {
        initAlphabet();
        char* alphabet = chargeAlphabet(f, texts.data(), static_cast<int>(texts.size()));
        if (alphabet == nullptr) return;
        transAlphMod(size > 0 && (data[0] & 1));
        for (int m = 0; m < alphabetTables().nbSymbMod; m++)
            if (str2nummod(alphabetTables().nummod2str[m]) < 0) abort();  // every display name is found again
    });
    fclose(f);
    return 0;
}
