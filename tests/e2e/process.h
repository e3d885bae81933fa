// Programs of the device run from a test: to their end, or killed by their pid when the reaper
// timeout passes; and small readers of what they print. Shared by the two-process suites.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <vector>

namespace vantrel::test {

inline constexpr double kReaper = 30.0;

inline std::string bin(const std::string& name) { return std::string(VANTREL_BINARY_DIR) + "/bin/" + name; }

struct Result {
    int code = -1;
    std::string out;
};

// Runs a program to its end, or kills it (by its pid) when the reaper timeout passes.
inline Result run(const std::vector<std::string>& argv, double timeout = kReaper) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        _exit(127);
    }
    ::close(fds[1]);
    Result r;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << argv[0] << " " << (argv.size() > 3 ? argv[3] : "") << " timed out";
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[4096];
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        r.out.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// The first group of a pattern in a JSON text, or empty.
inline std::string field(const std::string& json, const std::string& pattern) {
    std::smatch m;
    return std::regex_search(json, m, std::regex(pattern)) ? m[1].str() : std::string();
}

inline size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace vantrel::test
