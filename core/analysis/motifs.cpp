#include "motifs.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

#include "cpu_dispatch.h"
#include "strands.h"

// ---------------------------------------------------------------------------------------------------------
// Families

FamilyBuilder::FamilyBuilder(std::vector<int32_t> sequenceLengths) : lengths_(std::move(sequenceLengths)) {
    int32_t ranked = 0;
    for (int32_t& length : lengths_) {
        length = std::max<int32_t>(length, 0);
        rankOf_.push_back(length > 0 ? ranked++ : -1);
    }
    words_ = (static_cast<size_t>(ranked) + 63) / 64;
    modelSequences_.assign(words_, 0);
}

size_t FamilyBuilder::mergeSites(const std::vector<Site>& sites) {
    clipped_.clear();
    const auto sequences = static_cast<int32_t>(lengths_.size());
    for (const Site& site : sites) {
        const bool known = site.seq >= 0 && site.seq < sequences;
        const int32_t length = known ? lengths_[site.seq] : 0;
        // Empty spans are kept until the support is counted: they support the model but cover nothing.
        const int32_t start = std::clamp(site.start, 0, length);
        clipped_.push_back({site.seq, start, std::clamp(site.end, start, length)});
    }
    const auto bySequenceThenStart = [](const Interval& a, const Interval& b) {
        return a.seq != b.seq ? a.seq < b.seq : a.start < b.start;
    };
    // Sites come in file order, which is mostly this order already.
    if (!std::is_sorted(clipped_.begin(), clipped_.end(), bySequenceThenStart))
        std::sort(clipped_.begin(), clipped_.end(), bySequenceThenStart);
    size_t support = 0;
    intervals_.clear();
    modelFirstOf_.clear();
    for (uint32_t w : modelWords_) modelSequences_[w] = 0;
    modelWords_.clear();
    int32_t lastRank = -1;
    for (size_t i = 0; i < clipped_.size(); i++) {
        const Interval& next = clipped_[i];
        if (i == 0 || next.seq != clipped_[i - 1].seq) support++;
        if (next.start == next.end) continue;
        const int32_t rank =
            rankOf_[static_cast<size_t>(next.seq)];  // it has positions: the span is not empty
        if (rank != lastRank) {
            lastRank = rank;
            modelFirstOf_.push_back(static_cast<uint32_t>(intervals_.size()));
            const auto w = static_cast<uint32_t>(rank / 64);
            if (modelSequences_[w] == 0) modelWords_.push_back(w);
            modelSequences_[w] |= uint64_t{1} << (rank % 64);
            intervals_.push_back({next.start, next.end});
        } else if (next.start <= intervals_.back().end) {
            intervals_.back().end = std::max(intervals_.back().end, next.end);
        } else {
            intervals_.push_back({next.start, next.end});
        }
    }
    modelFirstOf_.push_back(static_cast<uint32_t>(intervals_.size()));
    return support;
}

namespace {

// The lanes, as bits, whose sets share at least `needed` members with `model`, over the given words of a
// block of sets stored word by word, FamilyBuilder::kLanes sets to a word; counts[lane] gets the number.
[[gnu::always_inline]] inline uint32_t lanesSharingIn(const uint64_t* block, const uint64_t* model,
                                                      const uint32_t* words, size_t wordCount,
                                                      uint64_t needed, uint64_t* counts) {
    constexpr size_t lanes = FamilyBuilder::kLanes;
    static_assert(lanes <= 32);
    uint64_t sums[lanes] = {};
    for (size_t i = 0; i < wordCount; i++) {
        const uint64_t bits = model[words[i]];
        const uint64_t* row = block + static_cast<size_t>(words[i]) * lanes;
        for (size_t lane = 0; lane < lanes; lane++)
            sums[lane] += static_cast<uint64_t>(std::popcount(row[lane] & bits));
    }
    uint32_t sharing = 0;
    for (size_t lane = 0; lane < lanes; lane++) {
        counts[lane] = sums[lane];
        sharing |= static_cast<uint32_t>(sums[lane] >= needed) << lane;
    }
    return sharing;
}

using LanesSharing = uint32_t (*)(const uint64_t*, const uint64_t*, const uint32_t*, size_t, uint64_t,
                                  uint64_t*);

POPCOUNT_DISPATCH uint32_t lanesSharingScalar(const uint64_t* block, const uint64_t* model,
                                              const uint32_t* words, size_t wordCount, uint64_t needed,
                                              uint64_t* counts) {
    return lanesSharingIn(block, model, words, wordCount, needed, counts);
}

#if defined(__x86_64__) && !defined(MOTBOX_NO_CPU_DISPATCH)
__attribute__((target("avx512f,avx512vpopcntdq"))) uint32_t lanesSharingVector(
    const uint64_t* block, const uint64_t* model, const uint32_t* words, size_t wordCount, uint64_t needed,
    uint64_t* counts) {
    return lanesSharingIn(block, model, words, wordCount, needed, counts);
}
#endif

// The vector popcount where the processor has it, chosen at the first call (not when the program loads,
// which a sanitizer's start-up may not allow).
LanesSharing lanesSharingForThisProcessor() {
#if defined(__x86_64__) && !defined(MOTBOX_NO_CPU_DISPATCH)
    if (__builtin_cpu_supports("avx512vpopcntdq")) return lanesSharingVector;
#endif
    return lanesSharingScalar;
}

// Whether two runs of disjoint intervals, each by position, share a position.
template <typename Extent>
bool anyOverlap(const Extent* a, const Extent* aEnd, const Extent* b, const Extent* bEnd) {
    while (a != aEnd && b != bEnd) {
        if (a->end <= b->start)
            ++a;
        else if (b->end <= a->start)
            ++b;
        else
            return true;
    }
    return false;
}

}  // namespace

