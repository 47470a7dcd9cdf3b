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
// Heads are tried in order.  A head can attract a model only if it has sites in enough of the model's
// sequences, so each head keeps the set of sequences it covers as a bit set, and the model's set is
// intersected with kLanes heads' sets at once (vector popcounts); only the few heads left are compared
// site by site, sequence by sequence, until they reach the share or can no longer.  On the fly promoters'
// 160 000 models with hundreds of sites each, 1 in 460 of the 700 million heads tried is left.
class FamilyBuilder {
  public:
    // Sequences of length 0 (or less) cover nothing and take no room in the sequence sets.
    explicit FamilyBuilder(std::vector<int32_t> sequenceLengths);  // by sequence number

    // Places the next model in rank order, given its sites; returns the 0-based rank-order index of the
    // head of the family it joins (its own index when it becomes a new head).
    size_t add(const std::vector<Site>& sites);
    // Number of families so far.
    size_t heads() const { return headModel_.size(); }

    // Heads whose sequence sets are intersected with a model's at once.
    static constexpr size_t kLanes = 16;

  private:
    // A site clipped to its sequence: [start, end) of sequence `seq`.
    struct Interval {
        int32_t seq;
        int32_t start;
        int32_t end;
    };
    // [start, end) of a sequence known from where it is kept.
    struct Extent {
        int32_t start;
        int32_t end;
    };
    // Clips and merges the sites into intervals_ (disjoint, by sequence then position) and fills the
    // model's sequence set; returns the number of distinct sequences of the sites.
    size_t mergeSites(const std::vector<Site>& sites);
    // The lowest head overlapping the model in at least `needed` sequences, or kNoHead.
    uint32_t firstAttractingHead(size_t needed);
    // Extents by sequence rank: those of the i-th sequence run from intervals + firstOf[i] to
    // intervals + firstOf[i + 1].
    struct SequenceIntervals {
        const Extent* intervals;
        const uint32_t* firstOf;
    };
    // Whether the head overlaps the model in at least `needed` of the `common` sequences they share.
    bool meets(uint32_t head, size_t needed, size_t common) const;
    static bool overlapIn(const SequenceIntervals& a, size_t i, const SequenceIntervals& b, size_t j);
    static bool overlapInEnough(const uint64_t* headBits, size_t headStride,
                                const SequenceIntervals& headSide, const uint64_t* modelBits,
                                const SequenceIntervals& modelSide, size_t words, size_t needed,
                                size_t common);
    void becomeHead(size_t model);
    size_t headWordIndex(size_t head, size_t w) const {
        return ((head / kLanes) * words_ + w) * kLanes + head % kLanes;
    }

    static constexpr uint32_t kNoHead = UINT32_MAX;

    std::vector<int32_t> lengths_;  // by input sequence
    std::vector<int32_t> rankOf_;   // input sequence -> rank among those with positions, or -1
    size_t words_ = 0;              // 64-bit words of a sequence set
    // The heads' sequence sets, kLanes heads per block, word by word: word w of head h is at
    // ((h / kLanes) * words_ + w) * kLanes + h % kLanes.
    std::vector<uint64_t> headSequences_;
    // Every head's intervals, head after head, and for the i-th sequence of head h, where its intervals
    // start counted from the head's first: headFirstOf_[headBase_[h].firstOf + i] (one more entry: the
    // end).
    struct HeadBase {
        size_t interval;
        size_t firstOf;
    };
    std::vector<Extent> headIntervals_;
    std::vector<uint32_t> headFirstOf_;
    std::vector<HeadBase> headBase_;
    std::vector<size_t> headModel_;  // head -> rank-order index of the model
    // The current model: its clipped sites, its intervals (disjoint, by sequence rank then position), its
    // sequence set, the words of the set that are not empty, and where the intervals of each of its
    // sequences start (one more entry: the end).
    std::vector<Interval> clipped_;
    std::vector<Extent> intervals_;
    std::vector<uint64_t> modelSequences_;
    std::vector<uint32_t> modelWords_;
    std::vector<uint32_t> modelFirstOf_;
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
