#include "result_file.h"

#include <sys/types.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "run_exit.h"

namespace {

char lastMark(const char* line) {
    size_t end = strlen(line);
    while (end > 0 && isspace(static_cast<unsigned char>(line[end - 1]))) --end;
    return end > 0 ? line[end - 1] : '\0';
}

// Reads "Nb models: N" and "User time : S sec." from text, the file's last bytes.
bool finalCountsIn(const std::string& text, long long* models, double* userSeconds) {
    const size_t at = text.rfind("\nNb models: ");
    if (at == std::string::npos) return false;
    char* end = nullptr;
    const char* counts = text.c_str() + at + 12;
    const long long n = strtoll(counts, &end, 10);
    if (end == counts || strncmp(end, "\nUser time : ", 13) != 0) return false;
    const char* time = end + 13;
    const double seconds = strtod(time, &end);
    if (end == time || strncmp(end, " sec.\n", 6) != 0) return false;
    *models = n;
    *userSeconds = seconds;
    return true;
}

}  // namespace

long readDecimal(char*& at) {
    char* p = at;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return 0;
    long value = 0;
    bool overflow = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        overflow = overflow || value > (LONG_MAX - digit) / 10;
        if (!overflow) value = value * 10 + digit;
    }
    at = p;
    if (overflow) return negative ? LONG_MIN : LONG_MAX;
    return negative ? -value : value;
}

bool readOccurrenceLine(char* line, bool strandMarked, Occurrence& o) {
    if (strncmp(line, "Seq ", 4) != 0) return false;
    char* at = line + 4;
    const long seq = readDecimal(at);
    at = strstr(at, "Pos");
    if (at == nullptr) return false;
    at += 3;
    // A number beyond the 32-bit range is no sequence (-1), not a wrapped-around one.
    const long pos = readDecimal(at);
    o.seq = seq < INT32_MIN || seq > INT32_MAX ? -1 : static_cast<int32_t>(seq);
    o.pos = pos < INT32_MIN || pos > INT32_MAX ? -1 : static_cast<int32_t>(pos);
    for (int& spacer : o.spacers) spacer = static_cast<int>(readDecimal(at));
    o.strand = strandMarked ? lastMark(line) : '+';
    return true;
}

StoredResult readStoredResult(FILE* in) {
    StoredResult result;
    char* line = nullptr;
    size_t room = 0;
    ssize_t length;
    bool body = false;
    bool inBlock = false;  // the lines so far since a model line were its occurrence lines
    int64_t offset = 0;    // of the next line
    rewind(in);
    while ((length = getline(&line, &room, in)) > 0) {
        offset += length;
        if (!body) {
            body = strncmp(line, "====", 4) == 0;
            continue;
        }
        // A model's occurrence lines follow its model line without a break.
        if (inBlock && strncmp(line, "Seq ", 4) == 0 && strstr(line + 4, "Pos") != nullptr) {
            ++result.models.back().occurrences;
            continue;
        }
        inBlock = false;
        if (strncmp(line, "Nb models:", 10) == 0) {
            std::string tail = "\n";
            tail += line;
            if (getline(&line, &room, in) > 0) tail += line;
            result.complete = finalCountsIn(tail, &result.recordedModels, &result.userSeconds);
            break;
        }
        // A model line: three words, the last a number.
        char* at = line;
        auto word = [&at]() {
            while (*at == ' ') ++at;
            char* start = at;
            while (*at != '\0' && !isspace(static_cast<unsigned char>(*at))) ++at;
            return std::string(start, at);
        };
        StoredModel m;
        m.name = word();
        m.code = word();
        char* number = at;
        m.support = static_cast<int>(readDecimal(at));
        if (m.name.empty() || m.code.empty() || at == number) continue;
        m.occurrencesAt = offset;
        result.models.push_back(std::move(m));
        inBlock = true;
    }
    free(line);
    return result;
}

std::vector<Occurrence> storedOccurrences(FILE* in, int64_t offset, size_t spacers, bool strandMarked) {
    std::vector<Occurrence> lines;
    if (fseeko(in, offset, SEEK_SET) != 0) return lines;
    Occurrence o{0, 0, std::vector<int>(spacers), '+'};
    char* line = nullptr;
    size_t room = 0;
    while (getline(&line, &room, in) > 0 && readOccurrenceLine(line, strandMarked, o)) lines.push_back(o);
    free(line);
    return lines;
}

bool storedFinalCounts(FILE* in, long long* models, double* userSeconds) {
    // The final counts are two short lines; the summary line is written over the header, not at the end.
    constexpr long kTail = 4096;
    if (fseeko(in, 0, SEEK_END) != 0) return false;
    const off_t size = ftello(in);
    if (size < 0) return false;
    const off_t from = size > kTail ? size - kTail : 0;
    if (fseeko(in, from, SEEK_SET) != 0) return false;
    std::string tail(static_cast<size_t>(size - from), '\0');
    const size_t got = fread(tail.data(), 1, tail.size(), in);
    tail.resize(got);
    rewind(in);
    return finalCountsIn("\n" + tail, models, userSeconds);
}

double recordedUserSeconds(const char* name) {
    FILE* in = fopen(name, "r");
    if (in == nullptr) endRun(1, ">> Error: main: cannot read back output file '%s' for the ranking\n", name);
    long long models = 0;
    double seconds = 0;
    const bool complete = storedFinalCounts(in, &models, &seconds);
    fclose(in);
    if (!complete)
        endRun(1,
               ">> Error: main: '%s' is not a complete result file: it does not end with its final counts\n",
               name);
    return seconds;
}