// Whether a's i-th sequence and b's j-th share a position.
inline bool FamilyBuilder::overlapIn(const SequenceIntervals& a, size_t i, const SequenceIntervals& b,
                                     size_t j) {
    return anyOverlap(a.intervals + a.firstOf[i], a.intervals + a.firstOf[i + 1], b.intervals + b.firstOf[j],
                      b.intervals + b.firstOf[j + 1]);
}

// Walks the sequences two sets share, in order, with their ranks in each set, until the two have
// overlapped in `needed` of them (true) or can no longer (false); `common` is the number shared.
POPCOUNT_DISPATCH bool FamilyBuilder::overlapInEnough(const uint64_t* headBits, size_t headStride,
                                                      const SequenceIntervals& headSide,
                                                      const uint64_t* modelBits,
                                                      const SequenceIntervals& modelSide, size_t words,
                                                      size_t needed, size_t common) {
    size_t met = 0, left = common, headRank = 0, modelRank = 0;
    for (size_t w = 0; w < words; w++) {
        const uint64_t headWord = headBits[w * headStride], modelWord = modelBits[w];
        for (uint64_t shared = headWord & modelWord; shared != 0; shared &= shared - 1) {
            const uint64_t below = (shared & -shared) - 1;
            const size_t h = headRank + static_cast<size_t>(std::popcount(headWord & below));
            const size_t m = modelRank + static_cast<size_t>(std::popcount(modelWord & below));
            met += overlapIn(headSide, h, modelSide, m);
            if (met >= needed) return true;
            if (met + --left < needed) return false;
        }
        headRank += static_cast<size_t>(std::popcount(headWord));
        modelRank += static_cast<size_t>(std::popcount(modelWord));
    }
    return false;
}

bool FamilyBuilder::meets(uint32_t head, size_t needed, size_t common) const {
    const HeadBase& base = headBase_[head];
    const SequenceIntervals headSide = {headIntervals_.data() + base.interval,
                                        headFirstOf_.data() + base.firstOf};
    const SequenceIntervals modelSide = {intervals_.data(), modelFirstOf_.data()};
    const uint64_t* const headBits = &headSequences_[headWordIndex(head, 0)];
    return overlapInEnough(headBits, kLanes, headSide, modelSequences_.data(), modelSide, words_, needed,
                           common);
}

uint32_t FamilyBuilder::firstAttractingHead(size_t needed) {
    const size_t heads = headModel_.size();
    static const LanesSharing lanesSharing = lanesSharingForThisProcessor();
    const size_t blockWords = words_ * kLanes;
    uint64_t counts[kLanes];
    for (size_t first = 0; first < heads; first += kLanes) {
        // Lanes past the last head hold empty sets, which share nothing.
        for (uint32_t sharing =
                 lanesSharing(headSequences_.data() + first / kLanes * blockWords, modelSequences_.data(),
                              modelWords_.data(), modelWords_.size(), needed, counts);
             sharing != 0; sharing &= sharing - 1) {
            const auto lane = static_cast<size_t>(std::countr_zero(sharing));
            const auto head = static_cast<uint32_t>(first + lane);
            if (meets(head, needed, counts[lane])) return head;
        }
    }
    return kNoHead;
}

