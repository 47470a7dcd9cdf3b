#include "strands.h"

#include <utility>

namespace {

StrandPairs processStrands;

}  // namespace

constinit thread_local StrandPairs* strandsInUse = &processStrands;

void setStrandPairs(std::vector<int32_t> sequenceLengths) {
    StrandPairs& strands = strandState();
    strands.lengths = std::move(sequenceLengths);
    strands.strandPairs = !strands.lengths.empty();
}

int32_t strandSequenceLength(int32_t s) {
    return strandState().lengths[static_cast<size_t>(s)];
}

char complementBase(char c) {
    switch (c) {
        case 'A':
            return 'T';
        case 'T':
            return 'A';
        case 'C':
            return 'G';
        case 'G':
            return 'C';
        case 'R':
            return 'Y';
        case 'Y':
            return 'R';
        case 'K':
            return 'M';
        case 'M':
            return 'K';
        case 'S':
            return 'S';
        case 'W':
            return 'W';
        case 'B':
            return 'V';
        case 'V':
            return 'B';
        case 'D':
            return 'H';
        case 'H':
            return 'D';
        case 'N':
            return 'N';
        default:
            return 0;
    }
}

std::string reverseComplement(const std::string& s) {
    std::string rc(s.size(), '\0');
    for (size_t i = 0; i < s.size(); ++i) rc[s.size() - 1 - i] = complementBase(s[i]);
    return rc;
}
