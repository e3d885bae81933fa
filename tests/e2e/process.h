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
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/sd_ptr.h"

namespace vantrel::test {

inline constexpr double kReaper = 30.0;

inline std::string bin(const std::string& name) { return std::string(VANTREL_BINARY_DIR) + "/bin/" + name; }

struct Result {
    int code = -1;
    std::string out;
    std::string err;  // with runCapturingErrors only; run leaves stderr to the test's
};

// In a forked child: becomes the program argv names (argv[0] a path), or exits 127.
[[noreturn]] inline void execArgv(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
}

// Runs a program to its end, or kills it (by its pid) when the reaper timeout passes; stderr is
// read too when captureErrors. With input, that is its standard input.
inline Result runProgram(const std::vector<std::string>& argv, double timeout, bool captureErrors,
                         const std::optional<std::string>& input = std::nullopt) {
    int fds[2], errs[2] = {-1, -1}, in[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) < 0) return {};
    if (captureErrors && ::pipe2(errs, O_CLOEXEC) < 0) return {};
    if (input && ::pipe2(in, O_CLOEXEC) < 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        if (captureErrors) ::dup2(errs[1], 2);
        if (input) ::dup2(in[0], 0);
        execArgv(argv);
    }
    ::close(fds[1]);
    if (captureErrors) ::close(errs[1]);
    if (input) {
        ::close(in[0]);
        // The input is small: it fits the pipe, so writing it all first cannot block on the child.
        if (!input->empty()) {
            EXPECT_EQ(::write(in[1], input->data(), input->size()), static_cast<ssize_t>(input->size()));
        }
        ::close(in[1]);
    }
    Result r;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    pollfd p[2] = {{fds[0], POLLIN, 0}, {errs[0], POLLIN, 0}};
    std::string* into[2] = {&r.out, &r.err};
    while (p[0].fd >= 0 || p[1].fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << argv[0] << " " << (argv.size() > 3 ? argv[3] : "") << " timed out";
            break;
        }
        if (::poll(p, 2, static_cast<int>(left)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (p[i].fd < 0 || !p[i].revents) continue;
            char buf[4096];
            ssize_t n = ::read(p[i].fd, buf, sizeof buf);
            if (n <= 0)
                p[i].fd = -1;
            else
                into[i]->append(buf, static_cast<size_t>(n));
        }
    }
    ::close(fds[0]);
    if (captureErrors) ::close(errs[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline Result run(const std::vector<std::string>& argv, double timeout = kReaper) { return runProgram(argv, timeout, false); }
inline Result runCapturingErrors(const std::vector<std::string>& argv, double timeout = kReaper) {
    return runProgram(argv, timeout, true);
}
// Both outputs kept apart, with `input` on the program's standard input.
using Captured = Result;
inline Captured runCaptured(const std::vector<std::string>& argv, const std::string& input = "", double timeout = kReaper) {
    return runProgram(argv, timeout, true, input);
}

// A JSON text parsed; a discarded value when it is no JSON, so a broken reply fails the check
// that reads it rather than the whole test program.
inline nlohmann::json parseJson(const std::string& text) { return nlohmann::json::parse(text, nullptr, false); }

// The value at a JSON pointer such as "/alerts/0/id", or null when there is none.
inline nlohmann::json jsonAt(const nlohmann::json& j, const std::string& pointer) {
    nlohmann::json::json_pointer p(pointer);
    return j.contains(p) ? j[p] : nlohmann::json();
}

inline size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Polls done every 100 ms until it holds or the timeout passes; its last answer.
inline bool waitFor(const std::function<bool()>& done, double timeout = kReaper) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

// The bus address a running device recorded, or empty.
inline std::string busAddressOf(const std::string& deviceFolder) {
    std::ifstream in(deviceFolder + "/run/bus.address");
    std::string address;
    std::getline(in, address);
    return address;
}

// A client connection of the test's own to a device bus, or null when it cannot be joined.
inline platform::BusPtr joinBus(const std::string& address) {
    platform::BusPtr bus;
    int r = sd_bus_new(platform::out(bus));
    if (r >= 0) r = sd_bus_set_address(bus.get(), address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus.get(), 1);
    if (r >= 0) r = sd_bus_start(bus.get());
    return r >= 0 ? std::move(bus) : nullptr;
}

// A Settings app that stays open on its main page, reading commands from a pipe; ended by its
// pid when the session goes away.
class SettingsSession {
public:
    SettingsSession() = default;
    SettingsSession(const SettingsSession&) = delete;
    SettingsSession& operator=(const SettingsSession&) = delete;
    ~SettingsSession() { close(); }

    void open(const std::string& deviceFolder) {
        int in[2], out[2];
        ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            std::string program = bin("vantrel-settings");
            ::execl(program.c_str(), program.c_str(), "--device", deviceFolder.c_str(), "--session", static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        in_.reset(in[1]);
        out_.reset(out[0]);
    }

    void close() {
        if (pid_ <= 0) return;
        in_.reset();
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        out_.reset();
        pid_ = -1;
    }

    // One command of the session; its output up to the closing "ok" or "error" line.
    std::string ask(const std::string& line) {
        std::string text = line + "\n";
        EXPECT_EQ(::write(in_.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kReaper);
        while (got.find("\nok\n") == std::string::npos && got.find("\nerror\n") == std::string::npos &&
               got.rfind("ok\n", 0) != 0 && got.rfind("error\n", 0) != 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) {
                ADD_FAILURE() << "the Settings session did not answer " << line;
                break;
            }
            pollfd p{out_.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            ssize_t n = ::read(out_.get(), buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

private:
    pid_t pid_ = -1;
    platform::Fd in_, out_;
};

}  // namespace vantrel::test
