#include "run_exit.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

void endRun(int status, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    throw RunExit(status, std::move(text));
}

void endRunWith(int status, std::string text) {
    throw RunExit(status, std::move(text));
}

int runProgram(int (*body)(int, char**), int argc, char** argv) {
    try {
        return body(argc, argv);
    } catch (const RunExit& e) {
        fwrite(e.text().data(), 1, e.text().size(), stderr);
        return e.status();
    }
}

std::string textPrintedBy(void (*print)(FILE*)) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* text = open_memstream(&buffer, &size);
    if (text == nullptr) throw std::bad_alloc();
    print(text);
    fclose(text);
    std::string printed(buffer, size);
    free(buffer);
    return printed;
}
