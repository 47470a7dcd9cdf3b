#pragma once
// What a run's models become once they are written: families of overlapping models, the count matrices of
// their boxes, motif files in the MEME minimal format, and BED6 sites on the genome.  Everything here is
// a pure function of its arguments; nothing depends on the rest of the library but the strand helpers.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------------------
// Sites and families

// One occurrence's span on the sequence as written: [start, end), 0-based, and its strand ('+' or '-').
struct Site {
    int32_t seq;
    int32_t start;
    int32_t end;
    char strand;
};

// A model joins a family when it overlaps the family's head in at least this share of the sequences that
// support it.  Held as a fraction so that the test is exact in integers.
constexpr int64_t kFamilyOverlapNumerator = 1;
constexpr int64_t kFamilyOverlapDenominator = 2;
constexpr double kFamilyOverlapShare =
    static_cast<double>(kFamilyOverlapNumerator) / static_cast<double>(kFamilyOverlapDenominator);

// Groups models, given in rank order, into families.  A model joins the family of the first (lowest
// index) earlier head whose sites overlap its own in at least kFamilyOverlapShare of its supporting
// sequences (the distinct `seq` values of its sites); overlapping in a sequence means some site of each
// shares a position there, whatever the strands.  Otherwise, or when it has no site, the model heads a new
// family.  Only heads attract models.  Sites are clipped to their sequence; a site of an unknown sequence
// still counts as support but overlaps nothing.
//
// Heads are found through the pieces of sequence they cover, at most kPieceWidth long each, kept by
// start position segment by segment: a model's interval [a, b) can only meet pieces starting in
// [a - kPieceWidth + 1, b), which lie next to each other in memory.  This keeps the index small and
// its reads sequential, as a workload of some 200 000 models with hundreds of sites each needs.  A
// model's sequences are visited in order, and the search stops once no head below the best one found can
// reach the share any more.
class FamilyBuilder {
  public:
    explicit FamilyBuilder(std::vector<int32_t> sequenceLengths);  // by sequence number

    // Places the next model in rank order, given its sites; returns the 0-based rank-order index of the
    // head of the family it joins (its own index when it becomes a new head).
    size_t add(const std::vector<Site>& sites);
    // Number of families so far.
    size_t heads() const { return headModel_.size(); }

  private:
    struct Interval {
        int32_t seq;
        int32_t start;
        int32_t end;
    };
    // Part of a head's covered positions in one sequence: [start, end), at most kPieceWidth long.
    struct Piece {
        int32_t start;
        int32_t end;
        uint32_t head;  // slot
    };
    // The pieces starting in kSegmentLength consecutive positions of a sequence: most of them sorted by
    // start, with the index of the first piece starting at each position or later; the latest unsorted.
    struct Segment {
        std::vector<Piece> sorted;
        std::vector<uint32_t> firstFrom;  // one more entry than the segment has positions
        std::vector<Piece> recent;
    };
    // What the current model has met of a head: the last sequence visit it was counted in, and in how
    // many of the model's sequences it was.
    struct HeadTally {
        uint32_t visit;
        uint32_t sequences;
    };
    // Where the search of the current model's family stands: the lowest head met in enough sequences so
    // far, how many are enough, and the most sequences any head below it was met in.
    struct Search {
        uint32_t best;
        uint32_t needed;
        uint32_t mostBelowBest;
    };
    static constexpr uint32_t kNoHead = UINT32_MAX;
    static constexpr int32_t kPieceWidth = 16;      // about a model's width: fewer pieces, shorter scans
    static constexpr int32_t kSegmentLength = 256;  // bounds the cost of sorting pieces in
    static constexpr size_t kRecentPieces = 8;      // unsorted pieces a segment holds before sorting them in

    // Clips and merges the sites into intervals_ (disjoint, by sequence then position); returns the number
    // of distinct sequences of the sites.
    size_t mergeSites(const std::vector<Site>& sites);
    // The lowest head slot overlapping intervals_ in enough of the support's sequences, or kNoHead.
    uint32_t firstAttractingHead(size_t support);
    void countHeadsMeeting(const Interval& interval);
    // Keeps the search up to date when a head below the best has just been met in `sequences` sequences.
    void noteCount(uint32_t head, uint32_t sequences, size_t touchedCount);
    // Pieces are at most kPieceWidth long, so those meeting [a, b) start in [scanStart, b).
    static int32_t scanStart(const Interval& interval) {
        return std::max(interval.start - kPieceWidth + 1, 0);
    }
    void nextSequenceVisit();
    void becomeHead(size_t model);
    void addPiece(int32_t seq, const Piece& piece);
    static void sortInRecent(Segment& segment, int32_t segmentStart);
    Segment& segmentOf(int32_t seq, int32_t pos) {
        return segments_[firstSegment_[seq] + pos / kSegmentLength];
    }

    std::vector<int32_t> lengths_;
    std::vector<size_t> firstSegment_;  // by sequence
    std::vector<Segment> segments_;
    std::vector<size_t> headModel_;   // head slot -> rank-order index of the model
    std::vector<HeadTally> tallies_;  // by head slot
    std::vector<uint32_t> touched_;   // head slots met by the current model; room for all, plus one
    std::vector<uint32_t> metHeads_;  // heads of the pieces meeting the current interval
    size_t touchedCount_ = 0;
    Search search_ = {kNoHead, 0, 0};
    std::vector<Interval> clipped_, intervals_;  // the current model's sites, kept to reuse their storage
    uint32_t visit_ = 0;
    size_t models_ = 0;
};

// ---------------------------------------------------------------------------------------------------------
// Box words and count matrices

