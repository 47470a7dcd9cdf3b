// The report page: escaping of every data field, one row and its charts per model, occurrence bins that
// hold exactly the occurrences they name, a page that loads nothing, and family rows with their members
// and the logos of their boxes, each stack as high as its information.
#include "report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

std::string rendered(const ReportRun& run, const std::vector<ReportModel>& top) {
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    writeReport(out, run, top);
    fclose(out);
    std::string page(data, size);
    free(data);
    return page;
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

bool contains(const std::string& text, const std::string& what) {
    return countOf(text, what) > 0;
}

// The text from the first `open` to the next `close`.
std::string partOf(const std::string& text, const std::string& open, const std::string& close) {
    const size_t begin = text.find(open);
    return begin == std::string::npos ? "" : text.substr(begin, text.find(close, begin) - begin);
}

ReportRun smallRun() {
    ReportRun run;
    run.program = "motbox";
    run.inputFile = "in.fa";
    run.sequences = run.countedSequences = 40;
    run.controlSequences = 400;
    run.modelsWritten = 900;
    run.tableFile = run.tableLink = "table.tsv";
    run.symbols = {{"A"}, {"C"}, {"G"}, {"T"}, {"AG"}, {"ACGT", true}};
    return run;
}

ReportModel modelOf(size_t rank, const std::string& code, std::vector<SpacerRange> spacers = {},
                    ReportOccurrences occurrences = {}) {
    ReportModel model;
    model.rank = rank;
    model.name = "m" + code;
    model.code = code;
    model.support = static_cast<int32_t>(30 - rank);
    model.controlSupport = static_cast<int32_t>(7 * rank);
    model.score = enrichmentOf(model.support, 40, model.controlSupport, 400, 900);
    model.spacers = std::move(spacers);
    model.occurrences = std::move(occurrences);
    return model;
}

struct Bar {
    long long low, high, count;
};

// The bars of a chart, read back from their titles.
std::vector<Bar> barsOf(const std::string& chart) {
    static const std::regex title(R"(<title>(?:lengths? )?(-?\d+)(?: to (-?\d+))?: (\d+) occurrences?<)");
    std::vector<Bar> bars;
    for (std::sregex_iterator it(chart.begin(), chart.end(), title), end; it != end; ++it) {
        const long long low = std::stoll((*it)[1]);
        bars.push_back({low, (*it)[2].matched ? std::stoll((*it)[2]) : low, std::stoll((*it)[3])});
    }
    return bars;
}

// Equal-width bins side by side, each holding exactly the values of its range, and all of them.
void expectBinsHold(const std::vector<Bar>& bars, const std::vector<int>& values) {
    ASSERT_FALSE(bars.empty());
    long long total = 0;
    for (const Bar& bar : bars) {
        EXPECT_EQ(bar.low, &bar == &bars[0] ? bar.low : (&bar - 1)->high + 1);
        EXPECT_EQ(bar.high - bar.low, bars[0].high - bars[0].low);
        const auto in = [&](int v) { return v >= bar.low && v <= bar.high; };
        EXPECT_EQ(bar.count, std::count_if(values.begin(), values.end(), in))
            << bar.low << " to " << bar.high;
        total += bar.count;
    }
    EXPECT_EQ(total, static_cast<long long>(values.size()));
}

TEST(Report, EscapesEveryDataFieldAndEncodesTheTableLink) {
    const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                         {"ACGT", "ACGT"},
                                                         {"a<b>&c", "a&lt;b&gt;&amp;c"},
                                                         {R"("x" 'y')", "&quot;x&quot; &#39;y&#39;"}};
    for (const auto& [text, escaped] : cases) EXPECT_EQ(htmlEscaped(text), escaped);

    const std::string hostile = "<script>alert(1)</script> & \"q\" 'a'";
    ReportRun run = smallRun();
    run.program = run.commandLine = run.inputFile = run.control = run.tableFile = hostile;
    run.criteria = {hostile};
    run.tableLink = "my dir/t#1?x%.tsv";
    run.symbols[0].accepted = "<";
    ReportModel model = modelOf(1, "04-5", {{2, 3}});
    model.name = model.file = hostile;
    const std::string page = rendered(run, {model});
    EXPECT_EQ(countOf(page, "<script"), 1u);
    EXPECT_FALSE(contains(page, "alert(1)</"));
    EXPECT_GE(countOf(page, "&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;q&quot; &#39;a&#39;"), 9u);
    EXPECT_TRUE(contains(page, "<div class=\"model-name\" title=\"result file &lt;script&gt;"));
    EXPECT_TRUE(contains(page, "&#39;a&#39;\">&lt;script&gt;"));  // the name after the attribute
    EXPECT_TRUE(contains(page, "<span class=\"sym\">&lt;</span>"));
    EXPECT_TRUE(contains(page, "href=\"my%20dir/t%231%3Fx%25.tsv\""));
}

