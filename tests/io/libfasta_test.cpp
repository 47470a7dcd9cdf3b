// The FASTA reader.
// The reader keeps the header that ends an entry in module state, so every
// test reads its stream to the end (until ReadFastaSequence returns 0): that
// leaves nothing retained for the next test.
#include "libfasta.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support_test_util.h"

using supporttest::fileWith;

namespace {

struct Entry {
    std::string name;
    std::string comment;
    std::string seq;
    long offset;
    int length;
    int bufsize;
    int ok;
};

// Reads every entry of content with ReadFastaSequence, one fresh record per entry
// as the drivers do, until the read that returns 0.
std::vector<Entry> readAll(const std::string& content) {
    FILE* f = fileWith(content);
    std::vector<Entry> entries;
    for (;;) {
        FastaSequence* s = NewFastaSequence();
        if (s == nullptr) throw std::runtime_error("NewFastaSequence failed");
        int r = ReadFastaSequence(f, s);
        if (r == 1)
            entries.push_back({s->name, s->comment, std::string(s->seq, s->length), s->offset, s->length,
                               s->bufsize, s->ok});
        FreeFastaSequence(s);
        if (r == 0) break;
    }
    fclose(f);
    return entries;
}

}  // namespace

TEST(NewFastaSequence, GivesAnEmptyRecordWithA1024ByteBuffer) {
    FastaSequence* s = NewFastaSequence();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ok, 1);
    EXPECT_EQ(s->length, 0);
    EXPECT_EQ(s->bufsize, 1024);
    EXPECT_STREQ(s->name, "");
    EXPECT_STREQ(s->comment, "");
    ASSERT_NE(s->seq, nullptr);
    EXPECT_EQ(FreeFastaSequence(s), 0);
}

TEST(FreeFastaSequence, AcceptsNull) {
    EXPECT_EQ(FreeFastaSequence(nullptr), 0);
}

TEST(ReadFastaSequence, HeaderNamesAndComments) {
    auto e = readAll(">seq1 first test\nAC\n>seq2\nGG\n> x y\nT\n>\nA\n>a\tb  c\nC\n");
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].name, "seq1");
    EXPECT_EQ(e[0].comment, "first test");
    EXPECT_EQ(e[1].name, "seq2");
    EXPECT_EQ(e[1].comment, "<no comment>");
    EXPECT_EQ(e[2].name, "x");
    EXPECT_EQ(e[2].comment, "x y");
    EXPECT_EQ(e[3].name, "<no Name>");
    EXPECT_EQ(e[3].comment, "<no comment>");
    EXPECT_EQ(e[4].name, "a");
    EXPECT_EQ(e[4].comment, "b  c");  // everything after the first whitespace
    EXPECT_EQ(e[0].seq, "AC");
    EXPECT_EQ(e[4].seq, "C");
}

TEST(ReadFastaSequence, LongNameIsCutTo63CharactersButTheCommentIsNot) {
    std::string name(70, 'n');
    auto e = readAll(">" + name + " the comment\nAC\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].name, name.substr(0, 63));
    EXPECT_EQ(e[0].comment, "the comment");
}

TEST(ReadFastaSequence, NameLooksOnlyAtTheFirst64CharactersOfTheHeader) {
    // ">" and two blanks use 3 of the 64 characters.
    std::string name(70, 'n');
    auto e = readAll(">  " + name + "\nA\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].name, name.substr(0, 61));
    EXPECT_EQ(e[0].comment, " " + name);
    // A name that starts after the 64th character is not found.
    auto f = readAll(">" + std::string(70, ' ') + "late\nA\n");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].name, "<no Name>");
}

TEST(ReadFastaSequence, CommentStopsAtTheHeaders512thCharacter) {
    auto e = readAll("> " + std::string(600, 'c') + "\nA\n>n " + std::string(600, 'd') + "\nA\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].comment, std::string(510, 'c'));
    EXPECT_EQ(e[0].name, std::string(62, 'c'));
    EXPECT_EQ(e[1].comment, std::string(509, 'd'));
    // No whitespace among the first 512 characters: no comment.
    auto f = readAll(">" + std::string(520, 'x') + " late\nA\n");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].comment, "<no comment>");
}

