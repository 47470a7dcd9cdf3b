// The FASTA reader on any bytes: every entry in turn, then each one again from its offset.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "libfasta.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fuzz::memoryFile(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<long> offsets;
    std::vector<std::string> texts;
    for (;;) {
        FastaSequence* s = NewFastaSequence();
        if (ReadFastaSequence(f, s) == 0) {
            FreeFastaSequence(s);
            break;
        }
        if (!s->ok || s->length < 0 || s->seq[s->length] != '\0') abort();
        offsets.push_back(s->offset);
        texts.emplace_back(s->seq, s->length);
        FreeFastaSequence(s);
    }
    for (size_t k = 0; k < offsets.size(); k++) {
        FastaSequence* s = NewFastaSequence();
        s->offset = offsets[k];
        // An entry read again from its offset is the same text.
        if (GetFastaSequence(f, s) != 1 || std::string(s->seq, s->length) != texts[k]) abort();
        FreeFastaSequence(s);
    }
    fclose(f);
    return 0;
}
