// A forked peer that takes a preference file's lock and stops itself while holding it, as a
// writer stalled in its fsync and then SIGSTOPped would. Killed by its pid (which frees the lock)
// when the holder goes away, and by the kernel should the test process die first.
#pragma once

#include <fcntl.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace vantrel::test {

class StoppedLockHolder {
public:
    explicit StoppedLockHolder(const std::string& lockPath) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // reaper: even a stopped child dies with the test
            int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0 || ::flock(fd, LOCK_EX) != 0) _exit(1);
            (void)!::write(ready[1], "x", 1);
            ::raise(SIGSTOP);
            _exit(0);
        }
        ::close(ready[1]);
        char c = 0;
        held_ = pid_ > 0 && ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
    }
    ~StoppedLockHolder() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};

}  // namespace vantrel::test
