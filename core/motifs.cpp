#include "motifs.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

#include "strands.h"

// ---------------------------------------------------------------------------------------------------------
// Families

FamilyBuilder::FamilyBuilder(std::vector<int32_t> sequenceLengths)
    : lengths_(std::move(sequenceLengths)), touched_(1) {
    for (int32_t& length : lengths_) {
        length = std::max<int32_t>(length, 0);
        firstSegment_.push_back(segments_.size());
        for (int32_t start = 0; start < length; start += kSegmentLength) {
            Segment segment;
            segment.firstFrom.assign(static_cast<size_t>(std::min(kSegmentLength, length - start)) + 1, 0);
            segments_.push_back(std::move(segment));
        }
    }
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
    std::sort(clipped_.begin(), clipped_.end(), [](const Interval& a, const Interval& b) {
        return a.seq != b.seq ? a.seq < b.seq : a.start < b.start;
    });
    size_t support = 0;
    intervals_.clear();
    for (size_t i = 0; i < clipped_.size(); i++) {
        const Interval& next = clipped_[i];
        if (i == 0 || next.seq != clipped_[i - 1].seq) support++;
        if (next.start == next.end) continue;
        if (!intervals_.empty() && intervals_.back().seq == next.seq && next.start <= intervals_.back().end)
            intervals_.back().end = std::max(intervals_.back().end, next.end);
        else
            intervals_.push_back(next);
    }
    return support;
}

void FamilyBuilder::nextSequenceVisit() {
    if (++visit_ != 0) return;
    // The visit counter wrapped: forget every visit so that none is taken for the current one.
    for (HeadTally& tally : tallies_) tally.visit = 0;
    visit_ = 1;
}

void FamilyBuilder::countHeadsMeeting(const Interval& interval) {
    // First the heads of the pieces meeting the interval, without branches since whether a piece meets is
    // as good as random, then each of them once per sequence.
    const int32_t start = interval.start, end = interval.end;  // locals: the stores below cannot alias them
    const int32_t from = scanStart(interval);
    size_t met = 0;
    for (int32_t k = from / kSegmentLength; k <= (end - 1) / kSegmentLength; k++) {
        const Segment& segment = segments_[firstSegment_[interval.seq] + static_cast<size_t>(k)];
        const int32_t base = k * kSegmentLength;
        const uint32_t first = segment.firstFrom[static_cast<size_t>(std::max(from, base) - base)];
        const uint32_t last =
            segment.firstFrom[static_cast<size_t>(std::min(end, base + kSegmentLength) - base)];
        const size_t room = met + (last - first) + segment.recent.size();
        if (metHeads_.size() < room) metHeads_.resize(2 * room);
        uint32_t* const heads = metHeads_.data();
        const Piece* const sorted = segment.sorted.data();
        for (uint32_t i = first; i < last; i++) {
            heads[met] = sorted[i].head;
            met += sorted[i].end > start;
        }
        for (const Piece& piece : segment.recent) {
            heads[met] = piece.head;
            met += (piece.start < end) & (piece.end > start);
        }
    }
    size_t touchedCount = touchedCount_;
    for (size_t i = 0; i < met; i++) {
        const uint32_t head = metHeads_[i];
        HeadTally& tally = tallies_[head];
        if (tally.visit == visit_) continue;  // already met in this sequence
        tally.visit = visit_;
        touched_[touchedCount] = head;
        touchedCount += tally.sequences++ == 0;
        if (head < search_.best) noteCount(head, tally.sequences, touchedCount);
    }
    touchedCount_ = touchedCount;
}

void FamilyBuilder::noteCount(uint32_t head, uint32_t sequences, size_t touchedCount) {
    if (sequences < search_.needed) {
        search_.mostBelowBest = std::max(search_.mostBelowBest, sequences);
        return;
    }
    // A new lowest attracting head: only the heads below it matter now.
    search_.best = head;
    search_.mostBelowBest = 0;
    for (size_t i = 0; i < touchedCount; i++)
        if (touched_[i] < head)
            search_.mostBelowBest = std::max(search_.mostBelowBest, tallies_[touched_[i]].sequences);
}

uint32_t FamilyBuilder::firstAttractingHead(size_t support) {
    // The fewest sequences, c, with c / support >= the share, exactly in integers.
    const auto needed =
        (static_cast<int64_t>(support) * kFamilyOverlapNumerator + kFamilyOverlapDenominator - 1) /
        kFamilyOverlapDenominator;
    search_ = {kNoHead, static_cast<uint32_t>(needed), 0};
    // Sequences without an interval are counted as left too, which only delays the end.
    size_t sequencesLeft = support;
    for (size_t i = 0; i < intervals_.size(); i++) {
        if (i == 0 || intervals_[i].seq != intervals_[i - 1].seq) {
            // Once no head below the best, met so far or not (0), can reach the count in the sequences
            // left, the best is found.
            if (search_.mostBelowBest + sequencesLeft < search_.needed) break;
            nextSequenceVisit();
            sequencesLeft--;
        }
        countHeadsMeeting(intervals_[i]);
    }
    for (size_t i = 0; i < touchedCount_; i++) tallies_[touched_[i]].sequences = 0;
    touchedCount_ = 0;
    return search_.best;
}

void FamilyBuilder::sortInRecent(Segment& segment, int32_t segmentStart) {
    const auto byStart = [](const Piece& x, const Piece& y) { return x.start < y.start; };
    std::sort(segment.recent.begin(), segment.recent.end(), byStart);
    std::vector<Piece> merged(segment.sorted.size() + segment.recent.size());
    std::merge(segment.sorted.begin(), segment.sorted.end(), segment.recent.begin(), segment.recent.end(),
               merged.begin(), byStart);
    segment.sorted = std::move(merged);
    segment.recent.clear();
    uint32_t next = 0;
    for (size_t p = 0; p < segment.firstFrom.size(); p++) {
        const int32_t position = segmentStart + static_cast<int32_t>(p);
        while (next < segment.sorted.size() && segment.sorted[next].start < position) next++;
        segment.firstFrom[p] = next;
    }
}

void FamilyBuilder::addPiece(int32_t seq, const Piece& piece) {
    Segment& segment = segmentOf(seq, piece.start);
    segment.recent.push_back(piece);
    if (segment.recent.size() >= kRecentPieces)
        sortInRecent(segment, piece.start / kSegmentLength * kSegmentLength);
}

void FamilyBuilder::becomeHead(size_t model) {
    const auto slot = static_cast<uint32_t>(headModel_.size());
    headModel_.push_back(model);
    tallies_.push_back({0, 0});
    touched_.resize(headModel_.size() + 1);  // room for every head, and one more written past the last
    for (const Interval& interval : intervals_)
        for (int32_t start = interval.start, end = 0; end != interval.end; start = end) {
            end = start + std::min(kPieceWidth, interval.end - start);
            addPiece(interval.seq, {start, end, slot});
        }
}

size_t FamilyBuilder::add(const std::vector<Site>& sites) {
    const size_t support = mergeSites(sites);
    const uint32_t head = support == 0 ? kNoHead : firstAttractingHead(support);
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
