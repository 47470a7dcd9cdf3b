#include "alphabet.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "barre.h"
#include "global.h"
#include "run_exit.h"
#include "strands.h"

namespace {

AlphabetTables processAlphabet;

}  // namespace

constinit thread_local AlphabetTables* alphabetInUse = &processAlphabet;

void AlphabetTables::releaseNames() {
    for (int m = 0; m < kAlphabetSlots; m++) {
        free(nummod2str[m]);
        nummod2str[m] = nullptr;
        free(alphMod[m]);
        alphMod[m] = nullptr;
    }
}

namespace {

// Symbol lines are read through a 512-byte buffer: longer lines come in pieces.
constexpr int kLineSize = 512;

bool isLetterOrDigit(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}
bool isLower(int c) {
    return c >= 'a' && c <= 'z';
}

// Heap copy with room for three more characters, so that transAlphMod can
// rewrite the name in place as "[" name "]".
char* copyName(const char* s) {
    char* p = allocOrDie<char>(strlen(s) + 4, "chargeAlphabet: cannot allocate 'nummod2str[i]'\n");
    strcpy(p, s);
    return p;
}

// What the text check does with each byte, looked up once per character of megabases of text.
enum class TextByte : unsigned char { Kept, Lowered, End, Checked };

constexpr std::array<TextByte, 256> kTextBytes = [] {
    std::array<TextByte, 256> bytes{};
    for (int b = 0; b < 256; ++b) {
        const int c = static_cast<signed char>(b);
        bytes[b] = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? TextByte::Kept
                   : c >= 'a' && c <= 'z'                           ? TextByte::Lowered
                   : c == '$' || c == 0                             ? TextByte::End
                                                                    : TextByte::Checked;
    }
    return bytes;
}();

void checkTexts(char** texts, int nbSeq, bool* present) {
    for (int s = 0; s < nbSeq; s++) {
        char* t = texts[s];
        // Each text ends with "$"; a NUL also ends it, so a text without "$" is never overrun.
        for (int p = 0;; p++) {
            const TextByte kind = kTextBytes[static_cast<unsigned char>(t[p])];
            if (kind == TextByte::Kept) {
                present[static_cast<unsigned char>(t[p])] = true;
                continue;
            }
            if (kind == TextByte::End) break;
            if (kind == TextByte::Lowered) {
                t[p] = static_cast<char>(t[p] - 32);
                present[static_cast<unsigned char>(t[p])] = true;
                continue;
            }
            // Neither a letter nor a digit.
            const int c = static_cast<signed char>(t[p]);
            if (c <= 31 || c == 127) {
                endRun(1, ">> Error: Seq %d Pos %d Control character %d ('%c')\n", s, p, c, c);
            }
            if (c == '*' || c == '_') {
                endRun(1, ">> Error: Seq %d Pos %d Forbidden character %d ('%c') in the sequences\n", s, p, c,
                       c);
            }
            fprintf(stderr, "> Warning: Seq %d Pos %d Non alphanumeric character '%c'\n", s, p, c);
            present[c] = true;
        }
    }
}

void buildTextAlphabet(const bool* present) {
    int k = 0;
    for (int code = 32; code <= 126; code++) {
        if (!present[code]) continue;
        alphabetTables().alphSeq[k] = static_cast<char>(code);
        alphabetTables().carseq2num[code] = k;
        k++;
    }
    alphabetTables().nbSymbSeq = k;
    alphabetTables().alphSeq[k] = '$';
    alphabetTables().alphSeq[k + 1] = '\0';
    alphabetTables().carseq2num[static_cast<int>('$')] = alphabetTables().nbSymbSeq;
    if (!progressMeter().quiet)
        printf("\n** Text alphabet: %s (%d symbols + terminator) **\n", alphabetTables().alphSeq,
               alphabetTables().nbSymbSeq);
}

// Reads one symbol line (already known not to start with its line end) as symbol n.
void readSymbolLine(char* line, int n) {
    alphabetTables().alphMod[n] = strdup(line);
    if (alphabetTables().alphMod[n] == nullptr)
        fatalError("alphabet: chargeAlphabet: cannot allocate 'alphMod[i]'\n");
    for (int i = 0; line[i] != '\n' && line[i] != '\0'; i++) {
        int c = static_cast<signed char>(line[i]);
        if (c <= 32 || c == 127) {
            endRun(1, ">> Error: Control character '%c' in the alphabet file\n", c);
        }
        if (c == '*') {
            if (i != 0 || (line[1] != '\n' && line[1] != '\0')) {
                endRun(1, ">> Error: JOKER character '%c' not alone\n", '*');
            }
            if (alphabetTables().numJOKER != -1) fatalError("JOKER defined 2 times in the alphabet file\n");
            alphabetTables().numJOKER = n;
            for (int k = 0; k < alphabetTables().nbSymbSeq; k++) alphabetTables().TabSymb[n][k] = 1;
            // The star then goes through the tests below like any character: it is warned about as
            // non-alphanumeric, and being no text symbol it sets nothing more.
        }
        if (c == '$' || c == '_') {
            endRun(1, ">> Error: Forbidden character %d ('%c') in the alphabet file\n", c, c);
        }
        if (!isLetterOrDigit(c))
            fprintf(stderr, "Warning: Non alphanumeric character '%c' in the alphabet file\n", c);
        if (isLower(c)) {
            c -= 32;
            line[i] = static_cast<char>(c);
        }
        if (alphabetTables().carseq2num[c] != -1)
            alphabetTables().TabSymb[n][alphabetTables().carseq2num[c]] = 1;
    }
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
    alphabetTables().nummod2str[n] = copyName(line);
}

// Bracketed display name, written in the name's own block (allocated with room for it).
void bracketName(char* name) {
    size_t len = strlen(name);
    memmove(name + 1, name, len);
    name[0] = '[';
    name[len + 1] = ']';
    name[len + 2] = '\0';
}

void setOneLetter(char* name, char letter, bool star) {
    if (star)
        progressNote("Symbol '%c' ->> %c\n", '*', letter);
    else
        progressNote("Symbol %s ->> %c\n", name, letter);
    name[0] = letter;
    name[1] = '\0';
}

bool sameLettersAsAny(const char* name, const char* const* patterns) {
    for (; *patterns; patterns++)
        if (strshfl(name, *patterns)) return true;
    return false;
}

void translateNucleotide(char* name) {
    static const char* const kA[] = {"AR", "AN", "ARN", nullptr};
    static const char* const kC[] = {"CY", "CN", "CYN", nullptr};
    static const char* const kG[] = {"GR", "GN", "GRN", nullptr};
    static const char* const kT[] = {"TY", "TN", "TYN", nullptr};
    static const char* const kR[] = {"AG", "AGR", "AGN", "AGRN", nullptr};
    static const char* const kY[] = {"CT", "CTY", "CTN", "CTYN", nullptr};
    if (sameLettersAsAny(name, kA))
        setOneLetter(name, 'A', false);
    else if (sameLettersAsAny(name, kC))
        setOneLetter(name, 'C', false);
    else if (sameLettersAsAny(name, kG))
        setOneLetter(name, 'G', false);
    else if (sameLettersAsAny(name, kT))
        setOneLetter(name, 'T', false);
    else if (sameLettersAsAny(name, kR))
        setOneLetter(name, 'R', false);
    else if (sameLettersAsAny(name, kY))
        setOneLetter(name, 'Y', false);
    else if (strlen(name) >= 2)
        bracketName(name);
    else if (strcmp(name, "*") == 0)
        setOneLetter(name, 'N', true);
}

void translateAminoAcid(char* name) {
    if (strlen(name) >= 2)
        bracketName(name);
    else if (strcmp(name, "*") == 0)
        setOneLetter(name, 'X', true);
}

void translateOther(char* name) {
    if (strcmp(name, "*") == 0) bracketName(name);
}

int findName(const char* s) {
    for (int m = 0; m < alphabetTables().nbSymbMod; m++)
        if (strcmp(alphabetTables().nummod2str[m], s) == 0) return m;
    return -1;
}

}  // namespace