TEST(ReadFastaSequence, SequenceLinesAreJoinedUnchanged) {
    auto e = readAll(">s\nacgt\n\nNN ac\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].seq, "acgtNN ac");
    EXPECT_EQ(e[0].length, 9);
    EXPECT_EQ(e[0].ok, 1);
}

TEST(ReadFastaSequence, EmptyLinesAddNothing) {
    auto e = readAll(">s\n\n\nAC\n\n\nGT\n\n>t\n\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].seq, "ACGT");
    EXPECT_EQ(e[1].seq, "");
    EXPECT_EQ(e[1].length, 0);
}

TEST(ReadFastaSequence, LongLinesAreReadInPiecesThatJoinSeamlessly) {
    std::string line;
    for (int i = 0; i < 3000; i++) line += "ACGT"[i % 4];
    auto e = readAll(">s\n" + line + "\nTT\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].seq, line + "TT");
    EXPECT_EQ(e[0].length, 3002);
    // Pieces of 1023, 1023 and 954: the second makes t = 2046 >= 1024, so 2 x 2046 + 1.
    EXPECT_EQ(e[0].bufsize, 4093);
}

TEST(ReadFastaSequence, BufferGrowsOnlyWhenTheTextReachesItsSize) {
    auto a = readAll(">s\n" + std::string(1023, 'A') + "\n");
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].length, 1023);
    EXPECT_EQ(a[0].bufsize, 1024);
    auto b = readAll(">s\n" + std::string(1024, 'A') + "\n");
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].length, 1024);
    EXPECT_EQ(b[0].bufsize, 2049);
}

TEST(ReadFastaSequence, CarriageReturnsAreKept) {
    auto e = readAll(">s1 c\r\nAC\r\nGT\r\n>s2\r\nA\r\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].name, "s1");
    EXPECT_EQ(e[0].comment, "c\r");
    EXPECT_EQ(e[0].seq, "AC\rGT\r");
    EXPECT_EQ(e[0].length, 6);
    EXPECT_EQ(e[1].name, "s2");
    EXPECT_EQ(e[1].comment, "");  // the CR is the first whitespace, nothing follows it
    EXPECT_EQ(e[1].seq, "A\r");
}

TEST(ReadFastaSequence, EntryWhoseHeaderIsTheLastLine) {
    auto e = readAll(">a\nAC\n>b\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].name, "b");
    EXPECT_EQ(e[1].length, 0);
    EXPECT_EQ(e[1].seq, "");
    EXPECT_EQ(e[1].ok, 1);
    auto f = readAll(">a\nAC\n>b");  // no final line feed
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[1].name, "b");
    EXPECT_EQ(f[1].length, 0);
}

TEST(ReadFastaSequence, LastLineWithoutLineFeed) {
    auto e = readAll(">a\nAC\nGT");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].seq, "ACGT");
}

TEST(ReadFastaSequence, TwoEntriesInTurnThenEndOfStream) {
    FILE* f = fileWith(">a x\nAC\n>b\nGT\n");
    FastaSequence* s = NewFastaSequence();
    ASSERT_EQ(ReadFastaSequence(f, s), 1);
    EXPECT_STREQ(s->name, "a");
    EXPECT_STREQ(s->seq, "AC");
    EXPECT_EQ(s->offset, 0);
    // The first read stopped on ">b": the stream is already past it.
    EXPECT_EQ(ftell(f), 11);
    FastaSequence* t = NewFastaSequence();
    ASSERT_EQ(ReadFastaSequence(f, t), 1);
    EXPECT_STREQ(t->name, "b");
    EXPECT_STREQ(t->comment, "<no comment>");
    EXPECT_STREQ(t->seq, "GT");
    EXPECT_EQ(t->offset, 8);  // back at the retained header's ">"
    FastaSequence* u = NewFastaSequence();
    EXPECT_EQ(ReadFastaSequence(f, u), 0);
    EXPECT_EQ(u->ok, 0);
    EXPECT_EQ(u->length, 0);
    EXPECT_EQ(ReadFastaSequence(f, u), 0);
    FreeFastaSequence(s);
    FreeFastaSequence(t);
    FreeFastaSequence(u);
    fclose(f);
}

TEST(ReadFastaSequence, EmptyStreamOrNoHeaderGivesNothing) {
    EXPECT_TRUE(readAll("").empty());
    EXPECT_TRUE(readAll("ACGT\n>a\nAC\n").empty());
    EXPECT_TRUE(readAll("\n>a\nAC\n").empty());
}

