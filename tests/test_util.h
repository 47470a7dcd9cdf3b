#pragma once
// Helpers for end-to-end tests: run a program and capture what it prints,
// and manage fixture files in a private temporary directory.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace testutil {

struct RunResult {
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
    int status;       // exit status; 128 + signal number if killed by a signal, -1 if it could not start
};

namespace detail {

// Reads both pipes to the end together so that neither can fill up and block the child.
inline void drainPipes(int outFd, int errFd, std::string& out, std::string& err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open = 2;
    char buf[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open--;
            }
        }
    }
}

}  // namespace detail

// Runs args[0] (a path, not searched in PATH) with args as its argument vector, standard input
// at /dev/null, in directory cwd when not empty.  Waits for it to end.
inline RunResult runCommand(const std::vector<std::string>& args, const std::string& cwd = "") {
    RunResult result{"", "", -1};
    if (args.empty()) return result;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0) return result;
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        close(outPipe[0]);
        close(outPipe[1]);
        close(errPipe[0]);
        close(errPipe[1]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    detail::drainPipes(outPipe[0], errPipe[0], result.out, result.err);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.status = 128 + WTERMSIG(wstatus);
    return result;
}

// Creates a fresh private directory under $TMPDIR (or /tmp) and returns its path.
inline std::string makeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/motbox_test_XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    return std::string(buf.data());
}

// Writes content to path exactly, replacing any previous file.
inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Returns the whole content of path; throws if it cannot be opened.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline bool fileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// Removes a directory tree made by makeTempDir (best effort).
inline void removeTree(const std::string& path) {
    if (path.empty()) return;
    std::error_code ignored;  // leftover temporary files are harmless
    std::filesystem::remove_all(path, ignored);
}

// A model of a result file: its line "name code count" and the sequence of each "Seq" line after it.
struct WrittenModel {
    std::string name, code;
    int count = 0;
    std::vector<int> sequences;
};

// The models of a result file's body (between the "====" line and "Nb models"), in order.
inline std::vector<WrittenModel> writtenModels(const std::string& result) {
    std::vector<WrittenModel> models;
    std::istringstream in(result);
    std::string line;
    bool body = false;
    while (std::getline(in, line)) {
        if (!body) {
            body = line.rfind("====", 0) == 0;
            continue;
        }
        if (line.rfind("Nb models", 0) == 0) break;
        if (line.rfind("Seq ", 0) == 0) {
            if (!models.empty()) models.back().sequences.push_back(std::stoi(line.substr(4)));
            continue;
        }
        WrittenModel m;
        std::istringstream fields(line);
        if (fields >> m.name >> m.code >> m.count) models.push_back(std::move(m));  // else the count line
    }
    return models;
}

// The IUPAC complement of an upper-case nucleotide character, 0 for any other
// (written here apart from the library, for the brute-force checks).
inline char complementChar(char ch) {
    static const std::string from = "ACGTRYKMSWBVDHN", to = "TGCAYRMKSWVBHDN";
    const size_t k = from.find(ch);
    return k == std::string::npos ? '\0' : to[k];
}

inline std::string reverseComplement(const std::string& s) {
    std::string rc;
    for (auto it = s.rbegin(); it != s.rend(); ++it) rc += complementChar(*it);
    return rc;
}

// A result file without its CPU time line, which differs from run to run.
inline std::string withoutUserTime(const std::string& result) {
    std::string kept;
    std::istringstream in(result);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("User time", 0) != 0) kept += line + "\n";
    return kept;
}

}  // namespace testutil

using testutil::fileExists;
using testutil::makeTempDir;
using testutil::readFile;
using testutil::removeTree;
using testutil::runCommand;
using testutil::RunResult;
using testutil::writeFile;
