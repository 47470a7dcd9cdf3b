// Alphabet file, text checking, models alphabet translation, complements.
//
// The alphabet tables are process globals, and initAlphabet neither resets
// numJOKER/numSAUT nor frees the names of an earlier load (the programs load
// one alphabet per process).  The fixture therefore puts every table back in
// its program-start state before and after each test, freeing the names so
// that the leak checker of the sanitizer build stays quiet.  Scenarios that
// end the process run in gtest death-test children, which inherit the state
// the test built before them.
#include "alphabet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "as_program.h"
#include "support_test_util.h"

using supporttest::exactly;
using supporttest::fileWith;

namespace {

void resetAlphabetGlobals() {
    for (int i = 0; i < kAlphabetSlots; i++) {
        free(alphabetTables().nummod2str[i]);
        alphabetTables().nummod2str[i] = nullptr;
        free(alphabetTables().alphMod[i]);
        alphabetTables().alphMod[i] = nullptr;
        alphabetTables().comp[i] = 0;
    }
    alphabetTables().nbSymbSeq = 0;
    alphabetTables().nbSymbMod = 0;
    alphabetTables().type = 0;
    alphabetTables().numJOKER = -1;
    alphabetTables().numSAUT = -1;
    initAlphabet();
}

// Mutable sequence texts, as the driver's text array.
class Texts {
  public:
    Texts(std::initializer_list<std::string> texts) {
        for (const std::string& t : texts) store_.emplace_back(t.c_str(), t.c_str() + t.size() + 1);
        for (auto& t : store_) ptrs_.push_back(t.data());
    }
    char** data() { return ptrs_.data(); }
    int size() const { return static_cast<int>(ptrs_.size()); }
    std::string operator[](int i) const { return std::string(store_[i].data()); }

  private:
    std::vector<std::vector<char>> store_;
    std::vector<char*> ptrs_;
};

struct Loaded {
    std::string result;
    std::string out;
    std::string err;
};

// Loads an alphabet in this process, capturing both streams.
Loaded load(Texts& texts, const std::string& alphabetFile) {
    FILE* f = fileWith(alphabetFile);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    char* r = chargeAlphabet(f, texts.data(), texts.size());
    Loaded l{r ? r : "(null)", "", ""};
    l.err = ::testing::internal::GetCapturedStderr();
    l.out = ::testing::internal::GetCapturedStdout();
    fclose(f);
    return l;
}

// For death tests: loads without capturing, so that the child's standard error
// reaches the matcher; standard output is dropped.
void loadInChild(Texts& texts, const std::string& alphabetFile) {
    if (freopen("/dev/null", "w", stdout) == nullptr) _exit(3);
    FILE* f = fileWith(alphabetFile);
    chargeAlphabet(f, texts.data(), texts.size());
}

// Runs transAlphMod in this process and returns its standard error.
std::string translate(unsigned char pal) {
    ::testing::internal::CaptureStderr();
    transAlphMod(pal);
    return ::testing::internal::GetCapturedStderr();
}

std::vector<std::string> names() {
    std::vector<std::string> v;
    for (int i = 0; i <= alphabetTables().nbSymbMod; i++) v.push_back(alphabetTables().nummod2str[i]);
    return v;
}

std::vector<int> accepted(int m) {
    std::vector<int> v;
    for (int k = 0; k < kAlphabetSlots; k++)
        if (alphabetTables().TabSymb[m][k]) v.push_back(k);
    return v;
}

const std::string kNucl = "Nucleotide alphabet\n";
const std::string kTypeNucl = "** Models alphabet: Nucleotides **\n";
const std::string kJokerWarning = "Warning: Non alphanumeric character '*' in the alphabet file\n";

class Alphabet : public ::testing::Test {
  protected:
    void SetUp() override { resetAlphabetGlobals(); }
    void TearDown() override { resetAlphabetGlobals(); }
};

using AlphabetDeathTest = Alphabet;
using Translation = Alphabet;
using TranslationDeathTest = Alphabet;

}  // namespace

// ---- initAlphabet ----

