// NSLog: one line to stderr and, once a host sets one, to a log file of the device. Thread-safe.
// The format is printf's and must be a literal: texts from files or users go in as "%s"
// arguments. Every message is capped and its control characters escaped, so a value can neither
// forge a line nor reach a terminal as an escape; a burst limit per process keeps a flood from
// filling the disk, and says how many messages it suppressed once its interval has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Opens the log file for appending without following a link; false when it cannot be opened
// (a link, no regular file, no permission): the process then logs to stderr alone and says so
// once. Empty: stderr only.
bool setLogFile(const std::string& path);
// Off: stderr is left alone while a log file is open.
void setLogToStderr(bool on);
// Writes the pending "suppressed N messages" line now (hosts call it before they exit).
void flushLog();

inline constexpr size_t kLogBurst = 1000;          // messages per interval
inline constexpr double kLogIntervalSeconds = 30;  // as journald's default
inline constexpr size_t kMaxLogMessage = 8192;     // bytes of a message kept before escaping

// The burst limit: at most `burst` messages in an interval that begins with its first message.
// The first message after an interval that suppressed any reports the count through
// takeSuppressed(). Not thread-safe; time in seconds of any monotonic clock.
class LogRateLimiter {
public:
    LogRateLimiter(size_t burst, double intervalSeconds) : burst_(burst), interval_(intervalSeconds) {}
    // True when a message at `now` may be written; otherwise it is counted as suppressed.
    bool admit(double now);
    // Messages suppressed in intervals that have ended, not yet reported (then zero).
    uint64_t takeSuppressed();
    // Ends the current interval now, so its suppressed messages can be reported.
    void endInterval();

private:
    size_t burst_;
    double interval_;
    bool started_ = false;
    double begin_ = 0;
    size_t admitted_ = 0;
    uint64_t suppressed_ = 0;  // in the current interval
    uint64_t toReport_ = 0;    // of intervals that ended
};

// The message as one safe line: cut at kMaxLogMessage bytes (saying how much was left out),
// newline, CR, tab, ESC, the other C0 controls, DEL and the C1 controls written as escapes.
std::string escapeLogMessage(std::string_view message);

}  // namespace platform

void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
