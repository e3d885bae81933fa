#include "sim/common/process.h"
#include "platform/foundation/error_text.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#ifdef VANTREL_COVERAGE
extern "C" void __gcov_dump();
#endif

namespace vantrel::sim {

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::move(other.input_)),
      output_(std::move(other.output_)),
      error_(std::move(other.error_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        kill();
        pid_ = std::exchange(other.pid_, -1);
        input_ = std::move(other.input_);
        output_ = std::move(other.output_);
        error_ = std::move(other.error_);
    }
    return *this;
}

Result<ChildProcess> ChildProcess::spawn(const std::string& program, const std::vector<std::string>& args, Error error) {
    int pipes[3][2];
    int made = 0;
    for (; made < 3; ++made)
        if (::pipe2(pipes[made], O_CLOEXEC) != 0) break;
    if (made < 3) {
        const int why = errno;
        for (int i = 0; i < made; ++i) ::close(pipes[i][0]), ::close(pipes[i][1]);
        return failure(std::string("pipe: ") + platform::errorText(why));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[0][0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipes[1][1], STDOUT_FILENO);
    if (error == Error::Piped) posix_spawn_file_actions_adddup2(&actions, pipes[2][1], STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ChildProcess child;
    int r = ::posix_spawn(&child.pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipes[0][0]), ::close(pipes[1][1]), ::close(pipes[2][1]);
    child.input_.reset(pipes[0][1]);
    child.output_.reset(pipes[1][0]);
    child.error_.reset(pipes[2][0]);
    if (error == Error::Ours) child.error_.reset();
    if (r != 0) {
        child.pid_ = -1;
        return failure("cannot start " + program + ": " + platform::errorText(r));
    }
    return child;
}

int ChildProcess::poll() {
    if (pid_ <= 0) return -1;
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {}
    if (done == 0) return -1;
    pid_ = -1;
    return status;
}

int ChildProcess::wait() {
    int status = 0;
    if (pid_ <= 0) return status;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
    pid_ = -1;
    return status;
}

void ChildProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    wait();
}

bool Captured::exitedZero() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

Result<Captured> runCapture(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                            double timeoutSeconds, size_t maxOutput) {
    ChildProcess child = TRY(ChildProcess::spawn(program, args));
    ::fcntl(child.input().get(), F_SETFL, O_NONBLOCK);
    Captured got;
    size_t written = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (child.output() || child.error()) {
        if (child.input() && written == input.size()) child.input().reset();
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return failure(program + " did not finish within " + std::to_string(static_cast<int>(timeoutSeconds)) + " s",
                           "TimedOut");
        pollfd fds[3] = {{child.output() ? child.output().get() : -1, POLLIN, 0},
                         {child.error() ? child.error().get() : -1, POLLIN, 0},
                         {child.input() ? child.input().get() : -1, POLLOUT, 0}};
        if (::poll(fds, 3, static_cast<int>(left)) < 0) {
            if (errno == EINTR) continue;
            return failure(std::string("poll: ") + platform::errorText(errno));
        }
        if (fds[2].fd >= 0 && fds[2].revents) {
            ssize_t n = ::write(child.input().get(), input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                child.input().reset();  // it reads no more
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            platform::Fd& fd = i == 0 ? child.output() : child.error();
            std::string& text = i == 0 ? got.output : got.error;
            char buf[1 << 16];
            ssize_t n = ::read(fd.get(), buf, sizeof buf);
            if (n > 0)
                text.append(buf, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                fd.reset();
            if (text.size() > maxOutput)
                return failure(program + " wrote more than " + std::to_string(maxOutput) + " bytes", "TooLarge");
        }
    }
    child.input().reset();
    got.status = child.wait();
    return got;
}

void exitNow(int code) {
    (void)std::fflush(nullptr);
#ifdef VANTREL_COVERAGE
    __gcov_dump();
#endif
    ::_exit(code);
}

}  // namespace vantrel::sim