void FamilyBuilder::becomeHead(size_t model) {
    const size_t head = headModel_.size();
    headModel_.push_back(model);
    if (head % kLanes == 0) headSequences_.resize(headSequences_.size() + words_ * kLanes, 0);
    for (uint32_t w : modelWords_) headSequences_[headWordIndex(head, w)] = modelSequences_[w];
    headBase_.push_back({headIntervals_.size(), headFirstOf_.size()});
    headIntervals_.insert(headIntervals_.end(), intervals_.begin(), intervals_.end());
    headFirstOf_.insert(headFirstOf_.end(), modelFirstOf_.begin(), modelFirstOf_.end());
}

size_t FamilyBuilder::add(const std::vector<Site>& sites) {
    const size_t support = mergeSites(sites);
    // The fewest sequences, c, with c / support >= the share, exactly in integers.
    const auto needed = static_cast<size_t>(
        (static_cast<int64_t>(support) * kFamilyOverlapNumerator + kFamilyOverlapDenominator - 1) /
        kFamilyOverlapDenominator);
    const uint32_t head = support == 0 ? kNoHead : firstAttractingHead(needed);
    const size_t model = models_++;
    if (head != kNoHead) return headModel_[head];
    becomeHead(model);
    return model;
}

// ---------------------------------------------------------------------------------------------------------
// Box words and count matrices

std::vector<int> boxLengthsOf(const std::string& code) {
    std::vector<int> lengths;
    int run = 0;
    for (char c : code) {
        if (c != '-') {
            run++;
            continue;
        }
        if (run > 0) lengths.push_back(run);
        run = 0;
    }
    if (run > 0) lengths.push_back(run);
    return lengths;
}

namespace {

int64_t spanOf(const Occurrence& o, const std::vector<int>& boxLengths) {
    int64_t span = 0;
    for (int box : boxLengths) span += std::max(box, 0);
    for (int spacer : o.spacers) span += std::max(spacer, 0);
    return span;
}

}  // namespace

Site siteOf(const Occurrence& o, const std::vector<int>& boxLengths) {
    const int64_t end = std::min<int64_t>(int64_t{o.pos} + spanOf(o, boxLengths), INT32_MAX);
    return {o.seq, o.pos, static_cast<int32_t>(end), o.strand};
}

std::vector<std::string> boxWordsOf(const Occurrence& o, const std::vector<int>& boxLengths,
                                    const std::string& text) {
    // Positions off the text read as '\0', which no letter matches, so the boxes keep their places.
    const int64_t span = spanOf(o, boxLengths);
    std::string read(static_cast<size_t>(span), '\0');
    for (int64_t i = 0; i < span; i++) {
        const int64_t p = int64_t{o.pos} + i;
        if (p >= 0 && p < static_cast<int64_t>(text.size()))
            read[static_cast<size_t>(i)] = text[static_cast<size_t>(p)];
    }
    if (o.strand == '-') read = reverseComplement(read);

    std::vector<std::string> words;
    size_t offset = 0;
    for (size_t i = 0; i < boxLengths.size(); i++) {
        const auto box = static_cast<size_t>(std::max(boxLengths[i], 0));
        words.push_back(read.substr(offset, box));
        offset += box;
        if (i < o.spacers.size()) offset += static_cast<size_t>(std::max(o.spacers[i], 0));
        offset = std::min(offset, read.size());
    }
    return words;
}

MotifCounts::MotifCounts(std::string letters, std::vector<int> boxLengths)
    : letters_(std::move(letters)), letterIndex_(256, -1) {
    for (size_t i = 0; i < letters_.size(); i++)
        letterIndex_[static_cast<unsigned char>(letters_[i])] = static_cast<int>(i);
    for (int length : boxLengths) {
        CountMatrix box;
        box.counts.assign(static_cast<size_t>(std::max(length, 0)), std::vector<int>(letters_.size(), 0));
        boxes_.push_back(std::move(box));
    }
}

