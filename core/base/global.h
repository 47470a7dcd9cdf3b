#pragma once
// Error and warning reporting shared by every module.
#include <cstddef>
#include <cstdlib>

// Ends the run with status 1 and ">> Error: <msg>\n" for standard error (a RunExit).
[[noreturn]] void fatalError(const char* msg);
// Writes "> Warning: <msg>\n" on standard error; the run goes on.
void warning(const char* msg);

// malloc of count elements of T (calloc when zeroed), a count of 0 still getting a block; when the memory
// is not there, ends the run with fatalError(message).
template <typename T>
T* allocOrDie(size_t count, const char* message, bool zeroed = false) {
    const size_t n = count > 0 ? count : 1;
    void* p = zeroed ? calloc(n, sizeof(T)) : malloc(n * sizeof(T));
    if (p == nullptr) fatalError(message);
    return static_cast<T*>(p);
}
