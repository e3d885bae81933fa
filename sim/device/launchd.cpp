#include "sim/device/launchd.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/device_bus.h"
#include "platform/foundation/error_text.h"
#include "platform/foundation/file.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sd_ptr.h"
#include "sim/common/safety.h"

namespace vantrel::sim {
namespace {

pid_t spawnSpringBoard(const DeviceFolder& device, const std::string& program, bool interactive, bool safeMode) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!interactive) {
        int out =
            ::open((device.run() + "/SpringBoard.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
    }
    std::vector<const char*> argv{program.c_str(), "--device", device.root.c_str()};
    if (interactive) argv.push_back("--interactive");
    if (safeMode) argv.push_back(kSafeModeArgument);
    argv.push_back(nullptr);
    ::execv(program.c_str(), const_cast<char* const*>(argv.data()));
    (void)std::fprintf(stderr, "vantrel-device: cannot run %s: %s\n", program.c_str(), platform::errorText(errno).c_str());
    _exit(127);
}

}  // namespace

CrashLoop::Next CrashLoop::ended(int waitStatus, double now) {
    const int exitStatus = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    const bool respring = exitStatus == kRespringExitStatus || exitStatus == 128 + SIGTERM ||
                          (WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGTERM);
    if (respring) {
        const bool left = safeMode_;
        safeMode_ = false;
        crashes_.clear();
        return left ? Next::LeaveSafeMode : Next::Restart;
    }
    if (exitStatus == kLostBusExitStatus) return Next::Restart;
    crashes_.push_back(now);
    while (now - crashes_.front() > kCrashLoopWindow) crashes_.pop_front();
    if (static_cast<int>(crashes_.size()) < kCrashLoopDeaths) return Next::Restart;
    crashes_.clear();
    if (safeMode_) return Next::Stop;
    safeMode_ = true;
    return Next::EnterSafeMode;
}

void sleepFor(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// Ends a process we recorded, by its pid only, and waits for it to be gone.
void endProcess(pid_t pid, double timeout) {
    if (::kill(pid, SIGTERM) < 0) return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (std::chrono::steady_clock::now() < end) {
        int status;
        if (::waitpid(pid, &status, WNOHANG) == pid) return;
        if (::kill(pid, 0) < 0) return;
        sleepFor(0.01);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, WNOHANG);
}

void removeRunFiles(const DeviceFolder& device) {
    // Relative to run/ opened without following a link, never through one.
    platform::Fd run(::open(device.run().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!run) return;
    for (const auto& f : {device.springBoardPidFile(), device.busPidFile(), device.busAddressFile(), device.launchdPidFile()})
        ::unlinkat(run.get(), f.substr(f.rfind('/') + 1).c_str(), 0);
}

int launchd(const DeviceFolder& device, bool interactive, ControlLock* control) {
    // Held until launchd returns.
    auto claim = claimLaunchd(device);
    if (!claim) {
        std::cerr << "vantrel-device: " << claim.error().message << "\n";
        return 1;
    }
    if (control) control->release();
    platform::setLogFile(device.log());
    if (!interactive) platform::setLogToStderr(false);
    // The host comes from this installation, and only from a folder nobody else can write.
    auto program = companionProgram("vantrel-springboard");
    if (!program) {
        NSLog("launchd: %s", program.error().message.c_str());
        return 1;
    }
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);

    writePid(device.launchdPidFile(), ::getpid());
    std::string error;
    auto bus = platform::startDeviceBus(device.run(), 10.0, &error);
    if (!bus) {
        NSLog("launchd: the device bus did not start: %s", error.c_str());
        removeRunFiles(device);
        return 1;
    }
    writePid(device.busPidFile(), bus->pid);
    platform::writeFileAtomically(
        device.busAddressFile(),
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bus->address.data()), bus->address.size()));

    CrashLoop crashLoop;
    const auto started = std::chrono::steady_clock::now();
    pid_t springBoard = spawnSpringBoard(device, *program, interactive, false);
    writePid(device.springBoardPidFile(), springBoard);
    int code = 0;
    bool running = true;
    while (running) {
        siginfo_t info;
        int sig = ::sigwaitinfo(&set, &info);
        if (sig < 0) continue;
        if (sig != SIGCHLD) break;
        for (;;) {
            int status = 0;
            pid_t done = ::waitpid(-1, &status, WNOHANG);
            if (done <= 0) break;
            if (done == bus->pid) {
                NSLog("launchd: the device bus ended; the device stops");
                bus->pid = -1;
                running = false;
                code = 1;
            } else if (done == springBoard) {
                springBoard = -1;
                int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                if (interactive && exitStatus == 0) {
                    running = false;  // the user quit SpringBoard in the terminal
                    break;
                }
                NSLog("launchd: SpringBoard ended (%s %d); starting it again", WIFSIGNALED(status) ? "signal" : "status",
                      WIFSIGNALED(status) ? WTERMSIG(status) : exitStatus);
                const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                switch (crashLoop.ended(status, now)) {
                case CrashLoop::Next::Restart: break;
                case CrashLoop::Next::LeaveSafeMode: NSLog("launchd: a respring leaves safe mode"); break;
                case CrashLoop::Next::EnterSafeMode:
                    NSLog(
                        "launchd: SpringBoard crashed %d times within %g s; starting it in safe mode, without "
                        "extensions",
                        CrashLoop::kCrashLoopDeaths, CrashLoop::kCrashLoopWindow);
                    break;
                case CrashLoop::Next::Stop:
                    NSLog("launchd: SpringBoard keeps crashing in safe mode too; the device stops");
                    running = false;
                    code = 1;
                    break;
                }
                if (!running) break;
                springBoard = spawnSpringBoard(device, *program, interactive, crashLoop.safeMode());
                writePid(device.springBoardPidFile(), springBoard);
            }
        }
    }
    if (springBoard > 0) endProcess(springBoard, 3.0);
    if (bus->pid > 0) platform::stopDeviceBus(bus->pid);
    removeRunFiles(device);
    NSLog("launchd: the device stopped");
    return code;
}

}  // namespace vantrel::sim
