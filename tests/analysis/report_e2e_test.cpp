// The HTML report through both programs, rendered in headless Chromium: the page loads without a script
// error, holds one row and one occurrence histogram per top model with the numbers of the ranked table,
// its histograms count the occurrences the result files list, a run without model says so, and names
// taken from files show as text.  Without Chromium the rendering tests are skipped with a message
// (MOTBOX_REQUIRE_BROWSER=1 turns that into a failure, as CI sets it).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using testutil::readFile;
using testutil::runCommand;
using testutil::writeFile;

std::string findBrowser() {
    if (const char* given = std::getenv("MOTBOX_CHROMIUM"); given != nullptr && *given != '\0') return given;
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        for (const char* name : {"chromium", "chromium-browser", "google-chrome"})
            if (access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return "";
}

// Runs headless Chromium on a local page with `action` (--dump-dom, --print-to-pdf=...).
testutil::RunResult browse(const std::string& browser, const std::string& url, const std::string& profile,
                           const std::string& action) {
    return runCommand({"/usr/bin/timeout", "180", browser, "--headless", "--no-sandbox", "--disable-gpu",
                       "--disable-quic", "--no-first-run", "--disable-background-networking",
                       "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile, action,
                       url});
}

// The page as the browser built it, scripts run.
std::string renderedDom(const std::string& browser, const std::string& url, const std::string& profile) {
    const testutil::RunResult r = browse(browser, url, profile, "--dump-dom");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Uncaught"), std::string::npos) << r.err;
    return r.out;
}

std::string unescaped(std::string text) {
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}})
        for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
    return text;
}

// The text of the element with class `name` in html (the first one).
std::string textOfClass(const std::string& html, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(html, m, std::regex("class=\"" + name + "\"[^>]*>([^<]*)<"))) return "<missing>";
    return unescaped(m[1]);
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
    return n;
}

// The rows of the rendered models table, each as its own piece of the page.
std::vector<std::string> modelRows(const std::string& dom) {
    std::vector<std::string> rows;
    const std::string start = "<tr class=\"model\"";
    for (size_t at = dom.find(start); at != std::string::npos;) {
        const size_t next = dom.find(start, at + 1);
        const size_t end = std::min(next, dom.find("</table>", at));
        rows.push_back(dom.substr(at, end - at));
        at = next;
    }
    return rows;
}

// Occurrences the bars of one alignment group of a row's histogram add up to.
long barTotal(const std::string& row, const std::string& group) {
    const size_t at = row.find("<g class=\"" + group + "\"");
    if (at == std::string::npos) return -1;
    const std::string g = row.substr(at, row.find("</g>", at) - at);
    long total = 0;
    const std::regex bar(": (\\d+) occurrences?</title>");
    for (std::sregex_iterator it(g.begin(), g.end(), bar), end; it != end; ++it) total += std::stol((*it)[1]);
    return total;
}

std::vector<std::vector<std::string>> tableRows(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(readFile(path));
    std::string line;
    std::getline(in, line);  // the comment
    std::getline(in, line);  // the columns
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream cut(line);
        for (std::string f; std::getline(cut, f, '\t');) fields.push_back(f);
        rows.push_back(fields);
    }
    return rows;
}

// The rows heading a family: their family column (second to last) is their own rank.
std::vector<std::vector<std::string>> familyHeads(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::vector<std::string>> heads;
    for (const auto& row : rows)
        if (row.size() >= 2 && row[row.size() - 2] == row[0]) heads.push_back(row);
    return heads;
}

// By code: the sequence of every occurrence line of that model in a result file.
std::map<std::string, std::vector<int>> occurrenceSequences(const std::string& result) {
    std::map<std::string, std::vector<int>> found;
    for (testutil::WrittenModel& m : testutil::writtenModels(result)) found[m.code] = std::move(m.sequences);
    return found;
}

