// Reading back result files: models and their occurrence lines, where one file breaks the form, and the
// final counts read from its end.
#include "result_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

FILE* memoryFile(const std::string& text) {
    FILE* f = tmpfile();
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
    return f;
}

const std::string kHeader = "%%% 2 2/3 30 8 8 1 ACGT$\n   \n====\n";
const std::string kCounts = "Nb models: 2\nUser time : 1.25 sec.\n";

TEST(StoredResult, ModelsOccurrencesAndFinalCounts) {
    const std::string body =
        "AAAA_CCCC 0000-1111 2\n"
        "Seq     0   Pos    12\t3 \t+\n"
        "Seq     2   Pos     4\t5 \t-\n"
        "2\n"
        "GGGG_TTTT 2222-3333 3\n"
        "Seq 99999999999   Pos     7\t2 \t+\n"  // beyond the 32-bit range: no sequence
        "1\n";
    FILE* f = memoryFile(kHeader + body + kCounts);
    const StoredResult r = readStoredResult(f);
    ASSERT_EQ(r.models.size(), 2u);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.recordedModels, 2);
    EXPECT_DOUBLE_EQ(r.userSeconds, 1.25);
    EXPECT_EQ(r.models[0].name, "AAAA_CCCC");
    EXPECT_EQ(r.models[0].code, "0000-1111");
    EXPECT_EQ(r.models[0].support, 2);
    EXPECT_EQ(r.models[0].occurrences, 2);
    EXPECT_EQ(r.models[1].occurrences, 1);
    const auto first = storedOccurrences(f, r.models[0].occurrencesAt, 1, true);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1].seq, 2);
    EXPECT_EQ(first[1].pos, 4);
    EXPECT_EQ(first[1].spacers, std::vector<int>{5});
    EXPECT_EQ(first[1].strand, '-');
    EXPECT_EQ(storedOccurrences(f, r.models[0].occurrencesAt, 1, false)[1].strand, '+');
    EXPECT_EQ(storedOccurrences(f, r.models[1].occurrencesAt, 1, true)[0].seq, -1);
    long long models = 0;
    double seconds = 0;
    EXPECT_TRUE(storedFinalCounts(f, &models, &seconds));
    EXPECT_EQ(models, 2);
    EXPECT_DOUBLE_EQ(seconds, 1.25);
    fclose(f);
}

// Files that do not end with their final counts, whole: cut in the models, in the counts, or empty.
TEST(StoredResult, FilesCutShortAreNotComplete) {
    const std::string whole = kHeader + "AAAA 0000 2\nSeq     0   Pos    1\t\n1\n" + kCounts;
    for (const std::string& text : {whole.substr(0, kHeader.size() + 20), whole.substr(0, whole.size() - 3),
                                    whole.substr(0, whole.size() - kCounts.size() + 14), std::string()}) {
        FILE* f = memoryFile(text);
        long long models = 0;
        double seconds = 0;
        EXPECT_FALSE(readStoredResult(f).complete) << text;
        EXPECT_FALSE(storedFinalCounts(f, &models, &seconds)) << text;
        fclose(f);
    }
    FILE* f = memoryFile(whole);
    EXPECT_TRUE(readStoredResult(f).complete);
    fclose(f);
}

}  // namespace
