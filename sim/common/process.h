// The device programs' children (dpkg-deb, rsvg-convert, the view's Settings session): a program
// started with its standard input, output and error on pipes to us and no other descriptor of
// ours reaching it, owned so that it is killed and reaped on every path that lets it go; and one
// run-to-the-end with input, a time limit and an output cap.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/foundation/sd_ptr.h"
#include "sim/common/result.h"

namespace vantrel::sim {

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running is killed (SIGKILL) and reaped.
    ~ChildProcess() { kill(); }

    enum class Error { Piped, Ours };  // its standard error on a pipe, or on ours
    // Starts program (an absolute path) with args after argv[0]; an error names the program.
    static Result<ChildProcess> spawn(const std::string& program, const std::vector<std::string>& args,
                                      Error error = Error::Piped);

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    platform::Fd& input() { return input_; }    // its standard input
    platform::Fd& output() { return output_; }  // its standard output
    platform::Fd& error() { return error_; }    // its standard error

    // Reaps it when it has ended; its wait status, or -1 while it runs.
    int poll();
    // Waits for its end: its wait status.
    int wait();
    // SIGKILL, then reaped.
    void kill();

private:
    pid_t pid_ = -1;
    platform::Fd input_, output_, error_;
};

struct Captured {
    int status = 0;  // the wait status
    std::string output, error;
    bool exitedZero() const;
};

// Runs program to its end, handing it input and taking its output and error; past the time
// limit or past maxOutput bytes of either it is killed and that is the error (named "TimedOut"
// or "TooLarge").
Result<Captured> runCapture(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                            double timeoutSeconds, size_t maxOutput);

// Ends this process at once, as the hosts end: stdio flushed, no destructors run (the injected
// libraries' would run against a torn-down platform). A coverage build writes its counters
// first, which _exit alone would lose.
[[noreturn]] void exitNow(int code);

}  // namespace vantrel::sim
