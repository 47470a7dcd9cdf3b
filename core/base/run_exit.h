#pragma once
// How a run ends before its work is done: a refusal, a failure, or a request such as --help.  The library
// throws RunExit with the text the program writes on standard error and the status it exits with; the
// programs (through runProgram) and the Python binding catch it, so that a refusal does not end the
// process that asked for the run.

#include <cstdio>
#include <exception>
#include <string>
#include <utility>

class RunExit : public std::exception {
  public:
    RunExit(int status, std::string text) : status_(status), text_(std::move(text)) {}
    // The exit status: 0 after --help or --version, 1 for a refusal, -1 and -2 when the tree's memory ran
    // out.
    int status() const { return status_; }
    // What goes on standard error, byte for byte (it may hold a NUL byte: a refused control character).
    const std::string& text() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    int status_;
    std::string text_;
};

// Ends the run with status and the text formatted from format and its arguments (printf rules).
[[noreturn]] void endRun(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Ends the run with status and text as it is.
[[noreturn]] void endRunWith(int status, std::string text);

// Runs a program's body, then writes the text of the RunExit that ended it early, if one did, on standard
// error; returns the body's status or the RunExit's.
int runProgram(int (*body)(int, char**), int argc, char** argv);

// What print writes on the stream it is given, as text (the usage and help texts that refusals carry).
std::string textPrintedBy(void (*print)(FILE*));