// An occurrence as its result-file line gives it: sequence, leftmost position on the sequence as written,
// the spacer lengths in the model's order as read on its strand, and its strand.
struct Occurrence {
    int32_t seq;
    int32_t pos;
    std::vector<int> spacers;
    char strand;
};

// The box lengths of a coded model: its code is one character per symbol, '-' for a spacer
// (e.g. "0123-45" -> {4, 2}).  Empty boxes (leading, trailing or doubled '-') are left out.
std::vector<int> boxLengthsOf(const std::string& code);

// The span an occurrence covers: from pos, the sum of its boxes and spacers.
Site siteOf(const Occurrence& o, const std::vector<int>& boxLengths);

// The characters under each box, read on the occurrence's strand: on '-', the reverse complement of
// text[pos, pos + span), then split into boxes and spacers in the model's order.  `text` is the occurrence's
// sequence as written; positions of the span off it read as '\0', which no letter matches.
std::vector<std::string> boxWordsOf(const Occurrence& o, const std::vector<int>& boxLengths,
                                    const std::string& text);

// Count matrix of one box: counts[position][letter index in the letters]; sites: words added.
struct CountMatrix {
    std::vector<std::vector<int>> counts;
    size_t sites = 0;
};

// Accumulates the box words of a head's sites, box by box.  Characters that are not among the letters
// are not counted.
class MotifCounts {
  public:
    MotifCounts(std::string letters, std::vector<int> boxLengths);
    void add(const std::vector<std::string>& boxWords);
    const std::vector<CountMatrix>& boxes() const { return boxes_; }
    const std::string& letters() const { return letters_; }

  private:
    std::string letters_;
    std::vector<int> letterIndex_;  // character -> letter index, -1 when not a letter
    std::vector<CountMatrix> boxes_;
};

// ---------------------------------------------------------------------------------------------------------
// MEME minimal motif format, version 4

enum class MemeAlphabet { Dna, Protein };
constexpr const char* kMemeDnaLetters = "ACGT";
constexpr const char* kMemeProteinLetters = "ACDEFGHIKLMNPQRSTVWY";

const char* memeLettersOf(MemeAlphabet alphabet);

// The alphabet a run's texts can be declared with: nucleotide runs whose text characters are all in ACGT
// are Dna, protein runs whose characters are all amino acids are Protein; otherwise ok is false and the
// message, one line, names the first offending character.
struct MemeAlphabetCheck {
    bool ok;
    MemeAlphabet alphabet;
    std::string message;
};
MemeAlphabetCheck memeAlphabetFor(bool nucleotide, bool protein, const std::string& textCharacters);

// One motif: "MOTIF name altName", its count matrix and the log10 of its E-value (kept as a logarithm
// because strong motifs have E-values below the smallest double).
struct MemeMotif {
    std::string name;
    std::string altName;  // left out of the MOTIF line when empty
    CountMatrix matrix;
    double log10E;
};

// The E-value whose log10 is given, as "%.1e" would write it ("6.3e-10" for -9.2), even far below the
// doubles' range ("1.0e-400" for -400); -inf gives "0.0e+00", +inf "inf" and NaN "nan".
std::string memeEValue(double log10E);

// Letter frequencies of the texts over the letters, in the letters' order (counts of each letter over the
// count of all of them; characters outside the letters are ignored).  All zero when no letter occurs.
std::vector<double> backgroundFrequencies(const std::vector<std::string>& texts, const std::string& letters);

// Writes a MEME file.  strands is "+ -", "+", or "" for no strands line (protein).  A background that
// does not have one frequency per letter or sums to 0 is written uniform, as is a matrix row without
// counts.
void writeMeme(FILE* out, MemeAlphabet alphabet, const std::string& strands,
               const std::vector<double>& background, const std::vector<MemeMotif>& motifs);

// ---------------------------------------------------------------------------------------------------------
// BED6 sites

// Where a FASTA entry lies on a genome when its header's first word reads chrom:start-end,
// chrom:start-end(+), chrom:start-end(-) or name::chrom:start-end with or without a strand (the names
// bedtools getfasta gives, 0-based start, end excluded).  Malformed: the word looks like coordinates (a
// ':' then a digit or '-') but does not parse, or start > end.  None: a plain name.
struct GenomeRegion {
    enum Kind { None, Region, Malformed } kind;
    std::string chrom;
    int64_t start;
    int64_t end;
    char strand;  // '+', '-' or 0 unstranded
};
GenomeRegion genomeRegionOf(const std::string& headerFirstWord);

// A site placed for BED: chromosome (or sequence name), 0-based start, end excluded, strand.
struct BedPlacement {
    std::string chrom;
    int64_t start;
    int64_t end;
    char strand;
};

// A site of a sequence of `length` characters whose header's first word is `firstWord`.  When the word is
// a region of that length the site lies on the genome: at start + offset on the same strand for a (+) or
// unstranded region; on a (-) region, whose sequence is the genome's reverse complement, a site at offset p
// spanning w lies at end - p - w on the other strand.  Otherwise chrom is the word and the site keeps its
// offsets.  *warn (when warn is not null) is set true when the word looked like a region but did not fit
// (malformed or of another length), and left alone otherwise, so that the caller can warn once.
BedPlacement bedPlacementOf(const std::string& firstWord, int64_t length, const Site& site, bool* warn);

// BED score of a model: round(-10 * log10E), clamped to [0, 1000].
int bedScore(double log10E);

// "chrom\tstart\tend\tname\tscore\tstrand\n" ('.' for a strand of 0).
void writeBedLine(FILE* out, const BedPlacement& p, const std::string& name, int score);