TEST_F(Alphabet, InitAlphabetEmptiesTheTablesButKeepsJokerAndSpacer) {
    alphabetTables().carseq2num[65] = 3;
    alphabetTables().TabSymb[2][5] = 1;
    alphabetTables().alphSeq[0] = 'Z';
    alphabetTables().numJOKER = 4;
    alphabetTables().numSAUT = 7;
    initAlphabet();
    for (int i = 0; i < kAlphabetSlots; i++) EXPECT_EQ(alphabetTables().carseq2num[i], -1) << i;
    EXPECT_EQ(alphabetTables().TabSymb[2][5], 0);
    EXPECT_STREQ(alphabetTables().alphSeq, "");
    EXPECT_EQ(alphabetTables().numJOKER, 4);
    EXPECT_EQ(alphabetTables().numSAUT, 7);
}

// ---- text checking and text alphabet ----

TEST_F(Alphabet, TextAlphabetOfTwoTexts) {
    Texts t{"acgt$", "AGGA$"};
    Loaded l = load(t, kNucl + "A\nC\nG\nT\n");
    EXPECT_EQ(l.result, "ACGT$");
    EXPECT_STREQ(alphabetTables().alphSeq, "ACGT$");
    EXPECT_EQ(alphabetTables().nbSymbSeq, 4);
    EXPECT_EQ(t[0], "ACGT$");
    EXPECT_EQ(t[1], "AGGA$");
    EXPECT_EQ(l.out, "\n** Text alphabet: ACGT$ (4 symbols + terminator) **\n");
    EXPECT_EQ(l.err, kTypeNucl + "Models alphabet's size: 4\n");
    for (int c = 0; c < kAlphabetSlots; c++) {
        int expected = c == 'A' ? 0 : c == 'C' ? 1 : c == 'G' ? 2 : c == 'T' ? 3 : c == '$' ? 4 : -1;
        EXPECT_EQ(alphabetTables().carseq2num[c], expected) << c;
    }
    for (int m = 0; m < 4; m++) EXPECT_EQ(accepted(m), std::vector<int>{m}) << m;
    EXPECT_EQ(alphabetTables().nbSymbMod, 4);
    EXPECT_EQ(alphabetTables().numSAUT, 4);
    EXPECT_EQ(alphabetTables().numJOKER, -1);
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "C", "G", "T", "_"}));
    EXPECT_EQ(alphabetTables().type, 0);
}

TEST_F(Alphabet, HyphensWarnAndBecomeTheFirstTextSymbol) {
    Texts t{"ac-gt$", "AG-G-A$"};
    Loaded l = load(t, kNucl + "A\nC\nG\nT\n");
    EXPECT_STREQ(alphabetTables().alphSeq, "-ACGT$");
    EXPECT_EQ(alphabetTables().carseq2num[static_cast<int>('-')], 0);
    EXPECT_EQ(alphabetTables().carseq2num[static_cast<int>('$')], 5);
    EXPECT_EQ(t[0], "AC-GT$");
    EXPECT_EQ(l.out, "\n** Text alphabet: -ACGT$ (5 symbols + terminator) **\n");
    EXPECT_EQ(l.err,
              "> Warning: Seq 0 Pos 2 Non alphanumeric character '-'\n"
              "> Warning: Seq 1 Pos 2 Non alphanumeric character '-'\n"
              "> Warning: Seq 1 Pos 4 Non alphanumeric character '-'\n" +
                  kTypeNucl + "Models alphabet's size: 4\n" +
                  "> Warning: text symbol '-' is not recognized by any models symbol.\n");
}

TEST_F(Alphabet, SpaceDigitsAndPunctuationAreTextSymbols) {
    Texts t{"a 9z.$"};
    Loaded l = load(t, "Protein\nA\n");
    EXPECT_STREQ(alphabetTables().alphSeq, " .9AZ$");
    EXPECT_EQ(alphabetTables().nbSymbSeq, 5);
    EXPECT_EQ(t[0], "A 9Z.$");
    EXPECT_EQ(l.err,
              "> Warning: Seq 0 Pos 1 Non alphanumeric character ' '\n"
              "> Warning: Seq 0 Pos 4 Non alphanumeric character '.'\n"
              "** Models alphabet: Amino-acids **\n"
              "Models alphabet's size: 1\n"
              "> Warning: text symbol ' ' is not recognized by any models symbol.\n"
              "> Warning: text symbol '.' is not recognized by any models symbol.\n"
              "> Warning: text symbol '9' is not recognized by any models symbol.\n"
              "> Warning: text symbol 'Z' is not recognized by any models symbol.\n");
}