// For each sequence of a FASTA file: whether it is the first of its identical copies (those the ranking
// counts).
std::vector<bool> countedSequences(const std::string& fasta) {
    std::vector<std::string> texts;
    std::istringstream in(readFile(fasta));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '>')
            texts.emplace_back();
        else if (!texts.empty())
            texts.back() += line;
    }
    std::vector<bool> counted;
    for (size_t i = 0; i < texts.size(); ++i) {
        for (char& c : texts[i]) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        bool first = true;
        for (size_t j = 0; j < i && first; ++j) first = texts[j] != texts[i];
        counted.push_back(first);
    }
    return counted;
}

class Report : public ::testing::Test {
  protected:
    void SetUp() override {
        browser_ = findBrowser();
        if (browser_.empty()) {
            if (const char* required = std::getenv("MOTBOX_REQUIRE_BROWSER");
                required != nullptr && *required == '1')
                FAIL() << "Chromium is required (MOTBOX_REQUIRE_BROWSER=1) but was not found in PATH";
            GTEST_SKIP()
                << "Chromium not found (Debian package chromium, or MOTBOX_CHROMIUM=path): the report is "
                   "not rendered";
        }
        dir_ = testutil::makeTempDir();
        writeFile(dir_ + "/acgt.alph", "Nucleotide\nA\nC\nG\nT\n");
    }
    void TearDown() override { testutil::removeTree(dir_); }
    testutil::RunResult run(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        return runCommand(args, dir_);
    }
    std::string dom(const std::string& page) {
        return renderedDom(browser_, "file://" + dir_ + "/" + page, dir_ + "/profile");
    }
    std::string browser_, dir_;
};

const std::string kPromoters = std::string(MOTBOX_SOURCE_DIR) + "/examples/dm3_promoters_200.fa";

TEST_F(Report, RowsHistogramsAndNumbersAreThoseOfTheTableAndTheResultFiles) {
    struct Case {
        std::string program;
        std::vector<std::string> boxes;  // the arguments after the quorum
        std::string spacer;              // the spacer as the header words it
    };
    const std::vector<Case> cases = {
        {MOTBOX_BIN,
         {"2", "8", "8", "0", "4", "4", "0", "0", "10", "4", "4", "0"},
         "Spacer 1: 0 to 10 characters<"},
        {MOTBOX_DELTA_BIN,
         {"2", "8", "8", "0", "4", "4", "0", "0", "10", "2", "4", "4", "0"},
         "Spacer 1: 0 to 10 characters, sorted into windows of 5 lengths (Delta 2)<"},
    };
    const std::vector<bool> counted = countedSequences(kPromoters);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        std::vector<std::string> args = {"--report",  "page.html", "--report-top", "12",
                                         "acgt.alph", kPromoters,  "res",          "10"};
        args.insert(args.end(), c.boxes.begin(), c.boxes.end());
        ASSERT_EQ(run(c.program, args).status, 0);
        // named after the page without --rank; the page's rows are the families' heads
        const auto table = familyHeads(tableRows(dir_ + "/page.tsv"));
        ASSERT_GE(table.size(), 12u);

        const std::string page = dom("page.html");
        EXPECT_NE(page.find("data-ready=\"1\""), std::string::npos) << "the page's script did not finish";
        EXPECT_EQ(page.find("data-script-error"), std::string::npos);
        EXPECT_NE(page.find("href=\"page.tsv\""), std::string::npos);
        for (const std::string& words : {std::string("Quorum: 20 of 200 sequences (10 %)<"),
                                         std::string("Box 1: 4 symbols, no substitution<"), c.spacer})
            EXPECT_NE(page.find(words), std::string::npos) << words;
        const std::vector<std::string> rows = modelRows(page);
        ASSERT_EQ(rows.size(), 12u);
        std::map<std::string, std::map<std::string, std::vector<int>>> results;  // by result file
        for (size_t r = 0; r < rows.size(); ++r) {
            const std::vector<std::string>& t = table[r];
            SCOPED_TRACE(t[1]);
            EXPECT_NE(rows[r].find("data-rank=\"" + t[0] + "\""), std::string::npos);
            EXPECT_EQ(textOfClass(rows[r], "model-name"), t[1]);
            EXPECT_EQ(textOfClass(rows[r], "support-input"), t[3]);
            EXPECT_EQ(textOfClass(rows[r], "sequences-input"), t[4]);
            EXPECT_EQ(textOfClass(rows[r], "support-control"), t[5]);
            EXPECT_EQ(textOfClass(rows[r], "sequences-control"), t[6]);
            EXPECT_EQ(textOfClass(rows[r], "enrichment"), t[7]);
            EXPECT_EQ(textOfClass(rows[r], "e-value"), t[10]);
            EXPECT_EQ(countOf(rows[r], "class=\"histogram\""), 1u);
            EXPECT_EQ(countOf(rows[r], "class=\"spacer-lengths\""), 1u);

            if (results.count(t[11]) == 0) results[t[11]] = occurrenceSequences(readFile(dir_ + "/" + t[11]));
            long listed = 0;
            for (int seq : results[t[11]][t[2]]) listed += counted.at(static_cast<size_t>(seq)) ? 1 : 0;
            EXPECT_GT(listed, 0);
            EXPECT_EQ(barTotal(rows[r], "align-end"), listed);
            EXPECT_EQ(barTotal(rows[r], "align-start"), listed);
        }
    }
}