TEST(ReadFastaSequence, OffsetsOfSeveralEntries) {
    std::string content = ">first entry\nACGT\nAC\n>second\n\nG\n>third\n";
    auto e = readAll(content);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].offset, 0);
    EXPECT_EQ(e[1].offset, static_cast<long>(content.find(">second")));
    EXPECT_EQ(e[2].offset, static_cast<long>(content.find(">third")));
}

// The part of a header line beyond its first 1023 characters used to be read
// as sequence text of that entry; it is now skipped.
TEST(ReadFastaSequence, RestOfAnOverlongHeaderIsNotSequenceText) {
    std::string longHeader = ">long " + std::string(2000, 'x') + " tail";
    auto e = readAll(longHeader + "\nACGT\n");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].name, "long");
    EXPECT_EQ(e[0].comment, std::string(506, 'x'));
    EXPECT_EQ(e[0].seq, "ACGT");
    EXPECT_EQ(e[0].length, 4);
}

TEST(ReadFastaSequence, RestOfAnOverlongRetainedHeaderIsNotSequenceText) {
    std::string content = ">a\nAC\n>b" + std::string(1500, 'b') + "\nGT\n>c\nTT\n";
    auto e = readAll(content);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].seq, "AC");
    EXPECT_EQ(e[1].name, "b" + std::string(62, 'b'));
    EXPECT_EQ(e[1].seq, "GT");
    EXPECT_EQ(e[1].offset, 6);  // the whole header line is measured
    EXPECT_EQ(e[2].seq, "TT");
    EXPECT_EQ(e[2].offset, static_cast<long>(content.find(">c")));
}

TEST(ReadFastaSequence, OverlongHeaderAsTheLastLine) {
    auto e = readAll(">a\nAC\n>b " + std::string(1500, 'z'));
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].name, "b");
    EXPECT_EQ(e[1].length, 0);
}

TEST(ReadFastaSequence, HeaderOfExactly1023Characters) {
    std::string header = ">h " + std::string(1020, 'y');
    ASSERT_EQ(header.size(), 1023u);
    auto e = readAll(header + "\nAC\n" + header + "\nGT\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].seq, "AC");
    EXPECT_EQ(e[1].seq, "GT");
    EXPECT_EQ(e[1].offset, 1024 + 3);
}

TEST(ReadFastaSequence, PieceOfASequenceLineThatStartsWithGreaterThanIsAHeader) {
    // Each 1023-character piece is tested like a line: a piece that begins
    // with ">" ends the entry and is taken as the next header.
    std::string line = std::string(1023, 'A') + ">B";
    auto e = readAll(">s\n" + line + "\n");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].seq, std::string(1023, 'A'));
    EXPECT_EQ(e[1].name, "B");
}

TEST(GetFastaSequence, RereadsAnEntryFromItsOffsetWithoutRetaining) {
    FILE* f = fileWith(">a one\nAC\n>b\nGT\n>c\nTT\n");
    FastaSequence* s = NewFastaSequence();
    while (ReadFastaSequence(f, s) == 1) {
    }
    s->offset = 0;
    ASSERT_EQ(GetFastaSequence(f, s), 1);
    EXPECT_STREQ(s->name, "a");
    EXPECT_STREQ(s->comment, "one");
    EXPECT_STREQ(s->seq, "AC");
    EXPECT_EQ(s->offset, 0);
    EXPECT_EQ(s->ok, 1);
    // It stopped on ">b" without retaining it: a read now takes the next line, "GT", which is no header.
    FastaSequence* t = NewFastaSequence();
    EXPECT_EQ(ReadFastaSequence(f, t), 0);
    // From a non-zero offset the offset adjustment applies as for a retained header:
    // ">b" is at 10, and 10 - (2 + 1) = 7.
    s->offset = 10;
    ASSERT_EQ(GetFastaSequence(f, s), 1);
    EXPECT_STREQ(s->name, "b");
    EXPECT_STREQ(s->seq, "GT");
    EXPECT_EQ(s->offset, 7);
    EXPECT_EQ(ReadFastaSequence(f, t), 0);
    FreeFastaSequence(s);
    FreeFastaSequence(t);
    fclose(f);
}