TEST_F(Alphabet, CheckStopsAtTheFirstDollar) {
    Texts t{"AC$x*_\t$", "G$"};
    Loaded l = load(t, kNucl + "A\nC\nG\n");
    EXPECT_STREQ(alphabetTables().alphSeq, "ACG$");
    EXPECT_EQ(t[0], std::string("AC$x*_\t$"));  // nothing after the first $ is touched
    EXPECT_EQ(l.err, kTypeNucl + "Models alphabet's size: 3\n");
}

TEST_F(Alphabet, EmptyTextsGiveAnEmptyTextAlphabet) {
    Texts t{"$", "$"};
    Loaded l = load(t, kNucl + "A\n");
    EXPECT_STREQ(alphabetTables().alphSeq, "$");
    EXPECT_EQ(alphabetTables().nbSymbSeq, 0);
    EXPECT_EQ(alphabetTables().carseq2num[static_cast<int>('$')], 0);
    EXPECT_EQ(l.out, "\n** Text alphabet: $ (0 symbols + terminator) **\n");
    EXPECT_TRUE(accepted(0).empty());
}

TEST_F(AlphabetDeathTest, TabInASequenceIsAControlCharacter) {
    Texts t{"ACGT$", "AC\tG$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A\n"); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: Seq 1 Pos 2 Control character 9 ('\t')\n"));
}

TEST_F(AlphabetDeathTest, HighByteInASequenceIsAControlCharacterWithANegativeCode) {
    Texts t{"AC\xc8G$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A\n"); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: Seq 0 Pos 2 Control character -56 ('\xc8')\n"));
}

TEST_F(AlphabetDeathTest, CarriageReturnAndDelInASequence) {
    Texts t{"AC\r$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A\n"); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: Seq 0 Pos 2 Control character 13 ('\r')\n"));
    Texts u{"A\x7f$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(u, kNucl + "A\n"); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: Seq 0 Pos 1 Control character 127 ('\x7f')\n"));
}

TEST_F(AlphabetDeathTest, StarAndUnderscoreAreForbiddenInSequences) {
    Texts t{"ACGT$", "GG*$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A\n"); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: Seq 1 Pos 2 Forbidden character 42 ('*') in the sequences\n"));
    Texts u{"_$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(u, kNucl + "A\n"); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: Seq 0 Pos 0 Forbidden character 95 ('_') in the sequences\n"));
}

TEST_F(AlphabetDeathTest, WarningsBeforeTheErrorAreKeptAndTheFileIsNotRead) {
    Texts t{"A-C$", "A\x01$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(t, "Nucleotide\n**\n"); }), ::testing::ExitedWithCode(1),
                exactly("> Warning: Seq 0 Pos 1 Non alphanumeric character '-'\n"
                        ">> Error: Seq 1 Pos 1 Control character 1 ('\x01')\n"));
}

// ---- alphabet file ----

TEST_F(Alphabet, HeaderGivesTheType) {
    struct Case {
        const char* header;
        int type;
        const char* message;
    };
    const Case cases[] = {
        {"Nucleotide\n", 0, "** Models alphabet: Nucleotides **\n"},
        {"my Nucleotides here\n", 0, "** Models alphabet: Nucleotides **\n"},
        {"Protein\n", 1, "** Models alphabet: Amino-acids **\n"},
        {"Protein and Nucleotide\n", 0, "** Models alphabet: Nucleotides **\n"},
        {"nucleotide\n", 2, "** Models alphabet: unknown **\n"},
        {"PROTEIN\n", 2, "** Models alphabet: unknown **\n"},
        {"\n", 2, "** Models alphabet: unknown **\n"},
    };
    for (const Case& c : cases) {
        resetAlphabetGlobals();
        Texts t{"A$"};
        Loaded l = load(t, std::string(c.header) + "A\n");
        EXPECT_EQ(alphabetTables().type, c.type) << c.header;
        EXPECT_EQ(l.err, std::string(c.message) + "Models alphabet's size: 1\n") << c.header;
    }
}

TEST_F(Alphabet, EmptyFileHasTypeUnknownAndNoSymbol) {
    Texts t{"AC$"};
    Loaded l = load(t, "");
    EXPECT_EQ(alphabetTables().type, 2);
    EXPECT_EQ(alphabetTables().nbSymbMod, 0);
    EXPECT_EQ(alphabetTables().numSAUT, 0);
    EXPECT_EQ(l.err,
              "** Models alphabet: unknown **\nModels alphabet's size: 0\n"
              "> Warning: text symbol 'A' is not recognized by any models symbol.\n"
              "> Warning: text symbol 'C' is not recognized by any models symbol.\n");
}