TEST(Report, OneRowPerModelWithItsNumbersSymbolsAndCharts) {
    // Model 2 lists a length, 7, outside its second spacer.
    const std::vector<ReportModel> top = {
        modelOf(1, "0123"),
        modelOf(2, "04-5*3-9", {{12, 22}, {5, 5}}, {{3, 9}, {-30, -2}, {{12, 22, 15}, {5, 5, 7}}, {}}),
        modelOf(3, "32-10", {{0, 3}}), modelOf(4, "2")};
    const std::string page = rendered(smallRun(), top);
    EXPECT_EQ(countOf(page, "<tr class=\"model\""), top.size());
    EXPECT_EQ(countOf(page, "<svg class=\"histogram\""), top.size());
    EXPECT_EQ(countOf(page, "no occurrence listed"), 2 * (top.size() - 1));
    for (const ReportModel& m : top) {
        const std::string row = partOf(page, "data-rank=\"" + std::to_string(m.rank) + "\"", "</tr>");
        const std::string cells[] = {
            "<td class=\"rank\">" + std::to_string(m.rank) + "</td>",
            "<span class=\"support-input\">" + std::to_string(m.support) + "</span>",
            "<span class=\"support-control\">" + std::to_string(m.controlSupport) + "<",
            "<span class=\"sequences-input\">40</span>",
            "<span class=\"sequences-control\">400</span>",
            "<span class=\"enrichment\">" + formatNumber(m.score.enrichment) + "</span>",
            ">" + formatNumber(m.score.eValue) + "</span>"};
        for (const std::string& cell : cells) EXPECT_TRUE(contains(row, cell)) << cell;
        EXPECT_EQ(countOf(row, "<svg class=\"spacer-lengths\""), m.spacers.size());
    }
    const std::string drawing = partOf(page, "data-rank=\"2\"", "<td class=\"support\"");
    EXPECT_EQ(countOf(drawing, "<span class=\"box\">"), 3u);
    EXPECT_EQ(countOf(drawing, "class=\"sym degenerate\" title=\"A, G\""), 1u);
    EXPECT_EQ(countOf(drawing, "class=\"sym joker\""), 2u);    // '*' and the joker symbol 5
    EXPECT_EQ(countOf(drawing, "class=\"sym unknown\""), 1u);  // 9: no such symbol
    EXPECT_TRUE(contains(drawing, ">12-22</span>") && contains(drawing, ">5</span>"));

    const std::vector<Bar> lengths = barsOf(partOf(page, "<svg class=\"spacer-lengths\"", "</tr>"));
    ASSERT_EQ(lengths.size(), 11u + 1u);  // every length of 12-22, then the single 5
    expectBinsHold({lengths.begin(), lengths.end() - 1}, {12, 22, 15});
    EXPECT_EQ(lengths.back().count, 2);
}

TEST(Report, OccurrenceBinsHoldTheirOccurrencesInBothAlignments) {
    std::vector<ReportOccurrences> cases = {{{0, 7, 99, 99}, {-185, -40, -31, -1}, {}, {}},
                                            {{5}, {-1}, {}, {}}};
    std::mt19937 random(11);
    for (int trial = 0; trial < 40; ++trial) {
        ReportOccurrences& occurrences = cases.emplace_back();
        const int length = std::uniform_int_distribution<>(1, trial % 2 ? 60 : 50000)(random);
        for (int k = std::uniform_int_distribution<>(1, 400)(random); k > 0; --k) {
            occurrences.starts.push_back(std::uniform_int_distribution<>(0, length - 1)(random));
            occurrences.startsFromEnd.push_back(occurrences.starts.back() - length);
        }
    }
    const auto page = [](const ReportOccurrences& occurrences) {
        return rendered(smallRun(), {modelOf(1, "01", {}, occurrences)});
    };
    const long long niceWidths[] = {1, 2, 5, 10, 20, 25, 50, 100, 200, 250, 500, 1000, 2000, 2500};
    for (const ReportOccurrences& occurrences : cases) {
        const std::string html = page(occurrences);
        const std::vector<Bar> ends = barsOf(partOf(html, "<g class=\"align-end\">", "</g>"));
        const std::vector<Bar> starts = barsOf(partOf(html, "<g class=\"align-start\">", "</g>"));
        expectBinsHold(ends, occurrences.startsFromEnd);
        expectBinsHold(starts, occurrences.starts);
        ASSERT_FALSE(ends.empty() || starts.empty());
        EXPECT_TRUE(ends.back().high == -1 && starts.front().low == 0);
        EXPECT_LE(std::max(ends.size(), starts.size()), 40u);
        for (const Bar& bar : {ends[0], starts[0]})
            EXPECT_EQ(std::count(std::begin(niceWidths), std::end(niceWidths), bar.high - bar.low + 1), 1);
    }
    const std::string hand = page(cases[0]);
    for (const char* bar :
         {"-185 to -181: 1 occurrence<", "-40 to -36: 1 occurrence<", "95 to 99: 2 occurrences<"})
        EXPECT_TRUE(contains(hand, bar)) << bar;
}

