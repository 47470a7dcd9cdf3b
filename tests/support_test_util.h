#pragma once
// Helpers of the support-module tests (global, barre, libfasta, alphabet,
// criteres): exact-match regexes for death tests and in-memory input files.

#include <cstdio>
#include <stdexcept>
#include <string>

namespace supporttest {

// A POSIX extended regex that matches exactly s (the whole of the death
// test's standard error, line feeds included).
inline std::string exactly(const std::string& s) {
    std::string re = "^";
    for (char c : s) {
        if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos) re += '\\';
        re += c;
    }
    return re + "$";
}

// An anonymous temporary file holding content, positioned at its start.
inline FILE* fileWith(const std::string& content) {
    FILE* f = tmpfile();
    if (f == nullptr) throw std::runtime_error("tmpfile failed");
    if (!content.empty() && fwrite(content.data(), 1, content.size(), f) != content.size())
        throw std::runtime_error("tmpfile write failed");
    rewind(f);
    return f;
}

}  // namespace supporttest