TEST_F(Alphabet, HeaderAloneDeclaresNoSymbol) {
    Texts t{"ACG$"};
    Loaded l = load(t, kNucl);
    EXPECT_EQ(alphabetTables().nbSymbMod, 0);
    EXPECT_EQ(alphabetTables().numSAUT, 0);
    EXPECT_STREQ(alphabetTables().nummod2str[0], "_");
    EXPECT_EQ(l.err, kTypeNucl + "Models alphabet's size: 0\n" +
                         "> Warning: text symbol 'A' is not recognized by any models symbol.\n"
                         "> Warning: text symbol 'C' is not recognized by any models symbol.\n"
                         "> Warning: text symbol 'G' is not recognized by any models symbol.\n");
}

TEST_F(Alphabet, SymbolLineAcceptsItsLettersCaseInsensitively) {
    Texts t{"ACGT$"};
    Loaded l = load(t, kNucl + "ag\nT\n");
    EXPECT_EQ(accepted(0), (std::vector<int>{0, 2}));
    EXPECT_STREQ(alphabetTables().nummod2str[0], "AG");
    EXPECT_STREQ(alphabetTables().alphMod[0], "ag\n");
    EXPECT_STREQ(alphabetTables().alphMod[1], "T\n");
    EXPECT_EQ(l.err, kTypeNucl + "Models alphabet's size: 2\n" +
                         "> Warning: text symbol 'C' is not recognized by any models symbol.\n");
}

TEST_F(Alphabet, OrderAndRepetitionChangeTheNameNotTheSet) {
    Texts t{"ACGT$"};
    load(t, kNucl + "GAg\n");
    EXPECT_EQ(accepted(0), (std::vector<int>{0, 2}));
    EXPECT_STREQ(alphabetTables().nummod2str[0], "GAG");
}

TEST_F(Alphabet, LetterAbsentFromTheSequencesSetsNothingAndSaysNothing) {
    Texts t{"AC$"};
    Loaded l = load(t, kNucl + "AZ\nC\nQ\n");
    EXPECT_EQ(accepted(0), std::vector<int>{0});
    EXPECT_TRUE(accepted(2).empty());
    EXPECT_STREQ(alphabetTables().nummod2str[2], "Q");
    EXPECT_EQ(l.err, kTypeNucl + "Models alphabet's size: 3\n");
}

TEST_F(Alphabet, EmptyLinesAreSkippedWithoutUsingANumber) {
    Texts t{"ACG$"};
    load(t, kNucl + "\nA\n\n\nC\n\nG\n\n");
    EXPECT_EQ(alphabetTables().nbSymbMod, 3);
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "C", "G", "_"}));
}

TEST_F(Alphabet, LastLineMayLackItsLineFeed) {
    Texts t{"AC$"};
    load(t, kNucl + "A\nC");
    EXPECT_EQ(alphabetTables().nbSymbMod, 2);
    EXPECT_STREQ(alphabetTables().nummod2str[1], "C");
    EXPECT_STREQ(alphabetTables().alphMod[1], "C");
    EXPECT_EQ(accepted(1), std::vector<int>{1});
}

// The star is tested like any other character after it declares the joker: it is not alphanumeric.
TEST_F(Alphabet, JokerAcceptsEveryTextSymbolAndSilencesCoverage) {
    Texts t{"AC-GT$"};
    Loaded l = load(t, kNucl + "A\n*\nC\n");
    EXPECT_EQ(alphabetTables().numJOKER, 1);
    EXPECT_EQ(accepted(1), (std::vector<int>{0, 1, 2, 3, 4}));  // not the terminator, number 5
    EXPECT_STREQ(alphabetTables().nummod2str[1], "*");
    EXPECT_STREQ(alphabetTables().alphMod[1], "*\n");
    EXPECT_EQ(l.err, "> Warning: Seq 0 Pos 2 Non alphanumeric character '-'\n" + kTypeNucl + kJokerWarning +
                         "Models alphabet's size: 3\n");
}

TEST_F(Alphabet, JokerAsTheLastLineWithoutLineFeed) {
    Texts t{"AC$"};
    load(t, kNucl + "A\n*");
    EXPECT_EQ(alphabetTables().numJOKER, 1);
    EXPECT_EQ(accepted(1), (std::vector<int>{0, 1}));
}