TEST(Report, EmptyRunSaysSoAndEveryPageLoadsNothing) {
    const std::string empty = rendered(smallRun(), {});
    EXPECT_TRUE(contains(empty, "<p id=\"no-model\">"));
    EXPECT_FALSE(contains(empty, "<table id=\"models\"") || contains(empty, "<svg"));

    const ReportModel model = modelOf(1, "0-1", {{1, 4}}, {{1, 2}, {-9, -3}, {{1, 4}}, {}});
    for (const std::string& page : {empty, rendered(smallRun(), {model})}) {
        for (const char* outside : {"http:", "https:", "//", "<link", "src=", "@import", "url("})
            EXPECT_FALSE(contains(page, outside)) << outside;
        EXPECT_EQ(countOf(page, "href="), 1u);
        EXPECT_TRUE(contains(page, "<a id=\"table-link\" href=\"table.tsv\">table.tsv</a>"));
    }
}

}  // namespace

namespace {

// The bars of one strand in a chart split by strand, read back from their titles.
std::vector<Bar> strandBarsOf(const std::string& chart, char strand) {
    static const std::regex title(
        R"(<title>(-?\d+)(?: to (-?\d+))?: (\d+) occurrences? on the ([+-]) strand<)");
    std::vector<Bar> bars;
    for (std::sregex_iterator it(chart.begin(), chart.end(), title), end; it != end; ++it)
        if ((*it)[4].str()[0] == strand) {
            const long long low = std::stoll((*it)[1]);
            bars.push_back({low, (*it)[2].matched ? std::stoll((*it)[2]) : low, std::stoll((*it)[3])});
        }
    return bars;
}

TEST(Report, BothStrandsSplitEveryBinByStrandAndNameTheReverseComplement) {
    std::mt19937 random(5);
    ReportRun run = smallRun();
    run.bothStrands = true;
    run.rows = 600;
    for (int trial = 0; trial < 20; ++trial) {
        ReportOccurrences occurrences;
        const int length = std::uniform_int_distribution<>(1, trial % 2 ? 80 : 3000)(random);
        for (int k = std::uniform_int_distribution<>(1, 300)(random); k > 0; --k) {
            occurrences.starts.push_back(std::uniform_int_distribution<>(0, length - 1)(random));
            occurrences.startsFromEnd.push_back(occurrences.starts.back() - length);
            occurrences.strands.push_back(random() % 3 == 0 ? '-' : '+');
        }
        ReportModel model = modelOf(1, "01", {}, occurrences);
        model.reverseComplement = trial % 3 == 0 ? "=" : trial % 3 == 1 ? "" : "mRC";
        const std::string page = rendered(run, {model});
        for (const char strand : {'+', '-'}) {
            std::vector<int> starts, ends;
            for (size_t i = 0; i < occurrences.starts.size(); ++i)
                if (occurrences.strands[i] == strand) {
                    starts.push_back(occurrences.starts[i]);
                    ends.push_back(occurrences.startsFromEnd[i]);
                }
            if (starts.empty()) continue;
            std::vector<Bar> start = strandBarsOf(partOf(page, "<g class=\"align-start\">", "</g>"), strand);
            std::vector<Bar> end = strandBarsOf(partOf(page, "<g class=\"align-end\">", "</g>"), strand);
            expectBinsHold(start, starts);
            expectBinsHold(end, ends);
        }
        EXPECT_TRUE(contains(page, "<dd id=\"strands\">both strands"));
        EXPECT_TRUE(contains(page, "The 1 best-ranked of 600 rows."));
        const char* named[] = {"its own reverse complement", "reverse complement not among the models",
                               "reverse complement <span class=\"rc-name\">mRC</span>"};
        EXPECT_TRUE(contains(page, named[trial % 3])) << trial;
    }
    // A single-strand page says nothing of strands.
    const std::string single = rendered(smallRun(), {modelOf(1, "01", {}, {{1, 2}, {-9, -3}, {}, {}})});
    for (const char* strandOnly : {"strand", "reverse complement", "rows."})
        EXPECT_FALSE(contains(single, strandOnly)) << strandOnly;
}

}  // namespace

