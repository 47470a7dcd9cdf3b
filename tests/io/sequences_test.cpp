// Loading the FASTA entries into the texts, and the refusals of a file with too few of them.

#include "sequences.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "as_program.h"
#include "test_util.h"

namespace {

const DriverMessages kTestMessages = {.noSequence = "no entry", .oneSequence = "one entry"};

class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override {
        freeTexts(loadedCount);
        removeTree(dir);
    }
    // Loads the FASTA content through a file, as the drivers do.
    LoadedSequences load(const std::string& content) {
        std::string path = dir + "/in.fa";
        writeFile(path, content);
        FILE* fp = fopen(path.c_str(), "r");
        LoadedSequences loaded = loadSequences(fp);
        fclose(fp);
        loadedCount = loaded.count;
        return loaded;
    }
    std::string dir;
    int loadedCount = 0;
};

std::string fastaOfEntries(int n) {
    std::string content;
    for (int k = 0; k < n; k++) content += ">e" + std::to_string(k) + "\nAC" + std::string(k % 7, 'G') + "\n";
    return content;
}

using LoadTest = TempDirTest;

TEST_F(LoadTest, TextsCarryTheTerminatorAndLengthsAddUp) {
    LoadedSequences loaded = load(">s1 first\nacgt\nAC\n>s2\n\nNN ac\n>empty\n>s4\nT\n");
    ASSERT_EQ(loaded.count, 4);
    EXPECT_STREQ(sequenceTexts().text[0], "acgtAC$");
    EXPECT_STREQ(sequenceTexts().text[1], "NN ac$");
    EXPECT_STREQ(sequenceTexts().text[2], "$");
    EXPECT_STREQ(sequenceTexts().text[3], "T$");
    EXPECT_EQ(loaded.totalLength, 6 + 5 + 0 + 1);
    EXPECT_EQ(loaded.longest, 6);
    EXPECT_EQ(loaded.capacity, 500);
    ASSERT_NE(loaded.records, nullptr);
    EXPECT_STREQ(loaded.records[1]->name, "s2");
    freeFastaRecords(loaded);
    EXPECT_EQ(loaded.records, nullptr);
    EXPECT_STREQ(sequenceTexts().text[3], "T$") << "the texts outlive the records";
}

TEST_F(LoadTest, EmptyFileAndFileWithoutHeaderLoadNothing) {
    for (const char* content : {"", "acgt\nacgt\n"}) {
        LoadedSequences loaded = load(content);
        EXPECT_EQ(loaded.count, 0) << content;
        EXPECT_EQ(loaded.totalLength, 0);
        freeFastaRecords(loaded);
        freeTexts(0);
    }
}

TEST_F(LoadTest, ArraysDoubleWhenFull) {
    struct Case {
        int entries;
        int capacity;
    };
    // The read that finds the end of the file takes a slot too, so 500 entries already double.
    for (Case c : {Case{499, 500}, Case{500, 1000}, Case{501, 1000}, Case{1000, 2000}}) {
        LoadedSequences loaded = load(fastaOfEntries(c.entries));
        ASSERT_EQ(loaded.count, c.entries);
        EXPECT_EQ(loaded.capacity, c.capacity) << c.entries;
        // Every entry landed in its own slot, in file order.
        for (int k : {0, c.entries / 2, c.entries - 1}) {
            std::string want = "AC" + std::string(k % 7, 'G') + "$";
            EXPECT_STREQ(sequenceTexts().text[k], want.c_str()) << k;
            EXPECT_EQ(loaded.records[k]->name, "e" + std::to_string(k));
        }
        freeFastaRecords(loaded);
        freeTexts(loaded.count);
        loadedCount = 0;
    }
}

FastaSequence* noRecord() {
    return nullptr;
}

// A read that ran out of memory for the sequence: the entry is there but incomplete.
int incompleteRead(FILE*, FastaSequence* s) {
    s->ok = 0;
    s->length = 3;
    memcpy(s->name, "cut", 4);
    return 1;
}

TEST_F(LoadTest, AllocationFailuresOfTheReaderEndTheRun) {
    std::string path = dir + "/in.fa";
    writeFile(path, ">a\nACGT\n");
    EXPECT_EXIT(asProgram([&] {
                    FILE* fp = fopen(path.c_str(), "r");
                    loadSequences(fp, noRecord);
                }),
                ::testing::ExitedWithCode(1), "^>> Error: main: cannot allocate a FASTA record\n$");
    EXPECT_EXIT(asProgram([&] {
                    FILE* fp = fopen(path.c_str(), "r");
                    loadSequences(fp, NewFastaSequence, incompleteRead);
                }),
                ::testing::ExitedWithCode(1),
                "^>> Error: main: cannot allocate the text of sequence 0 \\('cut'\\)\n$");
}

TEST(SequenceCountTest, FewerThanTwoSequencesAreRefused) {
    EXPECT_EXIT(asProgram([&] { checkSequenceCount(0, kTestMessages); }), ::testing::ExitedWithCode(1),
                "^>> Error: no entry\n$");
    EXPECT_EXIT(asProgram([&] { checkSequenceCount(1, kTestMessages); }), ::testing::ExitedWithCode(1),
                "^>> Error: one entry\n$");
    checkSequenceCount(2, kTestMessages);  // returns
}

TEST(RefuseRunTest, DirectMessageNamesTheFileAndFatalOnesDoNot) {
    EXPECT_EXIT(asProgram([&] {
                    refuseRun({"Error: cannot open '%s'\n", false}, "x.fa");
                }),
                ::testing::ExitedWithCode(1), "^Error: cannot open 'x.fa'\n$");
    EXPECT_EXIT(asProgram([&] {
                    refuseRun({"cannot open", true}, "x.fa");
                }),
                ::testing::ExitedWithCode(1), "^>> Error: cannot open\n$");
}

}  // namespace