TEST_F(Alphabet, PunctuationInASymbolLineWarnsAndIsAccepted) {
    Texts t{"A-C$"};
    Loaded l = load(t, kNucl + "A-\nc.\n");
    EXPECT_EQ(accepted(0), (std::vector<int>{0, 1}));  // '-' is text symbol 0, 'A' 1
    EXPECT_EQ(accepted(1), std::vector<int>{2});
    EXPECT_STREQ(alphabetTables().nummod2str[0], "A-");
    EXPECT_STREQ(alphabetTables().nummod2str[1], "C.");
    EXPECT_EQ(l.err, "> Warning: Seq 0 Pos 1 Non alphanumeric character '-'\n" + kTypeNucl +
                         "Warning: Non alphanumeric character '-' in the alphabet file\n"
                         "Warning: Non alphanumeric character '.' in the alphabet file\n"
                         "Models alphabet's size: 2\n");
}

TEST_F(Alphabet, DigitsInASymbolLine) {
    Texts t{"A1$"};
    Loaded l = load(t, "other\n1a\n");
    EXPECT_EQ(accepted(0), (std::vector<int>{0, 1}));
    EXPECT_STREQ(alphabetTables().nummod2str[0], "1A");
    EXPECT_EQ(l.err, "** Models alphabet: unknown **\nModels alphabet's size: 1\n");
}

TEST_F(Alphabet, TerminatorColumnAndColumnsBeyondStayEmpty) {
    Texts t{"ACGT$"};
    load(t, kNucl + "ACGT\n*\n");
    for (int m = 0; m < 2; m++)
        for (int k = alphabetTables().nbSymbSeq; k < kAlphabetSlots; k++)
            EXPECT_EQ(alphabetTables().TabSymb[m][k], 0) << m << " " << k;
    for (int k = 0; k < kAlphabetSlots; k++)
        EXPECT_EQ(alphabetTables().TabSymb[alphabetTables().numSAUT][k], 0);
}

TEST_F(Alphabet, NamesHaveRoomForBrackets) {
    Texts t{"ACGT$"};
    load(t, kNucl + "ACGT\n");
    // The translation rewrites the name in place as "[ACGT]".
    strcpy(alphabetTables().nummod2str[0], "[ACGT]");
    EXPECT_STREQ(alphabetTables().nummod2str[0], "[ACGT]");
}

TEST_F(Alphabet, LinesLongerThan511CharactersComeInPieces) {
    Texts t{"AC$"};
    load(t, kNucl + std::string(600, 'a') + "\nC\n");
    EXPECT_EQ(alphabetTables().nbSymbMod, 3);
    EXPECT_EQ(std::string(alphabetTables().nummod2str[0]), std::string(511, 'A'));
    EXPECT_EQ(std::string(alphabetTables().nummod2str[1]), std::string(89, 'A'));
    EXPECT_EQ(std::string(alphabetTables().alphMod[1]), std::string(89, 'a') + "\n");
    EXPECT_STREQ(alphabetTables().nummod2str[2], "C");
    // A line of exactly 511 characters leaves its line feed as an empty piece, which is skipped.
    resetAlphabetGlobals();
    load(t, kNucl + std::string(511, 'C') + "\nA\n");
    EXPECT_EQ(alphabetTables().nbSymbMod, 2);
    EXPECT_STREQ(alphabetTables().nummod2str[1], "A");
}

TEST_F(Alphabet, At126SymbolsTheSpacerTakesTheLastSlot) {
    Texts t{"AC$"};
    std::string file = kNucl;
    for (int i = 0; i < kMaxModelsSymbols; i++) file += "A\n";
    load(t, file);
    EXPECT_EQ(alphabetTables().nbSymbMod, 126);
    EXPECT_EQ(alphabetTables().numSAUT, 126);
    EXPECT_STREQ(alphabetTables().nummod2str[126], "_");
}