namespace {

ReportRun familyRun() {
    ReportRun run = smallRun();
    run.families = true;
    run.familiesCount = 37;
    return run;
}

TEST(Report, FamilyRowsGiveTheirSizeAndMembersTheRestBehindAToggle) {
    const size_t memberCounts[] = {0, 3, 5, 6, 11};
    std::vector<ReportModel> top;
    for (const size_t members : memberCounts) {
        ReportModel& model = top.emplace_back(modelOf(top.size() + 1, "0123"));
        model.familySize = members + 1;
        for (size_t i = 0; i < members; ++i) model.familyMembers.push_back("m<" + std::to_string(i) + ">&'");
    }
    const std::string page = rendered(familyRun(), top);
    EXPECT_TRUE(contains(page, "The 5 best-ranked of 37 families."));
    EXPECT_TRUE(contains(page, "<th>family head</th>") && !contains(page, "<th>model</th>"));
    EXPECT_TRUE(contains(page, "<dd id=\"families\">37 families;"));
    EXPECT_FALSE(contains(page, "m<0"));
    EXPECT_FALSE(contains(page, "class=\"logo"));  // no box counts given
    for (const ReportModel& model : top) {
        const std::string row = partOf(page, "data-rank=\"" + std::to_string(model.rank) + "\"", "</tr>");
        const size_t members = model.familyMembers.size(), shown = std::min<size_t>(members, 5);
        EXPECT_TRUE(contains(row, "family of " + std::to_string(model.familySize) +
                                      (model.familySize == 1 ? " model<" : " models<")));
        const std::string toggle = partOf(row, "<details", "</details>");
        const std::string listed = row.substr(0, row.find("<details"));
        EXPECT_EQ(countOf(listed, "<span class=\"member\">"), shown) << members;
        EXPECT_EQ(countOf(toggle, "<span class=\"member\">"), members - shown) << members;
        EXPECT_EQ(contains(toggle, "<summary>and " + std::to_string(members - shown) + " more</summary>"),
                  members > 5);
        for (size_t i = 0; i < members; ++i)
            EXPECT_TRUE(contains(i < 5 ? listed : toggle, "&lt;" + std::to_string(i) + "&gt;&amp;&#39;<"));
    }
    // A run without families draws none of it, and counts its rows as models.
    const std::string plain = rendered(smallRun(), {modelOf(1, "0123"), modelOf(2, "01-2", {{1, 3}})});
    EXPECT_TRUE(contains(plain, "The 2 best-ranked of 900 models.") && contains(plain, "<th>model</th>"));
    for (const char* familyOnly :
         {"family of", "\"family", "families", "member", "<details", "logo", "bits", "glyph"})
        EXPECT_FALSE(contains(plain, familyOnly)) << familyOnly;
}

struct Glyph {
    std::string letter, colour;
    double bottom, scale;  // baseline y, and the height as a share of the axis
};

std::vector<Glyph> glyphsOf(const std::string& stack) {
    static const std::regex glyph(
        R"re(<text class="glyph ([\w-]+)"[^>]*transform="translate\(0 ([\d.]+)\) scale\(1 ([\d.]+)\)">(.)<)re");
    std::vector<Glyph> glyphs;
    for (std::sregex_iterator it(stack.begin(), stack.end(), glyph), end; it != end; ++it)
        glyphs.push_back({(*it)[4], (*it)[1], std::stod((*it)[2]), std::stod((*it)[3])});
    return glyphs;
}

std::vector<std::string> stacksOf(const std::string& logo) {
    std::vector<std::string> stacks;
    for (size_t at = logo.find("<g class=\"stack\">"); at != std::string::npos;
         at = logo.find("<g class=\"stack\">", at + 1))
        stacks.push_back(logo.substr(at, logo.find("</g>", at) - at));
    return stacks;
}

TEST(Report, LogoStacksAreAsHighAsTheirInformationInBits) {
    const std::string aminoAcids = "ACDEFGHIKLMNPQRSTVWY";
    std::vector<int> uniform(20, 3), conserved(20, 0), mixed(20, 1);
    conserved[8] = 9;  // K
    mixed[3] = 30;
    struct Case {
        std::vector<ReportBoxCounts> boxes;
        std::vector<size_t> drawn;                   // boxes given a logo, from 1
        const char* top;                             // the axis top in bits
        std::string firstTitle;                      // of the first stack
        std::map<std::string, std::string> colours;  // by letter
    };
    const Case cases[] = {
        {{{"ACGT", {{0, 0, 0, 50}, {10, 10, 10, 10}, {40, 5, 5, 0}, {1, 2, 3, 4}}},
          {"ACGT", {}},
          {"ACGT", {{0, 0, 0, 0}, {0, 0, 0, 0}}},
          {"ACGT", {{30, 10, 5, 5}, {0, 25, 25, 0}, {7, 0, 0, 0}}}},
         {1, 4},
         "2",
         "position 1: A 0, C 0, G 0, T 50; 2 bits",
         {{"A", "nt-a"}, {"C", "nt-c"}, {"G", "nt-g"}, {"T", "nt-t"}}},
        {{{aminoAcids, {conserved, uniform, mixed}}},
         {1},
         "4.3",
         "position 1: A 0, C 0, D 0, E 0, F 0, G 0, H 0, I 0, K 9, L 0, M 0, N 0, P 0, Q 0, R 0, "
         "S 0, T 0, V 0, W 0, Y 0; 4.32 bits",
         {{"A", "aa-hydrophobic"},
          {"S", "aa-polar"},
          {"N", "aa-amide"},
          {"K", "aa-basic"},
          {"E", "aa-acidic"}}}};
    for (const Case& c : cases) {
        ReportModel model = modelOf(1, "0-1-2-3", {{1, 2}, {1, 2}, {1, 2}});
        model.familySize = 1;
        model.boxCounts = c.boxes;
        const std::string page = rendered(familyRun(), {model});
        EXPECT_EQ(countOf(page, "<svg class=\"logo\""), c.drawn.size());
        EXPECT_TRUE(contains(page, "<span class=\"logo-legend\">"));
        EXPECT_EQ(partOf(page, "<title>position", "</title>"), "<title>" + c.firstTitle);
        for (const size_t box : c.drawn) {
            const std::string logo =
                partOf(page, "aria-label=\"sequence logo of box " + std::to_string(box), "</svg>");
            EXPECT_TRUE(contains(logo, std::string(">") + c.top + "</text>"));
            // The bits axis, from the top of the plot down to its base.
            std::smatch axis;
            const std::regex axisPath(R"(<path class="axis" d="M\d+ (\d+)H\d+V(\d+)H)");
            ASSERT_TRUE(std::regex_search(logo, axis, axisPath));
            const double base = std::stod(axis[2]), plotHeight = base - std::stod(axis[1]);
            const std::vector<std::string> stacks = stacksOf(logo);
            const ReportBoxCounts& counts = c.boxes[box - 1];
            ASSERT_EQ(stacks.size(), counts.counts.size()) << box;
            for (size_t p = 0; p < stacks.size(); ++p) {
                const std::vector<int>& n = counts.counts[p];
                const double total = std::accumulate(n.begin(), n.end(), 0.0);
                const double bits = std::log2(static_cast<double>(n.size()));
                double information = bits;
                for (const int k : n)
                    if (k > 0) information += k / total * std::log2(k / total);
                const std::vector<Glyph> glyphs = glyphsOf(stacks[p]);
                double drawn = 0;
                for (size_t g = 0; g < glyphs.size(); ++g) {
                    const Glyph& glyph = glyphs[g];
                    const auto a = counts.letters.find(glyph.letter);
                    const auto colour = c.colours.find(glyph.letter);
                    if (colour != c.colours.end()) {
                        EXPECT_EQ(glyph.colour, colour->second) << glyph.letter;
                    }
                    EXPECT_NEAR(glyph.scale * bits, n[a] / total * information, 1e-3);
                    // Each stands on the one below, the most frequent on top.
                    EXPECT_NEAR(glyph.bottom, base - drawn / bits * plotHeight, 0.01);
                    if (g > 0) {
                        EXPECT_LE(glyphs[g - 1].scale, glyph.scale);
                    }
                    drawn += glyph.scale * bits;
                }
                EXPECT_NEAR(drawn, information, 1e-3) << box << " " << p;
                if (information > bits - 1e-9) {  // conserved: its letter alone, as high as the axis
                    ASSERT_EQ(glyphs.size(), 1u);
                    EXPECT_EQ(glyphs[0].scale, 1.0);
                }
                if (information < 1e-9) {  // uniform: nothing drawn
                    EXPECT_TRUE(glyphs.empty()) << box << " " << p;
                }
            }
        }
    }
}

}  // namespace