TEST(WriteFastaSequence, HeaderThenLinesOfWidth) {
    FastaSequence* s = NewFastaSequence();
    strcpy(s->name, "n1");
    strcpy(s->comment, "some text");
    strcpy(s->seq, "ACGTACGTAC");
    s->length = 10;
    FILE* f = tmpfile();
    WriteFastaSequence(f, s, 4);
    s->length = 8;
    WriteFastaSequence(f, s, 4);
    s->name[0] = '\0';
    s->comment[0] = '\0';
    s->length = 0;
    WriteFastaSequence(f, s, 4);
    rewind(f);
    char buf[256] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    EXPECT_EQ(std::string(buf, n),
              ">n1 some text\nACGT\nACGT\nAC\n"
              ">n1 some text\nACGT\nACGT\n"
              "><no name> <no comment>\n");
    FreeFastaSequence(s);
}

TEST(GetFastaName, ExtractsTheFirstWord) {
    EXPECT_STREQ(GetFastaName(">seq1 first test"), "seq1");
    EXPECT_STREQ(GetFastaName(">\t x\ty"), "x");
    EXPECT_STREQ(GetFastaName(">"), "<no Name>");
    EXPECT_STREQ(GetFastaName(">   "), "<no Name>");
}

TEST(GetFastaComment, ExtractsWhatFollowsTheFirstWhitespace) {
    EXPECT_STREQ(GetFastaComment(">seq1 first test"), "first test");
    EXPECT_STREQ(GetFastaComment(">seq1"), "<no comment>");
    EXPECT_STREQ(GetFastaComment(">seq1\fx"), "x");
    EXPECT_STREQ(GetFastaComment(">seq1 "), "");
}

TEST(CountAlpha, CountsAsciiLettersOnly) {
    EXPECT_EQ(CountAlpha(""), 0);
    EXPECT_EQ(CountAlpha("aZ 9-_\xe9Q"), 3);
}

TEST(StrcpyAlpha, CopiesLettersAndReturnsTheEnd) {
    char dest[32];
    memset(dest, '#', sizeof dest);
    char* end = StrcpyAlpha(dest, "a1 b-C\n");
    EXPECT_STREQ(dest, "abC");
    EXPECT_EQ(end, dest + 3);
    EXPECT_EQ(*end, '\0');
    end = StrcpyAlpha(dest, "123");
    EXPECT_EQ(end, dest);
    EXPECT_STREQ(dest, "");
}

TEST(NextSpace, FindsTheFirstOfTheSixWhitespaceCharacters) {
    char a[] = "abc def";
    EXPECT_EQ(NextSpace(a), a + 3);
    char b[] = "abc";
    EXPECT_EQ(NextSpace(b), nullptr);
    const char* ws = " \t\n\v\f\r";
    for (int i = 0; i < 6; i++) {
        char c[4] = {'x', ws[i], 'y', '\0'};
        EXPECT_EQ(NextSpace(c), c + 1) << i;
    }
}

// A NUL byte is data like any other: it stays in the text (where the driver refuses it) and a header
// holding one still gives the next entry its true offset.
TEST(ReadFastaSequence, NulBytesAreKeptAndCounted) {
    const std::string file = std::string(">a\nAC\0GTTT\n\0\n>b x\0y\nGG\n", 23);
    auto e = readAll(file);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].seq, std::string("AC\0GTTT\0", 8));
    EXPECT_EQ(e[0].length, 8);
    EXPECT_EQ(e[1].seq, "GG");
    EXPECT_EQ(e[1].offset, 13);
    EXPECT_EQ(e[1].name, "b");
}

// Found by fuzzing: a last header without a line feed was given an offset one too low, so that reading the
// entry again from it found no header.
TEST(ReadFastaSequence, OffsetOfALastHeaderWithoutLineFeed) {
    for (const std::string& file : {std::string(">a\r\n=ACGT\r\n>b"), std::string(">a\nAC\n>b"),
                                    ">a\nAC\n>" + std::string(1500, 'b')}) {
        auto e = readAll(file);
        ASSERT_EQ(e.size(), 2u);
        EXPECT_EQ(e[1].offset, static_cast<long>(file.rfind('>'))) << file.substr(0, 12);
        FILE* f = fileWith(file);
        FastaSequence* s = NewFastaSequence();
        s->offset = e[1].offset;
        EXPECT_EQ(GetFastaSequence(f, s), 1);
        EXPECT_EQ(s->length, 0);
        FreeFastaSequence(s);
        fclose(f);
    }
}