TEST_F(AlphabetDeathTest, MoreThan126SymbolsAreRefused) {
    Texts t{"AC$"};
    std::string file = kNucl + "\n";
    for (int i = 0; i < kMaxModelsSymbols; i++) file += "C\n\n";
    file += "A\nG\n";
    EXPECT_EXIT(asProgram([&] { loadInChild(t, file); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: the alphabet file declares more than 126 models symbols\n"));
}

TEST_F(AlphabetDeathTest, ControlCharactersInASymbolLine) {
    Texts t{"AC$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A \n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: Control character ' ' in the alphabet file\n"));
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A\r\nC\r\n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: Control character '\r' in the alphabet file\n"));
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A\n\tC\n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: Control character '\t' in the alphabet file\n"));
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "\x7f\n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: Control character '\x7f' in the alphabet file\n"));
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A\xe9\n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: Control character '\xe9' in the alphabet file\n"));
}

TEST_F(AlphabetDeathTest, CrLfFileStopsOnTheFirstSymbolLine) {
    Texts t{"AC$"};
    // The header's CR is not checked; the first symbol line's is.
    EXPECT_EXIT(asProgram([&] { loadInChild(t, "Nucleotide\r\nA\r\n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: Control character '\r' in the alphabet file\n"));
}

TEST_F(AlphabetDeathTest, JokerNotAlone) {
    Texts t{"AC$"};
    const std::string msg = kTypeNucl + ">> Error: JOKER character '*' not alone\n";
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "**\n"); }), ::testing::ExitedWithCode(1),
                exactly(msg));
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "*A\n"); }), ::testing::ExitedWithCode(1),
                exactly(msg));
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A*\n"); }), ::testing::ExitedWithCode(1),
                exactly(msg));
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "C\nA*C\n"); }), ::testing::ExitedWithCode(1),
                exactly(msg));
}

TEST_F(AlphabetDeathTest, SecondJokerGoesThroughFatalError) {
    Texts t{"AC$"};
    EXPECT_EXIT(
        asProgram([&] { loadInChild(t, kNucl + "*\nA\n*\n"); }), ::testing::ExitedWithCode(1),
        exactly(kTypeNucl + kJokerWarning + ">> Error: JOKER defined 2 times in the alphabet file\n\n"));
}

TEST_F(AlphabetDeathTest, DollarAndUnderscoreAreForbiddenInSymbolLines) {
    Texts t{"AC$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A$\n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: Forbidden character 36 ('$') in the alphabet file\n"));
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "_\n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + ">> Error: Forbidden character 95 ('_') in the alphabet file\n"));
}

TEST_F(AlphabetDeathTest, WarningOfAnEarlierCharacterPrecedesTheError) {
    Texts t{"AC$"};
    EXPECT_EXIT(asProgram([&] { loadInChild(t, kNucl + "A-$\n"); }), ::testing::ExitedWithCode(1),
                exactly(kTypeNucl + "Warning: Non alphanumeric character '-' in the alphabet file\n" +
                        ">> Error: Forbidden character 36 ('$') in the alphabet file\n"));
}

// ---- Display names, confusions, complements ----

TEST(Strshfl, SameLengthAndEveryCharacterPresent) {
    EXPECT_EQ(strshfl("AA", "AR"), 1);
    EXPECT_EQ(strshfl("RA", "AR"), 1);
    EXPECT_EQ(strshfl("AR", "AR"), 1);
    EXPECT_EQ(strshfl("A", "AR"), 0);
    EXPECT_EQ(strshfl("ARN", "AR"), 0);
    EXPECT_EQ(strshfl("AX", "AR"), 0);
    EXPECT_EQ(strshfl("", ""), 1);
}

TEST_F(Translation, NucleotideLinesGetOneLetterCodes) {
    Texts t{"ACGT$"};
    load(t, kNucl + "A\nC\nG\nT\nAG\nCT\n*\n");
    EXPECT_EQ(translate(0), "Symbol AG ->> R\nSymbol CT ->> Y\nSymbol '*' ->> N\n");
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "C", "G", "T", "R", "Y", "N", "_"}));
    for (int m = 0; m < kAlphabetSlots; m++) EXPECT_EQ(alphabetTables().comp[m], 0);  // no palindromic option
}

TEST_F(Translation, NucleotideComplementsWithThePalindromicOption) {
    Texts t{"ACGT$"};
    load(t, kNucl + "A\nC\nG\nT\nag\nCT\n*\n");
    EXPECT_EQ(translate(1), "Symbol AG ->> R\nSymbol CT ->> Y\nSymbol '*' ->> N\n");
    EXPECT_EQ(std::vector<int>(alphabetTables().comp, alphabetTables().comp + 7),
              (std::vector<int>{3, 2, 1, 0, 5, 4, 6}));
    EXPECT_EQ(alphabetTables().comp[7], 0);  // the spacer symbol's entry is never set
}

