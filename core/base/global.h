#pragma once
// Error and warning reporting shared by every module.

// Writes ">> Error: <msg>\n" on standard error and exits with status 1.
[[noreturn]] void fatalError(const char* msg);
// Writes "> Warning: <msg>\n" on standard error; the run goes on.
void warning(const char* msg);