// Occurrences of one strand in the bars of an alignment group of a row's histogram split by strand.
long strandBarTotal(const std::string& row, const std::string& group, char strand) {
    const size_t at = row.find("<g class=\"" + group + "\"");
    if (at == std::string::npos) return -1;
    const std::string g = row.substr(at, row.find("</g>", at) - at);
    long total = 0;
    const std::regex bar(std::string(": (\\d+) occurrences? on the \\") + strand + " strand</title>");
    for (std::sregex_iterator it(g.begin(), g.end(), bar), end; it != end; ++it) total += std::stol((*it)[1]);
    return total;
}

// Both strands: the page loads, says so, names each row's reverse complement as the table does, and its
// stacked bars hold, strand by strand, the occurrence lines of the result file.
TEST_F(Report, BothStrandsRowsSplitTheirHistogramsByStrand) {
    ASSERT_EQ(run(MOTBOX_BIN, {"--both-strands",
                               "--report",
                               "page.html",
                               "--report-top",
                               "6",
                               "acgt.alph",
                               kPromoters,
                               "res",
                               "10",
                               "2",
                               "8",
                               "8",
                               "0",
                               "4",
                               "4",
                               "0",
                               "0",
                               "10",
                               "4",
                               "4",
                               "0"})
                  .status,
              0);
    const auto table = familyHeads(tableRows(dir_ + "/page.tsv"));
    ASSERT_GE(table.size(), 6u);
    const std::string page = dom("page.html");
    EXPECT_NE(page.find("data-ready=\"1\""), std::string::npos);
    EXPECT_EQ(page.find("data-script-error"), std::string::npos);
    EXPECT_NE(page.find("<dd id=\"strands\">both strands"), std::string::npos);
    const std::vector<std::string> rows = modelRows(page);
    ASSERT_EQ(rows.size(), 6u);
    const std::vector<bool> counted = countedSequences(kPromoters);
    const std::string result = readFile(dir_ + "/res");
    for (size_t r = 0; r < rows.size(); ++r) {
        const std::vector<std::string>& t = table[r];
        SCOPED_TRACE(t[1]);
        ASSERT_GE(t.size(), 12u);
        const std::string rc = t.size() > 12 ? t[12] : "";
        if (rc == "=") {
            EXPECT_NE(rows[r].find("its own reverse complement"), std::string::npos);
        } else if (!rc.empty()) {
            EXPECT_EQ(textOfClass(rows[r], "rc-name"), rc);
        }
        // The model's occurrence lines by strand, in the sequences the ranking counts.
        long listed[2] = {0, 0};
        const size_t header = result.find("\n" + t[1] + " " + t[2] + " ");
        ASSERT_NE(header, std::string::npos);
        std::istringstream lines(result.substr(result.find('\n', header + 1) + 1));
        std::string line;
        while (std::getline(lines, line) && line.rfind("Seq ", 0) == 0) {
            if (counted.at(static_cast<size_t>(std::stoi(line.substr(4)))))
                ++listed[line.back() == '-' ? 1 : 0];
        }
        EXPECT_GT(listed[0] + listed[1], 0);
        for (const char* group : {"align-end", "align-start"}) {
            EXPECT_EQ(strandBarTotal(rows[r], group, '+'), listed[0]) << group;
            EXPECT_EQ(strandBarTotal(rows[r], group, '-'), listed[1]) << group;
        }
    }
}