TEST_F(Translation, NucleotidePatternsAreSameLetterTests) {
    Texts t{"ACGTN$"};
    load(t, kNucl + "AA\nCN\nGRN\nyt\nGA\nTNCY\nACGT\nN\n");
    EXPECT_EQ(translate(0),
              "Symbol AA ->> A\nSymbol CN ->> C\nSymbol GRN ->> G\nSymbol YT ->> T\n"
              "Symbol GA ->> R\nSymbol TNCY ->> Y\n");
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "C", "G", "T", "R", "Y", "[ACGT]", "N", "_"}));
    // TabSymb is not changed by the translation.
    EXPECT_EQ(accepted(0), std::vector<int>{0});
    EXPECT_EQ(accepted(6), (std::vector<int>{0, 1, 2, 4}));  // A C G T; N is text symbol 3
}

TEST_F(TranslationDeathTest, RowsAreTriedInOrder) {
    // NN has the letters of "AN" (row 1) before anything else.
    Texts t{"ACGTN$"};
    load(t, kNucl + "NN\nNA\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(0); }), ::testing::ExitedWithCode(1),
                exactly("Symbol NN ->> A\nSymbol NA ->> A\n"
                        ">> Error: possible confusion between symbols NA\n and NN\n of the alphabet.\n"
                        "Modify the alphabet to avoid conflict.\n"));
}

TEST_F(TranslationDeathTest, ArAndNaAreConfused) {
    Texts t{"ACGTN$"};
    load(t, kNucl + "AR\nNA\nC\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(0); }), ::testing::ExitedWithCode(1),
                exactly("Symbol AR ->> A\nSymbol NA ->> A\n"
                        ">> Error: possible confusion between symbols NA\n and AR\n of the alphabet.\n"
                        "Modify the alphabet to avoid conflict.\n"));
}

TEST_F(TranslationDeathTest, ConfusionNamesTheLaterLineFirstWithItsCase) {
    Texts t{"ACGT$"};
    load(t, kNucl + "A\nar\nAG\n");
    // The first failure ends the run: AG is never translated.
    EXPECT_EXIT(asProgram([&] { transAlphMod(0); }), ::testing::ExitedWithCode(1),
                exactly("Symbol AR ->> A\n"
                        ">> Error: possible confusion between symbols ar\n and A\n of the alphabet.\n"
                        "Modify the alphabet to avoid conflict.\n"));
}

TEST_F(TranslationDeathTest, LineRConflictsWithLineAg) {
    Texts t{"ACGRT$"};
    load(t, kNucl + "AG\nR\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(0); }), ::testing::ExitedWithCode(1),
                exactly("Symbol AG ->> R\n"
                        ">> Error: possible confusion between symbols R\n and AG\n of the alphabet.\n"
                        "Modify the alphabet to avoid conflict.\n"));
}

TEST_F(TranslationDeathTest, ConfusionOfTheLastLineWithoutLineFeed) {
    Texts t{"AC$"};
    load(t, "other\nA\nA");
    EXPECT_EXIT(asProgram([&] { transAlphMod(0); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: possible confusion between symbols A and A\n of the alphabet.\n"
                        "Modify the alphabet to avoid conflict.\n"));
}

TEST_F(Translation, AminoAcidNames) {
    Texts t{"ILVK$"};
    load(t, "Protein\nILV\n*\nK\n");
    EXPECT_EQ(translate(0), "Symbol '*' ->> X\n");
    EXPECT_EQ(names(), (std::vector<std::string>{"[ILV]", "X", "K", "_"}));
}

TEST_F(Translation, AminoAcidAgIsBracketedNotR) {
    Texts t{"AG$"};
    load(t, "Protein\nAG\nAR\n");
    EXPECT_EQ(translate(0), "");
    EXPECT_EQ(names(), (std::vector<std::string>{"[AG]", "[AR]", "_"}));
}

TEST_F(Translation, OtherAlphabetKeepsNamesAndBracketsTheJoker) {
    Texts t{"AB$"};
    load(t, "my alphabet\nAB\n*\nA\n");
    EXPECT_EQ(translate(0), "");
    EXPECT_EQ(names(), (std::vector<std::string>{"AB", "[*]", "A", "_"}));
}

TEST_F(TranslationDeathTest, OtherAlphabetConfusionOfIdenticalLines) {
    Texts t{"AB$"};
    load(t, "x\nAB\nab\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(0); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: possible confusion between symbols ab\n and AB\n of the alphabet.\n"
                        "Modify the alphabet to avoid conflict.\n"));
}