void initAlphabet() {
    for (int i = 0; i < kAlphabetSlots; i++) alphabetTables().carseq2num[i] = -1;
    memset(alphabetTables().TabSymb, 0, sizeof alphabetTables().TabSymb);
    alphabetTables().alphSeq[0] = '\0';
}

char* chargeAlphabet(FILE* file, char** texts, int nbSeq, bool withComplements) {
    bool present[128] = {};
    checkTexts(texts, nbSeq, present);
    // The reverse strands hold the complement of every character the texts hold.
    if (withComplements)
        for (int code = 32; code <= 126; code++)
            if (present[code] && complementBase(static_cast<char>(code)) != 0)
                present[static_cast<unsigned char>(complementBase(static_cast<char>(code)))] = true;
    buildTextAlphabet(present);

    char line[kLineSize];
    if (fgets(line, kLineSize, file) == nullptr)
        alphabetTables().type = 2;
    else if (strstr(line, "Nucleotide") != nullptr)
        alphabetTables().type = 0;
    else if (strstr(line, "Protein") != nullptr)
        alphabetTables().type = 1;
    else
        alphabetTables().type = 2;
    static const char* const kTypeNames[] = {"Nucleotides", "Amino-acids", "unknown"};
    progressNote("** Models alphabet: %s **\n", kTypeNames[alphabetTables().type]);

    alphabetTables().nbSymbMod = 0;
    while (fgets(line, kLineSize, file) != nullptr) {
        if (line[0] == '\n') continue;
        // Tables hold 127 models numbers, the spacer symbol's included.
        if (alphabetTables().nbSymbMod >= kMaxModelsSymbols) {
            endRun(1, ">> Error: the alphabet file declares more than %d models symbols\n",
                   kMaxModelsSymbols);
        }
        readSymbolLine(line, alphabetTables().nbSymbMod);
        alphabetTables().nbSymbMod++;
    }

    progressNote("Models alphabet's size: %d\n", alphabetTables().nbSymbMod);
    alphabetTables().numSAUT = alphabetTables().nbSymbMod;
    alphabetTables().nummod2str[alphabetTables().numSAUT] = copyName("_");

    for (int k = 0; k < alphabetTables().nbSymbSeq; k++) {
        bool accepted = false;
        for (int m = 0; m < alphabetTables().nbSymbMod && !accepted; m++)
            accepted = alphabetTables().TabSymb[m][k] != 0;
        if (!accepted)
            fprintf(stderr, "> Warning: text symbol '%c' is not recognized by any models symbol.\n",
                    alphabetTables().alphSeq[k]);
    }
    return alphabetTables().alphSeq;
}

