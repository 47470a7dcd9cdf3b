#pragma once
// Helpers of the fuzz targets.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "run_exit.h"

namespace fuzz {

// Runs f, which may end its run early; returns the status it ended with, or -1 when f returned.
template <typename F>
int catchingExits(F&& f) {
    try {
        f();
    } catch (const RunExit& e) {
        return e.status();
    }
    return -1;
}

// Splits data at every occurrence of sep.
inline std::vector<std::string> split(std::string_view data, std::string_view sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = data.find(sep, start);
        if (at == std::string_view::npos) break;
        parts.emplace_back(data.substr(start, at - start));
        start = at + sep.size();
    }
    parts.emplace_back(data.substr(start));
    return parts;
}

// Whitespace-separated words of s.
inline std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> w;
    std::string cur;
    for (char c : s) {
        if (c == ' ' || c == '\n' || c == '\t') {
            if (!cur.empty()) w.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) w.push_back(cur);
    return w;
}

inline FILE* memoryFile(const std::string& content) {
    FILE* f = tmpfile();
    if (f == nullptr) abort();
    fwrite(content.data(), 1, content.size(), f);
    rewind(f);
    return f;
}

inline void writeWhole(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) abort();
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}

// The program output is not looked at: standard output goes to /dev/null.
inline void quietStdout() {
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
}

// Descriptors open now, among the first 256.
inline std::vector<bool> openDescriptors() {
    std::vector<bool> open(256);
    for (int fd = 0; fd < 256; fd++) open[fd] = fcntl(fd, F_GETFD) != -1;
    return open;
}

// Closes what a refused input left open (its result files) since before was taken.
inline void closeOpenedSince(const std::vector<bool>& before) {
    for (int fd = 0; fd < 256; fd++)
        if (!before[fd] && fcntl(fd, F_GETFD) != -1) close(fd);
}

}  // namespace fuzz
