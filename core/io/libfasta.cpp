#include "libfasta.h"

#include <cstdlib>
#include <cstring>

namespace {

FastaReaderState processReader;

}  // namespace

constinit thread_local FastaReaderState* fastaReaderInUse = &processReader;

namespace {

constexpr int kBufSize = FastaReaderState::kBufSize;
constexpr int kNameSize = FastaReaderState::kNameSize;
constexpr int kCommentSize = FastaReaderState::kCommentSize;

FastaReaderState& reader() {
    return *fastaReaderInUse;
}

bool isWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Reads like fgets into sBuffer, up to and including a line feed, at most kBufSize - 1 bytes, and sets
// sLength: a NUL byte of the stream is data, which fgets could not tell from its own terminator.  Returns
// false at end of stream when nothing was read.
bool readPiece(FILE* stream) {
    int n = 0;
    int c = 0;
    // The files are read by one thread: the stream need not be locked for every character.
    while (n < kBufSize - 1 && (c = getc_unlocked(stream)) != EOF) {
        reader().sBuffer[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    reader().sBuffer[n] = '\0';
    reader().sLength = n;
    return n > 0;
}

// Removes one final line feed from sBuffer; returns true when there was one.
bool chopLineFeed() {
    if (reader().sLength > 0 && reader().sBuffer[reader().sLength - 1] == '\n') {
        reader().sBuffer[--reader().sLength] = '\0';
        return true;
    }
    return false;
}

// A header line longer than the buffer: skip the rest of it (up to and
// including its line feed) so that it is not read as sequence text.
// Returns the number of characters skipped, the line feed not counted.
long skipRestOfLine(FILE* stream) {
    long skipped = 0;
    int c;
    while ((c = getc_unlocked(stream)) != EOF && c != '\n') skipped++;
    return skipped;
}

// Reads one line into sBuffer and removes its final line feed.  When
// isHeader and the line was longer than the buffer, the rest is skipped and
// counted in *skipped.  Returns false at end of stream.
bool readLine(FILE* stream, bool isHeader, long* skipped) {
    *skipped = 0;
    if (!readPiece(stream)) return false;
    bool hadLineFeed = chopLineFeed();
    if (isHeader && !hadLineFeed && reader().sBuffer[0] == '>') *skipped = skipRestOfLine(stream);
    return true;
}

// Reads one entry: the header comes from sBuffer when useRetained and a
// header is retained, else from the stream; a header of the next entry is
// retained only when retainNext.
int readEntry(FILE* stream, FastaSequence* s, bool useRetained, bool retainNext) {
    s->ok = 0;
    s->length = 0;
    s->offset = ftell(stream);

    bool haveLine;
    long headerSkipped = 0;
    const bool retained = useRetained && reader().sRetained;
    if (retained) {
        haveLine = true;
        s->offset = reader().sRetainedOffset;
    } else {
        haveLine = readLine(stream, true, &headerSkipped);
    }
    reader().sRetained = 0;
    if (!haveLine || reader().sBuffer[0] != '>') return 0;

    // A header read here from a non-zero offset is measured back as if it had been read ahead.
    if (!retained && s->offset != 0) s->offset -= static_cast<long>(reader().sLength) + headerSkipped + 1;

    strcpy(s->name, GetFastaName(reader().sBuffer));
    strcpy(s->comment, GetFastaComment(reader().sBuffer));

    for (;;) {
        // Sequence lines are read without the header test of readLine: a
        // line that starts with ">" is recognised below, and its overflow
        // (if any) is skipped there.
        if (!readPiece(stream)) break;
        const int pieceBytes = reader().sLength;
        bool hadLineFeed = chopLineFeed();
        if (reader().sBuffer[0] == '>') {
            // Measured back from here, once per entry, rather than asked of the stream before every line.
            const long here = ftell(stream);
            const long pieceStart = here < 0 ? here : here - pieceBytes;
            if (!hadLineFeed) skipRestOfLine(stream);
            if (retainNext) {
                reader().sRetained = 1;
                reader().sRetainedOffset = pieceStart;
            }
            break;
        }
        int len = reader().sLength;
        int t = s->length + len;
        if (t >= s->bufsize) {
            char* grown = static_cast<char*>(realloc(s->seq, 2 * static_cast<size_t>(t) + 1));
            if (grown == nullptr) return 1;  // ok stays 0, seq not terminated
            s->seq = grown;
            s->bufsize = 2 * t + 1;
        }
        memcpy(s->seq + s->length, reader().sBuffer, len);
        s->length = t;
    }
    s->seq[s->length] = '\0';
    s->ok = 1;
    return 1;
}

}  // namespace

FastaSequence* NewFastaSequence() {
    FastaSequence* s = static_cast<FastaSequence*>(malloc(sizeof(FastaSequence)));
    if (s == nullptr) return nullptr;
    s->seq = static_cast<char*>(malloc(kBufSize));
    if (s->seq == nullptr) {
        free(s);
        return nullptr;
    }
    s->seq[0] = '\0';
    s->bufsize = kBufSize;
    s->length = 0;
    s->offset = 0;
    s->name[0] = '\0';
    s->comment[0] = '\0';
    s->ok = 1;
    return s;
}

int FreeFastaSequence(FastaSequence* s) {
    if (s != nullptr) {
        free(s->seq);
        free(s);
    }
    return 0;
}

int ReadFastaSequence(FILE* stream, FastaSequence* s) {
    return readEntry(stream, s, true, true);
}

int GetFastaSequence(FILE* stream, FastaSequence* s) {
    if (fseek(stream, s->offset, SEEK_SET) != 0) return 0;
    return readEntry(stream, s, false, false);
}

void WriteFastaSequence(FILE* stream, const FastaSequence* s, int width) {
    fputc('>', stream);
    fputs(s->name[0] ? s->name : "<no name>", stream);
    fputc(' ', stream);
    fputs(s->comment[0] ? s->comment : "<no comment>", stream);
    fputc('\n', stream);
    // A width of 0 or less (undefined for the format) writes the text on one line.
    if (width <= 0) width = s->length > 0 ? s->length : 1;
    for (int i = 0; i < s->length; i += width) {
        int n = s->length - i < width ? s->length - i : width;
        fwrite(s->seq + i, 1, n, stream);
        fputc('\n', stream);
    }
}

char* GetFastaName(const char* header) {
    // Only the header's first 64 characters (">" included) are looked at.
    char head[kNameSize + 1];
    strncpy(head, header, kNameSize);
    head[kNameSize] = '\0';
    const char* p = head[0] ? head + 1 : head;
    while (*p && isWhite(*p)) p++;
    int n = 0;
    while (p[n] && !isWhite(p[n]) && n < kNameSize - 1) n++;
    if (n == 0) {
        strcpy(reader().sName, "<no Name>");
    } else {
        memcpy(reader().sName, p, n);
        reader().sName[n] = '\0';
    }
    return reader().sName;
}

char* GetFastaComment(const char* header) {
    // Only the header's first 512 characters are looked at.
    size_t len = strnlen(header, kCommentSize);
    size_t i = 0;
    while (i < len && !isWhite(header[i])) i++;
    if (i == len) {
        strcpy(reader().sComment, "<no comment>");
    } else {
        size_t n = len - (i + 1);
        if (n > kCommentSize - 1) n = kCommentSize - 1;
        memcpy(reader().sComment, header + i + 1, n);
        reader().sComment[n] = '\0';
    }
    return reader().sComment;
}

int CountAlpha(const char* s) {
    int n = 0;
    for (; *s; s++)
        if (isLetter(*s)) n++;
    return n;
}

char* StrcpyAlpha(char* dest, const char* src) {
    for (; *src; src++)
        if (isLetter(*src)) *dest++ = *src;
    *dest = '\0';
    return dest;
}

char* NextSpace(char* s) {
    for (; *s; s++)
        if (isWhite(*s)) return s;
    return nullptr;
}
