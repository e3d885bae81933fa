// The lifecycle of a device: install, start (a detached launchd, or launchd in this terminal),
// stop and restart. start, stop and install take turns on the folder's control lock; launchd
// and its children are ended by their recorded pids only.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/file.h"
#include "platform/foundation/error_text.h"
#include "platform/foundation/log.h"
#include "sim/common/device.h"
#include "sim/common/safety.h"
#include "sim/device/cli.h"
#include "sim/device/install.h"
#include "sim/device/launchd.h"

namespace vantrel::sim::cli {
namespace {

constexpr double kStartTimeout = 20.0;

bool waitForSpringBoard(const DeviceFolder& device, double timeout) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (std::chrono::steady_clock::now() < end) {
        if (!runningLaunchd(device).valueOr(std::nullopt)) return false;  // launchd gave up
        if (springBoardRuns(device, 1.0)) return true;
        sleepFor(0.05);
    }
    return false;
}

bool ensureInstalled(const DeviceFolder& device, bool fresh) {
    if (!fresh && device.isInstalled()) return true;
    if (auto installed = sim::install(device, fresh); !installed) {
        std::cerr << "vantrel-device: " << installed.error().message << "\n";
        return false;
    }
    return true;
}

// A folder --fresh would refuse gets no run/ of ours either: asked before the control lock.
bool freshable(const DeviceFolder& device) {
    auto checked = checkFreshable(device);
    if (!checked) std::cerr << "vantrel-device: " << checked.error().message << "\n";
    return static_cast<bool>(checked);
}

bool gone(pid_t pid, const char* program) { return pid <= 0 || !processRunsProgram(pid, program); }

// Ends the device under the caller's control lock: launchd, then waits for its children.
int stopHeld(const DeviceFolder& device, bool quiet) {
    auto running = runningLaunchd(device);
    if (!running) {
        std::cerr << "vantrel-device: " << running.error().message << "\n";
        return 1;
    }
    std::optional<pid_t> launchdPid = *running;
    pid_t springBoard = readPid(device, device.springBoardPidFile(), "vantrel-springboard").value_or(-1);
    pid_t bus = readPid(device, device.busPidFile(), "dbus-daemon").value_or(-1);
    if (launchdPid) {
        if (::kill(*launchdPid, SIGTERM) != 0) {
            std::cerr << "vantrel-device: cannot stop launchd (pid " << *launchdPid << ") of " << device.root << ": "
                      << platform::errorText(errno) << "\n";
            return 1;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        // launchd lets go of its lock a moment before it exits: stopped means the process is gone too.
        auto done = [&] {
            return !runningLaunchd(device).valueOr(std::nullopt) && gone(*launchdPid, "vantrel-device") &&
                   gone(springBoard, "vantrel-springboard") && gone(bus, "dbus-daemon");
        };
        while (!done() && std::chrono::steady_clock::now() < end) sleepFor(0.02);
        if (!done()) {
            // launchd did not end its children in time: they are ours, by their recorded pids.
            for (pid_t p : {*launchdPid, springBoard, bus})
                if (p > 0) ::kill(p, SIGKILL);
        }
        removeRunFiles(device);
        if (!quiet) std::cout << "stopped (pid " << *launchdPid << ")\n";
        return 0;
    }
    // A launchd that died leaves its children behind: end those we recorded.
    bool ended = false;
    if (springBoard > 0) endProcess(springBoard, 3.0), ended = true;
    if (bus > 0) endProcess(bus, 3.0), ended = true;
    removeRunFiles(device);
    if (!quiet) std::cout << (ended ? "stopped what a dead launchd left: " : "not running: ") << device.root << "\n";
    return 0;
}

}  // namespace

int stop(const DeviceFolder& device) {
    ControlLock control(device, false);
    if (!control.held()) {
        if (!control.error().empty()) {
            std::cerr << "vantrel-device: " << control.error() << "\n";
            return 1;
        }
        std::cout << "not running: " << device.root << "\n";
        return 0;
    }
    return stopHeld(device, false);
}

int start(const DeviceFolder& device, bool fresh, bool interactive) {
    Result<void> safe = checkSocketPath(device);
    if (safe) safe = checkDeviceFolder(device);
    if (!safe) {
        std::cerr << "vantrel-device: " << safe.error().message << "\n";
        return 1;
    }
    if (fresh && !freshable(device)) return 1;
    // One start at a time: the others wait here, then find the device running.
    ControlLock control(device, true);
    if (!control.held()) {
        std::cerr << "vantrel-device: " << control.error() << "\n";
        return 1;
    }
    if (safe = checkDeviceFolder(device); !safe) {
        std::cerr << "vantrel-device: " << safe.error().message << "\n";
        return 1;
    }
    if (fresh && stopHeld(device, true) != 0) return 1;
    auto launchdPid = runningLaunchd(device);
    if (!launchdPid) {
        std::cerr << "vantrel-device: " << launchdPid.error().message << "\n";
        return 1;
    }
    if (auto running = *launchdPid) {
        if (interactive) {
            if (stopHeld(device, true) != 0) return 1;  // the terminal takes over the running device
        } else if (waitForSpringBoard(device, kStartTimeout)) {
            std::cout << "already running (pid " << *running << "): " << device.root << "\n";
            return 0;
        } else {
            std::cerr << "vantrel-device: the device runs (pid " << *running << ") but SpringBoard does not answer ("
                      << deviceCommand(device, "log") << ")\n";
            return 1;
        }
    }
    if (stopHeld(device, true) != 0) return 1;  // leftovers of a device that did not stop cleanly
    if (!ensureInstalled(device, fresh)) return 1;
    if (interactive) return launchd(device, true, &control);

    // launchd runs in the background: what it would refuse is said here.
    auto self = companionProgram("vantrel-device");
    Result<std::string> host = self ? companionProgram("vantrel-springboard") : self;
    if (!host) {
        std::cerr << "vantrel-device: " << host.error().message << "\n";
        return 1;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("vantrel-device: fork");
        return 1;
    }
    if (pid == 0) {
        ::setsid();
        int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        ::execl(self->c_str(), self->c_str(), "--device", device.root.c_str(), "launchd", static_cast<char*>(nullptr));
        _exit(127);
    }
    // launchd is a daemon of its own; nobody needs to wait for it but the system.
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kStartTimeout);
    while (std::chrono::steady_clock::now() < end) {
        int status;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            std::cerr << "vantrel-device: the device did not start (" << deviceCommand(device, "log") << ")\n";
            return 1;
        }
        if (springBoardRuns(device, 1.0)) {
            std::cout << "started (pid " << pid << "): " << device.root << "\n";
            return 0;
        }
        sleepFor(0.05);
    }
    std::cerr << "vantrel-device: SpringBoard did not answer within " << kStartTimeout << " s (" << deviceCommand(device, "log")
              << ")\n";
    return 1;
}

int install(const DeviceFolder& device, bool fresh) {
    if (fresh && !freshable(device)) return 1;
    ControlLock control(device, true);
    if (!control.held()) {
        std::cerr << "vantrel-device: " << control.error() << "\n";
        return 1;
    }
    auto running = runningLaunchd(device).valueOr(std::nullopt);
    if (running && fresh && stopHeld(device, true) != 0) return 1;
    if (auto installed = sim::install(device, fresh); !installed) {
        std::cerr << "vantrel-device: " << installed.error().message << "\n";
        return 1;
    }
    std::cout << "installed " << device.root << "\n";
    if (running && fresh)
        std::cout << "the device was stopped for the fresh install: " << deviceCommand(device, "start") << "\n";
    else if (running)
        std::cout << "the running SpringBoard keeps the tweak it loaded: respring to load the new one ("
                  << deviceCommand(device, "restart") << ")\n";
    return 0;
}

int restart(const DeviceFolder& device, bool fresh) {
    if (stop(device) != 0) return 1;
    return start(device, fresh, false);
}

}  // namespace vantrel::sim::cli