void MotifCounts::add(const std::vector<std::string>& boxWords) {
    for (size_t b = 0; b < boxes_.size(); b++) {
        CountMatrix& box = boxes_[b];
        box.sites++;
        if (b >= boxWords.size()) continue;
        const std::string& word = boxWords[b];
        for (size_t j = 0; j < std::min(word.size(), box.counts.size()); j++) {
            const int letter = letterIndex_[static_cast<unsigned char>(word[j])];
            if (letter >= 0) box.counts[j][static_cast<size_t>(letter)]++;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// MEME

const char* memeLettersOf(MemeAlphabet alphabet) {
    return alphabet == MemeAlphabet::Dna ? kMemeDnaLetters : kMemeProteinLetters;
}

namespace {

std::string quotedCharacter(char c) {
    char buffer[16];
    const auto u = static_cast<unsigned char>(c);
    if (u > 0x20 && u < 0x7f)
        snprintf(buffer, sizeof buffer, "'%c'", c);
    else
        snprintf(buffer, sizeof buffer, "'\\x%02X'", u);
    return buffer;
}

}  // namespace

MemeAlphabetCheck memeAlphabetFor(bool nucleotide, bool protein, const std::string& textCharacters) {
    if (!nucleotide && !protein)
        return {false, MemeAlphabet::Dna, "--meme: the texts are neither nucleotide nor protein sequences"};
    const MemeAlphabet alphabet = nucleotide ? MemeAlphabet::Dna : MemeAlphabet::Protein;
    const std::string_view letters = memeLettersOf(alphabet);
    for (char c : textCharacters) {
        if (letters.find(c) != std::string_view::npos) continue;
        return {false, alphabet,
                "--meme: text character " + quotedCharacter(c) + " cannot be declared in a MEME " +
                    (nucleotide ? "DNA" : "protein") + " alphabet (" + std::string(letters) + ")"};
    }
    return {true, alphabet, ""};
}

std::string memeEValue(double log10E) {
    if (std::isnan(log10E)) return "nan";
    if (log10E == -std::numeric_limits<double>::infinity()) return "0.0e+00";
    if (log10E == std::numeric_limits<double>::infinity()) return "inf";
    constexpr double kWidestExponent = 1e15;  // keeps the exponent an exact integer
    log10E = std::clamp(log10E, -kWidestExponent, kWidestExponent);
    auto exponent = static_cast<long long>(std::floor(log10E));
    long long tenths = std::llround(std::pow(10.0, log10E - static_cast<double>(exponent)) * 10);
    if (tenths >= 100) {  // 9.96 rounds to 10.0: one more power of ten
        tenths = 10;
        exponent++;
    }
    char buffer[48];
    snprintf(buffer, sizeof buffer, "%lld.%llde%c%02lld", tenths / 10, tenths % 10, exponent < 0 ? '-' : '+',
             exponent < 0 ? -exponent : exponent);
    return buffer;
}

std::vector<double> backgroundFrequencies(const std::vector<std::string>& texts, const std::string& letters) {
    std::vector<int> letterIndex(256, -1);
    for (size_t i = 0; i < letters.size(); i++)
        letterIndex[static_cast<unsigned char>(letters[i])] = static_cast<int>(i);
    std::vector<int64_t> counts(letters.size(), 0);
    int64_t total = 0;
    for (const std::string& text : texts)
        for (char c : text) {
            const int letter = letterIndex[static_cast<unsigned char>(c)];
            if (letter < 0) continue;
            counts[static_cast<size_t>(letter)]++;
            total++;
        }
    std::vector<double> frequencies(letters.size(), 0.0);
    if (total == 0) return frequencies;
    for (size_t i = 0; i < letters.size(); i++)
        frequencies[i] = static_cast<double>(counts[i]) / static_cast<double>(total);
    return frequencies;
}

namespace {

// MEME refuses a background that sums to 0; anything unusable is written uniform.
std::vector<double> usableBackground(const std::vector<double>& background, size_t letters) {
    double sum = 0;
    bool valid = background.size() == letters;
    for (double f : background) {
        valid = valid && std::isfinite(f) && f >= 0;
        sum += f;
    }
    if (valid && sum > 0) return background;
    return std::vector<double>(letters, 1.0 / static_cast<double>(letters));
}

void writeMatrixRow(FILE* out, const std::vector<int>& row, size_t letters) {
    int64_t total = 0;
    for (size_t j = 0; j < letters && j < row.size(); j++) total += std::max(row[j], 0);
    for (size_t j = 0; j < letters; j++) {
        const int count = j < row.size() ? std::max(row[j], 0) : 0;
        const double frequency = total == 0 ? 1.0 / static_cast<double>(letters)
                                            : static_cast<double>(count) / static_cast<double>(total);
        fprintf(out, " %.6f", frequency);
    }
    fputc('\n', out);
}

void writeMotif(FILE* out, const MemeMotif& motif, size_t letters) {
    fprintf(out, "MOTIF %s%s%s\n", motif.name.c_str(), motif.altName.empty() ? "" : " ",
            motif.altName.c_str());
    fprintf(out, "letter-probability matrix: alength= %zu w= %zu nsites= %zu E= %s\n", letters,
            motif.matrix.counts.size(), motif.matrix.sites, memeEValue(motif.log10E).c_str());
    for (const std::vector<int>& row : motif.matrix.counts) writeMatrixRow(out, row, letters);
    fputc('\n', out);
}

}  // namespace

void writeMeme(FILE* out, MemeAlphabet alphabet, const std::string& strands,
               const std::vector<double>& background, const std::vector<MemeMotif>& motifs) {
    const std::string_view letters = memeLettersOf(alphabet);
    fprintf(out, "MEME version 4\n\nALPHABET= %s\n\n", letters.data());
    if (!strands.empty()) fprintf(out, "strands: %s\n\n", strands.c_str());
    fprintf(out, "Background letter frequencies\n");
    const std::vector<double> frequencies = usableBackground(background, letters.size());
    for (size_t i = 0; i < letters.size(); i++)
        fprintf(out, "%s%c %.3f", i ? " " : "", letters[i], frequencies[i]);
    fprintf(out, "\n\n");
    for (const MemeMotif& motif : motifs) writeMotif(out, motif, letters.size());
}

// ---------------------------------------------------------------------------------------------------------
// BED

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A coordinate of at most 18 digits from text[*i], so that it cannot overflow.
bool readCoordinate(std::string_view text, size_t* i, int64_t* value) {
    constexpr size_t kMostDigits = 18;
    const size_t first = *i;
    *value = 0;
    while (*i < text.size() && isDigit(text[*i]) && *i - first < kMostDigits)
        *value = *value * 10 + (text[(*i)++] - '0');
    return *i > first && (*i == text.size() || !isDigit(text[*i]));
}

bool looksLikeCoordinates(std::string_view coords) {
    if (coords.empty()) return false;
    return isDigit(coords[0]) || (coords[0] == '-' && coords.size() > 1 && isDigit(coords[1]));
}

}  // namespace

GenomeRegion genomeRegionOf(const std::string& headerFirstWord) {
    const std::string_view word = headerFirstWord;
    GenomeRegion region{GenomeRegion::None, "", 0, 0, 0};
    // bedtools -name writes name::chrom:start-end; the chromosome itself may hold ':' (HLA contigs).
    const size_t named = word.rfind("::");
    const size_t from = named == std::string_view::npos ? 0 : named + 2;
    const size_t colon = word.rfind(':');
    if (colon == std::string_view::npos || colon < from) return region;
    const std::string_view coords = word.substr(colon + 1);
    if (!looksLikeCoordinates(coords)) return region;

    region.kind = GenomeRegion::Malformed;
    region.chrom = std::string(word.substr(from, colon - from));
    size_t i = 0;
    if (region.chrom.empty() || !readCoordinate(coords, &i, &region.start)) return region;
    if (i >= coords.size() || coords[i++] != '-' || !readCoordinate(coords, &i, &region.end)) return region;
    const std::string_view suffix = coords.substr(i);
    if (suffix == "(+)")
        region.strand = '+';
    else if (suffix == "(-)")
        region.strand = '-';
    else if (!suffix.empty())
        return region;
    if (region.start > region.end) return region;
    region.kind = GenomeRegion::Region;
    return region;
}

BedPlacement bedPlacementOf(const std::string& firstWord, int64_t length, const Site& site, bool* warn) {
    const GenomeRegion region = genomeRegionOf(firstWord);
    const bool fits = region.kind == GenomeRegion::Region && region.end - region.start == length;
    if (!fits) {
        if (warn && region.kind != GenomeRegion::None) *warn = true;
        return {firstWord, site.start, site.end, site.strand};
    }
    if (region.strand != '-')
        return {region.chrom, region.start + site.start, region.start + site.end, site.strand};
    const char flipped = site.strand == '+' ? '-' : site.strand == '-' ? '+' : site.strand;
    return {region.chrom, region.end - site.end, region.end - site.start, flipped};
}

int bedScore(double log10E) {
    constexpr double kBestScore = 1000;
    const double score = -10 * log10E;
    if (std::isnan(score) || score <= 0) return 0;
    if (score >= kBestScore) return static_cast<int>(kBestScore);
    return static_cast<int>(std::lround(score));
}

void writeBedLine(FILE* out, const BedPlacement& p, const std::string& name, int score) {
    fprintf(out, "%s\t%" PRId64 "\t%" PRId64 "\t%s\t%d\t%c\n", p.chrom.c_str(), p.start, p.end, name.c_str(),
            score, p.strand ? p.strand : '.');
}
