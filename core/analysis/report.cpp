#include "report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Fonts come from the system only: the page is read offline and printed as it is.
constexpr const char* kStyle = R"(
:root{--ink:#1f2733;--muted:#687282;--rule:#dde1e7;--input:#2b6cb0;--control:#d0812c;--boxbg:#eef3f9;
--boxline:#9db1c9;--mono:ui-monospace,SFMono-Regular,Menlo,Consolas,"DejaVu Sans Mono","Liberation Mono",monospace}
*{box-sizing:border-box}
body{margin:0 auto;max-width:1500px;padding:20px 24px;background:#fff;color:var(--ink);
font:13px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
code,.boxes,.model-name{font-family:var(--mono)}
h1{font-size:18px;font-weight:600;margin:0 0 10px}
header{border-bottom:2px solid var(--ink);padding-bottom:12px;margin-bottom:14px}
dl{display:grid;grid-template-columns:max-content minmax(0,1fr);gap:3px 18px;margin:0}
dt{color:var(--muted)}
dd{margin:0}
.command{display:block;white-space:pre-wrap;overflow-wrap:anywhere;background:#f5f6f8;padding:2px 5px}
.intro{display:flex;flex-wrap:wrap;align-items:center;gap:6px 18px;margin:0 0 10px}
button{font:inherit;font-size:12px;padding:2px 10px;border:1px solid #aab3bf;border-radius:3px;background:#f7f8fa;
color:var(--ink);cursor:pointer}
.legend{display:flex;flex-wrap:wrap;align-items:center;gap:4px 14px;font-size:12px;color:var(--muted)}
.legend>span{display:inline-flex;align-items:center;gap:5px}
table{border-collapse:collapse;width:100%;font-variant-numeric:tabular-nums}
th{font-size:11px;font-weight:600;letter-spacing:.03em;color:var(--muted);text-align:left;
border-bottom:1px solid var(--ink);padding:4px 8px}
td{padding:6px 8px;border-bottom:1px solid var(--rule);vertical-align:middle}
th.num,td.num,td.rank{text-align:right}
td.rank{font-weight:600}
.model-name{font-size:11px;color:var(--muted);margin-bottom:3px;overflow-wrap:anywhere}
.boxes{display:flex;flex-wrap:wrap;align-items:center;font-size:14px}
.box{display:inline-flex;align-items:center;border:1px solid var(--boxline);background:var(--boxbg);
border-radius:2px;padding:1px 2px;font-family:var(--mono)}
.sym{display:inline-block;min-width:1.05em;text-align:center;font-weight:600;line-height:1.3}
.sym.degenerate{display:inline-grid;grid-auto-flow:column;grid-template-rows:auto auto;font-size:8px;
line-height:1.1;color:#40516a;min-width:0;padding:0 1px}
.sym.degenerate i{font-style:normal}
.sym.joker{color:#a3aab5;font-weight:400}
.sym.unknown{color:#b42318}
.gap{display:inline-flex;flex-direction:column;align-items:center;min-width:34px;margin:0 2px;font-size:10px;
line-height:1.1;color:var(--muted);font-family:system-ui,sans-serif}
.gap::after{content:"";align-self:stretch;height:4px;border:1px solid #98a2b0;border-top:0}
.bar{display:flex;align-items:center;gap:6px;white-space:nowrap;font-size:12px}
.track{display:inline-block;width:90px;height:7px;background:#edf0f3}
.fill{display:block;height:100%}
.input{background:var(--input)}
.control{background:var(--control)}
.swatch{display:inline-block;width:10px;height:10px}
svg{display:block;overflow:visible;shape-rendering:crispEdges}
svg text{font-size:9px;fill:var(--muted);font-family:system-ui,sans-serif}
text.e{text-anchor:end}
text.m{text-anchor:middle}
.axis{stroke:#9aa3ae;fill:none}
.histogram rect{fill:var(--input)}
.spacer-lengths{display:inline-block;margin:0 8px 2px 0}
.spacer-lengths rect{fill:#6b8fb5}
body:not(.aligned-start) .align-start,body.aligned-start .align-end{display:none}
.print-only{display:none}
footer{margin-top:16px;font-size:11px;color:var(--muted)}
@media print{
*{print-color-adjust:exact;-webkit-print-color-adjust:exact}
body{max-width:none;padding:0}
#align-toggle{display:none}
.print-only{display:inline}
thead{display:table-header-group}
tr{break-inside:avoid;page-break-inside:avoid}
}
)";

// Added to the style in a both-strands run: the occurrence bars stacked by strand, + below - above.
constexpr const char* kStrandStyle = R"(:root{--minus:#93b8e0}
.histogram rect.minus,.swatch.minus{fill:var(--minus);background:var(--minus)}
.swatch.plus{background:var(--input)}
.reverse-complement{font-size:11px;color:var(--muted);margin-top:3px;overflow-wrap:anywhere}
)";

// Added to the style when the rows are family heads or carry logos.
constexpr const char* kFamilyStyle =
    R"(.family{font-size:11px;color:var(--muted);margin-top:3px;overflow-wrap:anywhere}
.family-size{color:var(--ink)}
.family summary{cursor:pointer;width:max-content}
.logos{display:flex;flex-wrap:wrap;align-items:flex-end;gap:4px 10px;margin-top:6px}
.logo rect.hit{fill:transparent}
.logo text.glyph{font-family:system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;font-weight:700;
text-anchor:middle}
.logo .nt-a{fill:#1f9d3a}.logo .nt-c{fill:#2266c4}.logo .nt-g{fill:#ee8a00}.logo .nt-t{fill:#d7301f}
.logo .aa-hydrophobic{fill:#2b2f36}.logo .aa-polar{fill:#1f9d3a}.logo .aa-amide{fill:#8e44ad}
.logo .aa-basic{fill:#2266c4}.logo .aa-acidic{fill:#d7301f}.logo .other{fill:#8a939e}
)";

// Written last in the body; errors land in the DOM so that a headless browser can report them.  The page
// opened as report.html#aligned-start shows the histograms aligned on the sequence starts.
constexpr const char* kScript = R"(
window.onerror=function(message){document.body.dataset.scriptError=String(message);};
(function(){
var button=document.getElementById("align-toggle");
if(button){
button.onclick=function(){
var start=document.body.classList.toggle("aligned-start");
var state=start?"aligned on sequence starts":"aligned on sequence ends";
button.textContent=state;
button.setAttribute("aria-pressed",start?"true":"false");
document.getElementById("align-state").textContent=state;
};
if(location.hash==="#aligned-start")button.click();
}
document.body.dataset.ready="1";
})();
)";

constexpr long long kMostHistogramBins = 40;
constexpr long long kMostLengthSlots = 120;  // a wider spacer range gets its lengths grouped

// A logo: stacks kLogoStack wide rising from the base of a plot kLogoHeight high, the bits axis on its left.
constexpr int kLogoLeft = 24;
constexpr int kLogoTop = 5;
constexpr int kLogoHeight = 50;
constexpr int kLogoStack = 14;
// A capital's height as a share of its font size, about the same in the common sans fonts.  The glyphs'
// font size makes an unscaled capital as high as the plot, so that a glyph's vertical scale is its share
// of the axis.
constexpr double kCapHeight = 0.72;
constexpr size_t kMembersShown = 5;  // family members listed before the toggle

void put(FILE* out, std::string_view text) {
    fwrite(text.data(), 1, text.size(), out);
}
void putEscaped(FILE* out, std::string_view text) {
    put(out, htmlEscaped(text));
}

// A relative path as an href: what would cut it into a fragment or a query, or start an escape, as %XX.
std::string linkEscaped(std::string_view link) {
    std::string encoded;
    for (const char c : link) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ' || c == '#' || c == '?' || c == '%' || byte < 0x20 || byte == 0x7f) {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", byte);
            encoded += hex;
        } else {
            encoded += c;
        }
    }
    return htmlEscaped(encoded);
}

std::string plural(long long count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// Counts in equal-width bins; bin i holds first + i * width to first + (i + 1) * width - 1.
struct Bins {
    long long first = 0;
    long long width = 1;
    std::vector<long long> counts;

    long long low(size_t i) const { return first + static_cast<long long>(i) * width; }
    long long high(size_t i) const { return low(i) + width - 1; }
    long long tallest() const { return counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end()); }
};

// The smallest of 1, 2, 5, 10, 20, 25, 50, 100... that cuts `span` positions into at most `most` bins.
long long niceWidth(long long span, long long most) {
    for (long long decade = 1;; decade *= 10)
        for (const long long tenths : {10, 20, 25, 50}) {
            if (tenths * decade % 10 != 0) continue;  // 2.5 is no width
            const long long width = tenths * decade / 10;
            if ((span + width - 1) / width <= most) return width;
        }
}

// Bins of `values` (all within lo..hi) laid from hi down when `fromHigh`, so that the last bin ends at hi,
// from lo up otherwise.
Bins binned(const std::vector<int>& values, long long lo, long long hi, long long width, bool fromHigh) {
    const long long count = (hi - lo + width) / width;
    Bins bins;
    bins.width = width;
    bins.first = fromHigh ? hi + 1 - count * width : lo;
    bins.counts.assign(static_cast<size_t>(count), 0);
    for (const int value : values)
        ++bins.counts[static_cast<size_t>((std::clamp<long long>(value, lo, hi) - bins.first) / width)];
    return bins;
}

// Where a chart's bars go: slot i spans left + i * slot, the bars rise from top + height.
struct Frame {
    int left = 0;
    int top = 0;
    int height = 0;
    int slot = 1;
};

int digitsOf(long long n) {
    return static_cast<int>(std::to_string(n).size());
}

// "-40 to -31" on the occurrence charts, "length 15" or "lengths 10 to 14" on the spacer ones.
std::string binName(const Bins& bins, size_t i, bool lengths) {
    const std::string low = std::to_string(bins.low(i));
    const std::string range = low + " to " + std::to_string(bins.high(i));
    if (!lengths) return range;
    return bins.width == 1 ? "length " + low : "lengths " + range;
}

int barWidthOf(const Frame& frame) {
    return frame.slot > 2 ? frame.slot - 1 : frame.slot;
}

// Bin i as two bars stacked, its + strand occurrences below and its - strand ones above; both show when
// both are counted.
void putStrandBars(FILE* out, const Bins& bins, const Bins& minus, const Frame& frame, size_t i) {
    const long long tallest = std::max(1LL, bins.tallest());
    const long long count = bins.counts[i], down = minus.counts[i], up = count - down;
    long long height = (count * frame.height + tallest - 1) / tallest;
    if (up > 0 && down > 0) height = std::max(height, 2LL);
    const long long minusHeight =
        down == 0 ? 0
        : up == 0 ? height
                  : std::clamp((down * frame.height + tallest / 2) / tallest, 1LL, height - 1);
    const long long x = frame.left + static_cast<long long>(i) * frame.slot;
    const long long base = frame.top + frame.height;
    const std::string name = binName(bins, i, false);
    fprintf(out,
            "<rect class=\"plus\" x=\"%lld\" y=\"%lld\" width=\"%d\" height=\"%lld\"><title>%s: %s on the + "
            "strand</title></rect>",
            x, base - (height - minusHeight), barWidthOf(frame), height - minusHeight, name.c_str(),
            plural(up, "occurrence").c_str());
    fprintf(out,
            "<rect class=\"minus\" x=\"%lld\" y=\"%lld\" width=\"%d\" height=\"%lld\"><title>%s: %s on the - "
            "strand</title></rect>",
            x, base - height, barWidthOf(frame), minusHeight, name.c_str(),
            plural(down, "occurrence").c_str());
}

// The bars of the bins, split by strand when `minus` (the - strand's share of each bin) is given.
void putBars(FILE* out, const Bins& bins, const Frame& frame, bool lengths, const Bins* minus = nullptr) {
    const long long tallest = std::max(1LL, bins.tallest());
    const int barWidth = barWidthOf(frame);
    for (size_t i = 0; i < bins.counts.size(); ++i) {
        if (minus != nullptr) {
            putStrandBars(out, bins, *minus, frame, i);
            continue;
        }
        const long long count = bins.counts[i];
        const long long height = (count * frame.height + tallest - 1) / tallest;  // every count shows
        fprintf(out, "<rect x=\"%lld\" y=\"%lld\" width=\"%d\" height=\"%lld\"><title>%s: %s</title></rect>",
                frame.left + static_cast<long long>(i) * frame.slot, frame.top + frame.height - height,
                barWidth, height, binName(bins, i, lengths).c_str(), plural(count, "occurrence").c_str());
    }
    const long long right = frame.left + static_cast<long long>(bins.counts.size()) * frame.slot;
    fprintf(out, "<path class=\"axis\" d=\"M%d %dH%lld\"/>", frame.left, frame.top + frame.height, right);
    fprintf(out, "<text class=\"e\" x=\"%d\" y=\"%d\">%lld</text>", frame.left - 3, frame.top + 7,
            bins.tallest());
}

// The values whose strand is '-' (none when no strand is listed).
std::vector<int> minusStrandOf(const std::vector<int>& values, const std::vector<char>& strands) {
    std::vector<int> minus;
    for (size_t i = 0; i < values.size() && i < strands.size(); ++i)
        if (strands[i] == '-') minus.push_back(values[i]);
    return minus;
}

// One alignment of the occurrence starts: from the sequence ends (all below 0) or from the starts.  The
// axis spans the longest sequence at least, so that the histograms of all models read alike.  With
// strands, each bar is split by strand.
void putHistogramGroup(FILE* out, const std::vector<int>& values, const std::vector<char>& strands,
                       bool fromEnd, int left, int longest) {
    fprintf(out, "<g class=\"%s\">", fromEnd ? "align-end" : "align-start");
    if (values.empty()) {
        put(out, "<text x=\"4\" y=\"30\">no occurrence listed</text></g>");
        return;
    }
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    const long long lo = fromEnd ? std::min(*lowest, -std::max(longest, 1)) : std::min(0, *lowest);
    const long long hi = fromEnd ? std::max(-1, *highest) : std::max(*highest, longest - 1);
    const long long width = niceWidth(hi - lo + 1, kMostHistogramBins);
    const Bins bins = binned(values, lo, hi, width, fromEnd);
    const Frame frame{left, 6, 44, static_cast<int>(216 / bins.counts.size())};
    if (strands.empty()) {
        putBars(out, bins, frame, false);
    } else {
        const Bins minus = binned(minusStrandOf(values, strands), lo, hi, width, fromEnd);
        putBars(out, bins, frame, false, &minus);
    }
    const long long right = frame.left + static_cast<long long>(bins.counts.size()) * frame.slot;
    fprintf(out, "<text x=\"%d\" y=\"62\">%lld</text><text class=\"e\" x=\"%lld\" y=\"62\">%lld</text></g>",
            left, bins.first, right, bins.low(bins.counts.size()));
}

void putHistogram(FILE* out, const ReportOccurrences& occurrences, int longest) {
    const long long tallestPossible =
        static_cast<long long>(std::max(occurrences.starts.size(), occurrences.startsFromEnd.size()));
    const int left = 6 + 6 * digitsOf(tallestPossible);
    fprintf(out,
            "<svg class=\"histogram\" width=\"%d\" height=\"66\" role=\"img\" "
            "aria-label=\"where the occurrences start\">",
            left + 222);
    putHistogramGroup(out, occurrences.startsFromEnd, occurrences.strands, true, left, longest);
    putHistogramGroup(out, occurrences.starts, occurrences.strands, false, left, longest);
    put(out, "</svg>");
}

// How many occurrences used each length of the spacer's range, lengths outside the range left out.
void putSpacerChart(FILE* out, const SpacerRange& range, const std::vector<int>& used, size_t number) {
    const long long lo = std::min(range.min, range.max);
    const long long hi = std::max(range.min, range.max);
    std::vector<int> inRange;
    for (const int length : used)
        if (length >= lo && length <= hi) inRange.push_back(length);
    const Bins bins = binned(inRange, lo, hi, niceWidth(hi - lo + 1, kMostLengthSlots), false);
    const int slots = static_cast<int>(bins.counts.size());
    const Frame frame{6 + 6 * digitsOf(bins.tallest()), 4, 26, std::clamp(100 / slots, 2, 16)};
    const int right = frame.left + slots * frame.slot;
    fprintf(out,
            "<svg class=\"spacer-lengths\" width=\"%d\" height=\"42\" role=\"img\" "
            "aria-label=\"lengths of spacer %zu\">",
            right + 4, number);
    putBars(out, bins, frame, true);
    if (lo == hi) {
        fprintf(out, "<text class=\"m\" x=\"%d\" y=\"40\">%lld</text>", (frame.left + right) / 2, lo);
    } else {
        fprintf(out, "<text x=\"%d\" y=\"40\">%lld</text><text class=\"e\" x=\"%d\" y=\"40\">%lld</text>",
                frame.left, lo, right, hi);
    }
    put(out, "</svg>");
}

void putSymbol(FILE* out, const ReportRun& run, char code) {
    const int number = static_cast<unsigned char>(code) - '0';
    const bool known = number >= 0 && static_cast<size_t>(number) < run.symbols.size();
    if (code == '*' || (known && run.symbols[number].joker)) {
        put(out, "<span class=\"sym joker\" title=\"any character\">*</span>");
        return;
    }
    if (!known || run.symbols[number].accepted.empty()) {
        put(out, "<span class=\"sym unknown\" title=\"symbol missing from the run's alphabet\">?</span>");
        return;
    }
    const std::string& accepted = run.symbols[number].accepted;
    if (accepted.size() == 1) {
        put(out, "<span class=\"sym\">");
        putEscaped(out, accepted);
        put(out, "</span>");
        return;
    }
    std::string listed;
    for (const char c : accepted) listed += (listed.empty() ? "" : ", ") + std::string(1, c);
    put(out, "<span class=\"sym degenerate\" title=\"");
    putEscaped(out, listed);
    put(out, "\">");
    for (const char c : accepted) {
        put(out, "<i>");
        putEscaped(out, std::string_view(&c, 1));
        put(out, "</i>");
    }
    put(out, "</span>");
}

void putGap(FILE* out, const ReportModel& model, size_t spacer) {
    if (spacer >= model.spacers.size()) {
        put(out, "<span class=\"gap\" title=\"spacer of unknown length\">?</span>");
        return;
    }
    const SpacerRange& range = model.spacers[spacer];
    if (range.min == range.max) {
        fprintf(out, "<span class=\"gap\" title=\"spacer of %d characters\">%d</span>", range.min, range.min);
    } else {
        fprintf(out, "<span class=\"gap\" title=\"spacer of %d to %d characters\">%d-%d</span>", range.min,
                range.max, range.min, range.max);
    }
}

// The model sharing the row: named, the model itself, or none written.
void putReverseComplement(FILE* out, const std::string& name) {
    put(out, "<div class=\"reverse-complement\">");
    if (name == "=") {
        put(out, "its own reverse complement");
    } else if (name.empty()) {
        put(out, "reverse complement not among the models");
    } else {
        put(out, "reverse complement <span class=\"rc-name\">");
        putEscaped(out, name);
        put(out, "</span>");
    }
    put(out, "</div>");
}

// `value` with at most `decimals` decimals, trailing zeros dropped ("2", "0.5").
std::string trimmed(double value, int decimals) {
    char text[32];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string result = text;
    if (result.find('.') == std::string::npos) return result;
    result.erase(result.find_last_not_of('0') + 1);
    if (result.back() == '.') result.pop_back();
    return result == "-0" ? "0" : result;
}

// The count of each letter at one position, missing or negative counts read as 0.
std::vector<long long> positionCounts(const ReportBoxCounts& box, size_t position) {
    std::vector<long long> counts(box.letters.size(), 0);
    const std::vector<int>& given = box.counts[position];
    for (size_t a = 0; a < counts.size() && a < given.size(); ++a) counts[a] = std::max(given[a], 0);
    return counts;
}

long long totalOf(const std::vector<long long>& counts) {
    return std::accumulate(counts.begin(), counts.end(), 0LL);
}

bool hasSites(const ReportBoxCounts& box) {
    for (size_t p = 0; p < box.counts.size(); ++p)
        if (totalOf(positionCounts(box, p)) > 0) return true;
    return false;
}

// Information content in bits, log2(letters) - H, without a small-sample correction: the heights then
// follow the counts the stack's title gives, a conserved position reaches the top of the axis however few
// its sites, and the number of sites stands in the title for the reader to weigh.
double informationOf(const std::vector<long long>& counts) {
    const double total = static_cast<double>(totalOf(counts));
    double entropy = 0;
    for (const long long count : counts)
        if (count > 0) entropy -= count / total * std::log2(count / total);
    return std::max(0.0, std::log2(static_cast<double>(counts.size())) - entropy);
}

bool isNucleotides(const std::string& letters) {
    return !letters.empty() && std::all_of(letters.begin(), letters.end(), [](char c) {
        return std::string_view("ACGTU").find(
                   static_cast<char>(std::toupper(static_cast<unsigned char>(c)))) != std::string_view::npos;
    });
}

// Nucleotides in their usual colours, amino acids by chemistry.
const char* glyphClassOf(char letter, bool nucleotides) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (nucleotides) {
        switch (upper) {
            case 'A':
                return "nt-a";
            case 'C':
                return "nt-c";
            case 'G':
                return "nt-g";
            default:
                return "nt-t";  // T or U
        }
    }
    const std::pair<std::string_view, const char*> groups[] = {{"AVLIMFWP", "aa-hydrophobic"},
                                                               {"GSTYC", "aa-polar"},
                                                               {"NQ", "aa-amide"},
                                                               {"KRH", "aa-basic"},
                                                               {"DE", "aa-acidic"}};
    for (const auto& [members, name] : groups)
        if (members.find(upper) != std::string_view::npos) return name;
    return "other";
}

// "position 3: A 12, C 0, G 1, T 49; 1.52 bits"
std::string stackTitle(const std::string& letters, const std::vector<long long>& counts, size_t position) {
    std::string title = "position " + std::to_string(position + 1) + ":";
    if (totalOf(counts) == 0) return title + " no site";
    for (size_t a = 0; a < letters.size(); ++a)
        title += (a == 0 ? " " : ", ") + std::string(1, letters[a]) + " " + std::to_string(counts[a]);
    return title + "; " + trimmed(informationOf(counts), 2) + " bits";
}

// One position: its letters stacked from the bottom of the plot, the most frequent on top, each as high
// as its share of the position's information.
void putLogoStack(FILE* out, const ReportBoxCounts& box, size_t position) {
    const std::vector<long long> counts = positionCounts(box, position);
    const int x = kLogoLeft + static_cast<int>(position) * kLogoStack;
    put(out, "<g class=\"stack\"><title>");
    putEscaped(out, stackTitle(box.letters, counts, position));
    fprintf(out, "</title><rect class=\"hit\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\"/>", x, kLogoTop,
            kLogoStack, kLogoHeight);
    const long long total = totalOf(counts);
    const double shareOfAxis =
        total > 0 ? informationOf(counts) / std::log2(static_cast<double>(counts.size())) : 0;
    std::vector<size_t> order(counts.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return counts[a] < counts[b]; });
    const bool nucleotides = isNucleotides(box.letters);
    double bottom = kLogoTop + kLogoHeight;
    for (const size_t a : order) {
        const double share =
            shareOfAxis * static_cast<double>(counts[a]) / static_cast<double>(std::max(total, 1LL));
        if (share < 5e-6) continue;  // would print as no height
        fprintf(out,
                "<text class=\"glyph %s\" x=\"%.1f\" textLength=\"%d\" lengthAdjust=\"spacingAndGlyphs\" "
                "transform=\"translate(0 %s) scale(1 %s)\">",
                glyphClassOf(box.letters[a], nucleotides), x + kLogoStack / 2.0, kLogoStack - 2,
                trimmed(bottom, 3).c_str(), trimmed(share, 5).c_str());
        putEscaped(out, std::string_view(&box.letters[a], 1));
        put(out, "</text>");
        bottom -= share * kLogoHeight;
    }
    fprintf(out, "<text class=\"m\" x=\"%.1f\" y=\"%d\">%zu</text></g>", x + kLogoStack / 2.0,
            kLogoTop + kLogoHeight + 10, position + 1);
}

// The bits axis, from 0 to log2 of the alphabet's size.
void putLogoAxis(FILE* out, size_t letters, int right) {
    const int base = kLogoTop + kLogoHeight;
    fprintf(out, "<path class=\"axis\" d=\"M%d %dH%dV%dH%d\"/>", kLogoLeft - 4, kLogoTop, kLogoLeft - 1, base,
            right);
    fprintf(out, "<path class=\"axis\" d=\"M%d %dH%d\"/>", kLogoLeft - 4, base, kLogoLeft - 1);
    fprintf(out, "<text class=\"e\" x=\"%d\" y=\"%d\">%s</text><text class=\"e\" x=\"%d\" y=\"%d\">0</text>",
            kLogoLeft - 5, kLogoTop + 4, trimmed(std::log2(static_cast<double>(letters)), 1).c_str(),
            kLogoLeft - 5, base + 3);
    fprintf(out, "<text class=\"m\" transform=\"translate(7 %d) rotate(-90)\">bits</text>",
            kLogoTop + kLogoHeight / 2);
}

void putLogo(FILE* out, const ReportBoxCounts& box, size_t number) {
    const int right = kLogoLeft + static_cast<int>(box.counts.size()) * kLogoStack;
    fprintf(out,
            "<svg class=\"logo\" width=\"%d\" height=\"%d\" role=\"img\" aria-label=\"sequence logo of box "
            "%zu\">",
            right + 2, kLogoTop + kLogoHeight + 13, number);
    putLogoAxis(out, box.letters.size(), right);
    for (size_t p = 0; p < box.counts.size(); ++p) putLogoStack(out, box, p);
    put(out, "</svg>");
}

// A box without site, or of a one-letter alphabet, would have nothing to show.
bool drawsLogo(const ReportBoxCounts& box) {
    return box.letters.size() > 1 && hasSites(box);
}

// A logo of each box that has sites, in the order of the boxes.
void putLogos(FILE* out, const ReportModel& model) {
    if (std::none_of(model.boxCounts.begin(), model.boxCounts.end(), drawsLogo)) return;
    put(out, "<div class=\"logos\">");
    for (size_t b = 0; b < model.boxCounts.size(); ++b)
        if (drawsLogo(model.boxCounts[b])) putLogo(out, model.boxCounts[b], b + 1);
    put(out, "</div>");
}

void putMembers(FILE* out, const std::vector<std::string>& names, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        put(out, i == from ? "<span class=\"member\">" : ", <span class=\"member\">");
        putEscaped(out, names[i]);
        put(out, "</span>");
    }
}

// The family's size and its first other members, the rest behind a toggle.
void putFamily(FILE* out, const ReportModel& model) {
    const std::vector<std::string>& members = model.familyMembers;
    fprintf(out, "<div class=\"family\"><span class=\"family-size\">family of %s</span>",
            plural(static_cast<long long>(model.familySize), "model").c_str());
    if (!members.empty()) put(out, ": ");
    const size_t shown = std::min(members.size(), kMembersShown);
    putMembers(out, members, 0, shown);
    if (members.size() > shown) {
        fprintf(out, "<details class=\"more-members\"><summary>and %zu more</summary>",
                members.size() - shown);
        putMembers(out, members, shown, members.size());
        put(out, "</details>");
    }
    put(out, "</div>");
}

bool drawsLogos(const ReportModel& model) {
    return std::any_of(model.boxCounts.begin(), model.boxCounts.end(), drawsLogo);
}

// Whether the page needs the family and logo style.
bool showsFamilies(const ReportRun& run, const std::vector<ReportModel>& top) {
    return run.families || std::any_of(top.begin(), top.end(), [](const ReportModel& model) {
               return model.familySize > 0 || drawsLogos(model);
           });
}

void putDrawing(FILE* out, const ReportRun& run, const ReportModel& model) {
    put(out, "<td class=\"drawing\"><div class=\"model-name\" title=\"result file ");
    putEscaped(out, model.file);  // motbox-delta's models come from one file per spacer window
    put(out, "\">");
    putEscaped(out, model.name);
    put(out, "</div>");
    if (run.bothStrands) putReverseComplement(out, model.reverseComplement);
    if (model.familySize > 0) putFamily(out, model);
    put(out, "<div class=\"boxes\">");
    bool inBox = false;
    size_t spacer = 0;
    for (const char c : model.code) {
        if (c == '-') {
            if (inBox) put(out, "</span>");
            inBox = false;
            putGap(out, model, spacer++);
            continue;
        }
        if (!inBox) put(out, "<span class=\"box\">");
        inBox = true;
        putSymbol(out, run, c);
    }
    if (inBox) put(out, "</span>");
    put(out, "</div>");
    putLogos(out, model);
    put(out, "</td>");
}

void putSupportBar(FILE* out, const char* set, long long support, long long sequences) {
    const double percent = sequences > 0 ? std::clamp(100.0 * support / sequences, 0.0, 100.0) : 0.0;
    fprintf(out,
            "<div class=\"bar\" title=\"%.1f%% of the %s sequences\"><span class=\"track\">"
            "<span class=\"fill %s\" style=\"width:%.1f%%\"></span></span><span class=\"support-%s\">%lld"
            "</span> / <span class=\"sequences-%s\">%lld</span></div>",
            percent, set, set, percent, set, support, set, sequences);
}

void putModelRow(FILE* out, const ReportRun& run, const ReportModel& model) {
    fprintf(out, "<tr class=\"model\" data-rank=\"%zu\"><td class=\"rank\">%zu</td>", model.rank, model.rank);
    putDrawing(out, run, model);
    put(out, "<td class=\"support\">");
    putSupportBar(out, "input", model.support, static_cast<long long>(run.countedSequences));
    putSupportBar(out, "control", model.controlSupport, static_cast<long long>(run.controlSequences));
    fprintf(out, "</td><td class=\"num\"><span class=\"enrichment\">%s</span></td>",
            formatNumber(model.score.enrichment).c_str());
    fprintf(out, "<td class=\"num\"><span class=\"e-value\" title=\"p-value %s\">%s</span></td>",
            formatNumber(model.score.pValue).c_str(), formatNumber(model.score.eValue).c_str());
    put(out, "<td class=\"occurrences\">");
    putHistogram(out, model.occurrences, run.longestSequence);
    put(out, "</td><td class=\"spacers\">");
    for (size_t i = 0; i < model.spacers.size(); ++i) {
        const bool listed = i < model.occurrences.spacerLengths.size();
        putSpacerChart(out, model.spacers[i],
                       listed ? model.occurrences.spacerLengths[i] : std::vector<int>{}, i + 1);
    }
    put(out, "</td></tr>\n");
}

void putRunHeader(FILE* out, const ReportRun& run) {
    put(out, "<header id=\"run\"><h1>");
    putEscaped(out, run.program);
    put(out, " report: ");
    putEscaped(out, run.inputFile);
    put(out, "</h1>\n<dl>\n<dt>Program</dt><dd>");
    putEscaped(out, run.program + " " + run.version);
    put(out, "</dd>\n<dt>Command line</dt><dd><code class=\"command\">");
    putEscaped(out, run.commandLine);
    put(out, "</code></dd>\n<dt>Input</dt><dd><code>");
    putEscaped(out, run.inputFile);
    fprintf(out, "</code>: %zu sequences read", run.sequences);
    if (run.countedSequences != run.sequences) fprintf(out, ", %zu counted", run.countedSequences);
    if (run.countedSequences < run.sequences)
        fprintf(out, ", %zu identical %s folded", run.sequences - run.countedSequences,
                run.sequences - run.countedSequences == 1 ? "copy" : "copies");
    fprintf(out, "; %lld characters in all, the longest sequence %d</dd>\n", run.totalLength,
            run.longestSequence);
    if (run.bothStrands)
        put(out,
            "<dt>Strands</dt><dd id=\"strands\">both strands: a model counts in a sequence, input or "
            "control, "
            "when it occurs on either strand; a sequence identical to the reverse complement of another is "
            "folded</dd>\n");
    put(out, "<dt>Control</dt><dd>");
    putEscaped(out, run.control);
    fprintf(out, " (%zu sequences%s)</dd>\n", run.controlSequences, run.bothStrands ? ", both strands" : "");
    if (!run.criteria.empty()) put(out, "<dt>Criteria</dt><dd>");
    for (const std::string& line : run.criteria) {
        put(out, "<div>");
        putEscaped(out, line);
        put(out, "</div>");
    }
    if (!run.criteria.empty()) put(out, "</dd>\n");
    fprintf(out, "<dt>Models written</dt><dd>%zu", run.modelsWritten);
    if (run.bothStrands)
        fprintf(out,
                ", in %zu rows: a model and its reverse complement share one, and count once in the E-values",
                run.rows);
    put(out, "</dd>\n");
    if (run.families)
        fprintf(out,
                "<dt>Families</dt><dd id=\"families\">%zu %s; each row shows the head of one, with the "
                "family's size and its other models</dd>\n",
                run.familiesCount, run.familiesCount == 1 ? "family" : "families");
    fprintf(out, "<dt>Run time</dt><dd>extraction %.2f s CPU, whole run %.2f s wall</dd>\n",
            run.extractionSeconds, run.wallSeconds);
    put(out, "<dt>Table</dt><dd><a id=\"table-link\" href=\"");
    put(out, linkEscaped(run.tableLink));
    put(out, "\">");
    putEscaped(out, run.tableFile);
    put(out, "</a> holds every ranked model with its supports and scores, not only those shown here.</dd>\n");
    put(out, "</dl></header>\n");
}

void putIntroAndLegend(FILE* out, const ReportRun& run, const std::vector<ReportModel>& top) {
    const size_t shown = top.size();
    if (run.families)
        fprintf(out, "<div class=\"intro\"><p>The %zu best-ranked of %zu families.</p>", shown,
                run.familiesCount);
    else if (run.bothStrands)
        fprintf(out, "<div class=\"intro\"><p>The %zu best-ranked of %zu rows.</p>", shown, run.rows);
    else
        fprintf(out, "<div class=\"intro\"><p>The %zu best-ranked of %zu models.</p>", shown,
                run.modelsWritten);
    put(out,
        "<span>Occurrence starts: <button id=\"align-toggle\" type=\"button\" aria-pressed=\"false\">"
        "aligned on sequence ends</button><span id=\"align-state\" class=\"print-only\">aligned on sequence "
        "ends</span></span>\n");
    // The samples carry their classes in another order, so that the models' own can be counted apart.
    put(out,
        "<div class=\"legend\"><span><span class=\"sample box\"><span class=\"sample sym\">A</span></span> "
        "one character</span><span><span class=\"sample box\"><span class=\"sample degenerate sym\"><i>A</i>"
        "<i>G</i></span></span> any of several</span><span><span class=\"sample box\"><span class=\"sample "
        "joker sym\">*</span></span> any character</span><span><span class=\"sample gap\">5-9</span> spacer "
        "lengths</span><span><span class=\"swatch input\"></span> input</span><span><span class=\"swatch "
        "control\"></span> control</span>");
    if (run.bothStrands)
        put(out,
            "<span><span class=\"swatch plus\"></span> occurrences on the + strand</span><span><span "
            "class=\"swatch minus\"></span> on the - strand</span>");
    if (std::any_of(top.begin(), top.end(), drawsLogos))
        put(out,
            "<span class=\"logo-legend\">logos: a stack per box position, as high as its information in "
            "bits, shared by its letters as they occur</span>");
    put(out, "</div></div>\n");
}

void putModelTable(FILE* out, const ReportRun& run, const std::vector<ReportModel>& top) {
    put(out, "<table id=\"models\"><thead><tr><th class=\"num\">rank</th><th>");
    put(out, run.families ? "family head" : "model");
    put(out,
        "</th><th>support: input, control</th><th class=\"num\">enrichment</th><th class=\"num\">E-value</th>"
        "<th>occurrence starts</th><th>spacer lengths</th></tr></thead>\n<tbody>\n");
    for (const ReportModel& model : top) putModelRow(out, run, model);
    put(out, "</tbody></table>\n");
}

}  // namespace

void writeReport(FILE* out, const ReportRun& run, const std::vector<ReportModel>& top) {
    put(out,
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>");
    putEscaped(out, run.program);
    put(out, " report: ");
    putEscaped(out, run.inputFile);
    put(out, "</title>\n<style>");
    put(out, kStyle);
    if (run.bothStrands) put(out, kStrandStyle);
    if (showsFamilies(run, top)) {
        put(out, kFamilyStyle);
        fprintf(out, ".logo text.glyph{font-size:%spx}\n", trimmed(kLogoHeight / kCapHeight, 2).c_str());
    }
    put(out, "</style></head>\n<body>\n");
    putRunHeader(out, run);
    if (top.empty()) {
        put(out,
            "<p id=\"no-model\">No model was written by this run, so none could be ranked. A lower quorum "
            "or wider criteria (longer boxes, more substitutions, wider spacers) may find some.</p>\n");
    } else {
        putIntroAndLegend(out, run, top);
        putModelTable(out, run, top);
    }
    put(out, "<footer>");
    putEscaped(out, run.program + " " + run.version);
    put(out, "</footer>\n<script>");
    put(out, kScript);
    put(out, "</script>\n</body></html>\n");
}

std::string htmlEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}
