#include "sim/view/settings_session.h"

#include "platform/foundation/file.h"
#include "sim/common/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::sim::view {
namespace {

using Clock = std::chrono::steady_clock;
constexpr char kTimedOut[] = "SettingsTimedOut";

}  // namespace

SettingsSession::SettingsSession(DeviceFolder device, std::string program)
    : device_(std::move(device)), program_(std::move(program)) {}

SettingsSession::~SettingsSession() { close(); }

Result<void> SettingsSession::spawn() {
    if (!busAddress(device_)) return failure("the device at " + device_.root + " is not running", kSettingsUnavailable);
    // Nothing else of ours (the listening socket, clients) reaches the app.
    auto child = ChildProcess::spawn(program_, {"--device", device_.root, "--session"}, ChildProcess::Error::Ours);
    if (!child) return failure(child.error().message, kSettingsUnavailable);
    child_ = std::move(*child);
    buffered_.clear();
    return {};
}

void SettingsSession::close() {
    std::lock_guard lock(mutex_);
    child_.input().reset();
    // Given its input's end, the app leaves its page (saving it) and exits; else it is killed.
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (child_.running() && child_.poll() < 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    child_ = ChildProcess();
}

Result<std::string> SettingsSession::exchange(const std::string& line, double timeoutSeconds) {
    if (!platform::writeAll(child_.input().get(), line)) return failure("the Settings app ended", kSettingsUnavailable);
    const auto end = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    std::string answer;
    for (;;) {
        size_t nl;
        while ((nl = buffered_.find('\n')) != std::string::npos) {
            std::string l = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            if (l == "ok") return answer;
            if (l == "error") {
                while (!answer.empty() && answer.back() == '\n') answer.pop_back();
                return failure(answer, kSettingsRefused);
            }
            answer += l + "\n";
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return failure("the Settings app did not answer in time", kTimedOut);
        pollfd p{child_.output().get(), POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) continue;
        char chunk[8192];
        ssize_t got = ::read(child_.output().get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return failure("the Settings app ended", kSettingsUnavailable);
        buffered_.append(chunk, static_cast<size_t>(got));
    }
}

Result<std::string> SettingsSession::command(const std::vector<std::string>& words, double timeoutSeconds) {
    // The session reads a line of words: each is quoted, its quotes and backslashes escaped. A
    // text field holds one line, so a line break has no way in.
    std::string line;
    for (const auto& w : words) {
        line += line.empty() ? "\"" : " \"";
        for (char c : w) {
            if (c == '\n' || c == '\r') return failure("a line break cannot be typed into the Settings app", kSettingsBadText);
            if (c == '"' || c == '\\') line += '\\';
            line += c;
        }
        line += '"';
    }
    line += "\n";
    std::lock_guard lock(mutex_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // One that ended on its own (its device stopped) is replaced.
        if (child_.running() && child_.poll() >= 0) child_ = ChildProcess();
        if (!child_.running())
            if (auto started = spawn(); !started) return started.error();
        auto answer = exchange(line, timeoutSeconds);
        if (answer || (answer.error().name != kSettingsUnavailable && answer.error().name != kTimedOut)) return answer;
        // No answer: the app is gone or stuck; end it by its pid. One that ended before reading
        // the command gets a fresh one; one that hung may have done it, so it is not sent again.
        child_ = ChildProcess();
        if (answer.error().name == kTimedOut) return failure(answer.error().message, kSettingsUnavailable);
        if (attempt == 1 || !busAddress(device_)) return answer;
    }
    return failure("the Settings app cannot be reached", kSettingsUnavailable);
}

}  // namespace vantrel::sim::view