int strshfl(const char* a, const char* b) {
    if (strlen(a) != strlen(b)) return 0;
    for (; *a; a++)
        if (strchr(b, *a) == nullptr) return 0;
    return 1;
}

void chercheComp(const char* a, const char* b) {
    int i = findName(a);
    int j = findName(b);
    if (i != -1 && j != -1) {
        alphabetTables().comp[i] = j;
        alphabetTables().comp[j] = i;
    } else if (i != -1 || j != -1) {
        endRun(
            1,
            ">> Error: the models alphabet misses some symbols to be used with the palindromic option ('%s' "
            "and '%s' must appear together)\n",
            a, b);
    }
}

int str2nummod(const char* s) {
    return findName(s);
}

void transAlphMod(unsigned char pal) {
    for (int i = 0; i < alphabetTables().nbSymbMod; i++) {
        if (alphabetTables().type == 0)
            translateNucleotide(alphabetTables().nummod2str[i]);
        else if (alphabetTables().type == 1)
            translateAminoAcid(alphabetTables().nummod2str[i]);
        else
            translateOther(alphabetTables().nummod2str[i]);
        for (int j = 0; j < i; j++) {
            if (strcmp(alphabetTables().nummod2str[i], alphabetTables().nummod2str[j]) == 0) {
                endRun(1,
                       ">> Error: possible confusion between symbols %s and %s of the alphabet.\nModify the "
                       "alphabet to avoid conflict.\n",
                       alphabetTables().alphMod[i], alphabetTables().alphMod[j]);
            }
        }
    }
    if (!pal) return;
    if (alphabetTables().type != 0) {
        endRun(1, ">> Error: palindroms can only be used with a nucleotide alphabet\n");
    }
    for (int m = 0; m < alphabetTables().nbSymbMod; m++) alphabetTables().comp[m] = -1;
    chercheComp("A", "T");
    chercheComp("C", "G");
    chercheComp("R", "Y");
    if (alphabetTables().numJOKER != -1)
        alphabetTables().comp[alphabetTables().numJOKER] = alphabetTables().numJOKER;
    for (int m = 0; m < alphabetTables().nbSymbMod; m++) {
        if (alphabetTables().comp[m] == -1) {
            endRun(1,
                   ">> Error: some symbols of the models alphabet misses their complemtentary symbol, "
                   "cannot use "
                   "the palindromic option\n");
        }
    }
}