TEST_F(Report, ARunWithoutModelSaysSoInsteadOfDrawing) {
    ASSERT_EQ(run(MOTBOX_BIN, {"--report", "empty.html", "acgt.alph", kPromoters, "res", "10", "2", "10",
                               "10", "0", "5", "5", "0", "0", "10", "5", "5", "0"})
                  .status,
              0);
    ASSERT_EQ(tableRows(dir_ + "/empty.tsv").size(), 0u);
    const std::string page = dom("empty.html");
    EXPECT_NE(page.find("data-ready=\"1\""), std::string::npos);
    EXPECT_NE(page.find("id=\"no-model\""), std::string::npos);
    EXPECT_EQ(page.find("<svg"), std::string::npos);
    EXPECT_EQ(page.find("<table id=\"models\""), std::string::npos);
}

TEST_F(Report, FileNamesHoldingMarkupShowAsText) {
    // A directory and a file name that together read "<script>document.title='injected'</script>.fa".
    const std::string folder = "<script>document.title='injected'<";
    ASSERT_EQ(mkdir((dir_ + "/" + folder).c_str(), 0700), 0);
    writeFile(dir_ + "/" + folder + "/script>.fa", readFile(kPromoters));
    ASSERT_EQ(run(MOTBOX_BIN, {"--report",
                               "page.html",
                               "--rank",
                               "t&<i>.tsv",
                               "--report-top",
                               "3",
                               "acgt.alph",
                               folder + "/script>.fa",
                               "res",
                               "10",
                               "2",
                               "8",
                               "8",
                               "0",
                               "4",
                               "4",
                               "0",
                               "0",
                               "10",
                               "4",
                               "4",
                               "0"})
                  .status,
              0);
    const std::string page = dom("page.html");
    EXPECT_NE(page.find("data-ready=\"1\""), std::string::npos);
    EXPECT_EQ(page.find("injected</title>"), std::string::npos) << "a file name ran as a script";
    EXPECT_NE(page.find("&lt;script&gt;document.title='injected'&lt;/script&gt;.fa"), std::string::npos);
    EXPECT_NE(page.find(">t&amp;&lt;i&gt;.tsv</a>"), std::string::npos)
        << "the table's name is not shown as text";
    EXPECT_EQ(modelRows(page).size(), 3u);
}

TEST_F(Report, OpensAlignedOnTheStartsOnRequestAndPrints) {
    ASSERT_EQ(run(MOTBOX_BIN, {"--report", "page.html", "--report-top",
                               "5",        "acgt.alph", kPromoters,
                               "res",      "10",        "2",
                               "8",        "8",         "0",
                               "4",        "4",         "0",
                               "0",        "10",        "4",
                               "4",        "0"})
                  .status,
              0);
    const std::string page = dom("page.html#aligned-start");
    EXPECT_NE(page.find("data-ready=\"1\""), std::string::npos);
    EXPECT_EQ(page.find("data-script-error"), std::string::npos);
    EXPECT_NE(page.find("<body class=\"aligned-start\""), std::string::npos) << page.substr(0, 2000);
    EXPECT_NE(page.find("aria-pressed=\"true\">aligned on sequence starts</button>"), std::string::npos);

    const testutil::RunResult printed = browse(browser_, "file://" + dir_ + "/page.html", dir_ + "/profile",
                                               "--print-to-pdf=" + dir_ + "/page.pdf");
    EXPECT_EQ(printed.status, 0) << printed.err;
    const std::string pdf = readFile(dir_ + "/page.pdf");
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    EXPECT_GT(pdf.size(), 10000u);
}

}  // namespace