TEST_F(TranslationDeathTest, PalindromesNeedANucleotideAlphabet) {
    Texts t{"AT$"};
    load(t, "Protein\nA\nT\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(1); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: palindroms can only be used with a nucleotide alphabet\n"));
    resetAlphabetGlobals();
    load(t, "other\n*\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(1); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: palindroms can only be used with a nucleotide alphabet\n"));
}

TEST_F(TranslationDeathTest, RWithoutYIsRefusedWithThePalindromicOption) {
    Texts t{"ACGT$"};
    load(t, kNucl + "A\nC\nG\nT\nAG\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(1); }), ::testing::ExitedWithCode(1),
                exactly("Symbol AG ->> R\n"
                        ">> Error: the models alphabet misses some symbols to be used with the palindromic "
                        "option ('R' and 'Y' must appear together)\n"));
}

TEST_F(TranslationDeathTest, CWithoutGIsRefused) {
    Texts t{"ACT$"};
    load(t, kNucl + "A\nT\nC\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(1); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: the models alphabet misses some symbols to be used with the palindromic "
                        "option ('C' and 'G' must appear together)\n"));
}

TEST_F(Translation, AAndTAloneAreEnough) {
    Texts t{"AT$"};
    load(t, kNucl + "T\nA\n");
    EXPECT_EQ(translate(1), "");
    EXPECT_EQ(alphabetTables().comp[0], 1);
    EXPECT_EQ(alphabetTables().comp[1], 0);
}

TEST_F(Translation, JokerAloneIsItsOwnComplement) {
    Texts t{"AT$"};
    load(t, kNucl + "*\n");
    EXPECT_EQ(translate(1), "Symbol '*' ->> N\n");
    EXPECT_EQ(alphabetTables().comp[0], 0);
}

TEST_F(TranslationDeathTest, BracketedSymbolHasNoComplement) {
    Texts t{"ACGT$"};
    load(t, kNucl + "A\nT\nACGT\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(1); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: some symbols of the models alphabet misses their complemtentary symbol, "
                        "cannot use the palindromic option\n"));
}

TEST_F(TranslationDeathTest, LineNHasNoComplement) {
    Texts t{"ACGTN$"};
    load(t, kNucl + "A\nT\nN\n");
    EXPECT_EXIT(asProgram([&] { transAlphMod(1); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: some symbols of the models alphabet misses their complemtentary symbol, "
                        "cannot use the palindromic option\n"));
}

TEST_F(Translation, ChercheCompPairsBothWaysOrDoesNothing) {
    Texts t{"ACGT$"};
    load(t, kNucl + "A\nC\nG\nT\n");
    for (int m = 0; m < 4; m++) alphabetTables().comp[m] = -1;
    chercheComp("C", "G");
    EXPECT_EQ(alphabetTables().comp[1], 2);
    EXPECT_EQ(alphabetTables().comp[2], 1);
    chercheComp("R", "Y");  // neither present
    EXPECT_EQ(alphabetTables().comp[0], -1);
    EXPECT_EQ(alphabetTables().comp[3], -1);
}

TEST_F(TranslationDeathTest, ChercheCompWithOneOfThePair) {
    Texts t{"ACGT$"};
    load(t, kNucl + "A\nC\n");
    EXPECT_EXIT(asProgram([&] { chercheComp("T", "A"); }), ::testing::ExitedWithCode(1),
                exactly(">> Error: the models alphabet misses some symbols to be used with the palindromic "
                        "option ('T' and 'A' must appear together)\n"));
}

TEST_F(Translation, Str2nummodMatchesCurrentNamesExactly) {
    Texts t{"ACGT$"};
    load(t, kNucl + "A\nag\n*\nA\n");
    EXPECT_EQ(str2nummod("A"), 0);  // first match
    EXPECT_EQ(str2nummod("AG"), 1);
    EXPECT_EQ(str2nummod("ag"), -1);
    EXPECT_EQ(str2nummod("*"), 2);
    EXPECT_EQ(str2nummod("R"), -1);
    EXPECT_EQ(str2nummod("_"), -1);  // the spacer symbol is never found
    EXPECT_EQ(str2nummod(""), -1);
}
