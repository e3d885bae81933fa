// vantrel-device: the control tool of the simulated device, and its launchd. launchd owns the
// device's processes: the private dbus-daemon and SpringBoard, both its children; it starts
// SpringBoard again whenever it is killed (a respring), in safe mode after a crash loop, and
// ends both, by pid, when stopped. The commands are clients of SpringBoard's typed interface.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "platform/foundation/file.h"
#include "platform/foundation/log.h"
#include "sim/device/device.h"
#include "sim/device/launchd.h"
#include "sim/device/packages.h"
#include "sim/device/safety.h"

using namespace vantrel::sim;

namespace {

constexpr double kStartTimeout = 20.0;
constexpr double kControlTimeout = 5.0;

int usage() {
    std::cerr << "usage: vantrel-device [--device DIR] install [--fresh] | install PACKAGE.deb | remove PACKAGE |\n"
                 "       packages [--json] | start [--fresh] [--interactive] | stop |\n"
                 "       restart | log [-n LINES] | status [--json] | tap | lock | unlock | nc open|close |\n"
                 "       alert ID BUTTON | set KEY=VALUE...\n";
    return 2;
}

bool springBoardAnswers(const DeviceFolder& device, double timeout) {
    return static_cast<bool>(control(device, "Ping", nullptr, timeout, "org.freedesktop.DBus.Peer"));
}

bool waitForSpringBoard(const DeviceFolder& device, double timeout) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (std::chrono::steady_clock::now() < end) {
        if (!runningLaunchd(device).valueOr(std::nullopt)) return false;  // launchd gave up
        if (springBoardAnswers(device, 1.0)) return true;
        sleepFor(0.05);
    }
    return false;
}

bool ensureInstalled(const DeviceFolder& device, bool fresh) {
    if (!fresh && device.isInstalled()) return true;
    if (auto installed = install(device, fresh); !installed) {
        std::cerr << "vantrel-device: " << installed.error().message << "\n";
        return false;
    }
    return true;
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
    pid_t springBoard = readPid(device.springBoardPidFile(), "vantrel-springboard").value_or(-1);
    pid_t bus = readPid(device.busPidFile(), "dbus-daemon").value_or(-1);
    if (launchdPid) {
        if (::kill(*launchdPid, SIGTERM) != 0) {
            std::cerr << "vantrel-device: cannot stop launchd (pid " << *launchdPid << ") of " << device.root << ": "
                      << std::strerror(errno) << "\n";
            return 1;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        auto done = [&] {
            return !runningLaunchd(device).valueOr(std::nullopt) && gone(springBoard, "vantrel-springboard") && gone(bus, "dbus-daemon");
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
            std::cerr << "vantrel-device: the device runs (pid " << *running
                      << ") but SpringBoard does not answer (./vantrel device log)\n";
            return 1;
        }
    }
    if (stopHeld(device, true) != 0) return 1;  // leftovers of a device that did not stop cleanly
    if (!ensureInstalled(device, fresh)) return 1;
    if (interactive) return launchd(device, true, &control);

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
        std::string self = programPath("vantrel-device");
        ::execl(self.c_str(), self.c_str(), "--device", device.root.c_str(), "launchd", static_cast<char*>(nullptr));
        _exit(127);
    }
    // launchd is a daemon of its own; nobody needs to wait for it but the system.
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kStartTimeout);
    while (std::chrono::steady_clock::now() < end) {
        int status;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            std::cerr << "vantrel-device: the device did not start (./vantrel device log)\n";
            return 1;
        }
        if (springBoardAnswers(device, 1.0)) {
            std::cout << "started (pid " << pid << "): " << device.root << "\n";
            return 0;
        }
        sleepFor(0.05);
    }
    std::cerr << "vantrel-device: SpringBoard did not answer within " << kStartTimeout << " s (./vantrel device log)\n";
    return 1;
}

int installCommand(const DeviceFolder& device, bool fresh) {
    ControlLock control(device, true);
    if (!control.held()) {
        std::cerr << "vantrel-device: " << control.error() << "\n";
        return 1;
    }
    auto running = runningLaunchd(device).valueOr(std::nullopt);
    if (running && fresh && stopHeld(device, true) != 0) return 1;
    if (auto installed = install(device, fresh); !installed) {
        std::cerr << "vantrel-device: " << installed.error().message << "\n";
        return 1;
    }
    std::cout << "installed " << device.root << "\n";
    if (running && fresh) std::cout << "the device was stopped for the fresh install: ./vantrel device start\n";
    else if (running)
        std::cout << "the running SpringBoard keeps the tweak it loaded: respring to load the new one (./vantrel device restart)\n";
    return 0;
}

int showLog(const DeviceFolder& device, size_t lines) {
    std::ifstream in(device.log());
    if (!in) {
        std::cerr << "vantrel-device: no log yet at " << device.log() << "\n";
        return 1;
    }
    std::vector<std::string> tail;
    std::string line;
    while (std::getline(in, line)) {
        tail.push_back(line);
        if (tail.size() > lines) tail.erase(tail.begin());
    }
    for (const auto& l : tail) std::cout << l << "\n";
    return 0;
}

// What the names of SpringBoard's errors mean to whoever typed the command.
std::string explain(const Error& e) {
    if (e.name == kErrorNoSuchAlert) return "no such alert: " + e.message;
    if (e.name == kErrorInvalidArgument) return "invalid argument: " + e.message;
    if (e.name == kErrorNotAllowed) return "not allowed: " + e.message;
    return e.message;
}

int call(const DeviceFolder& device, const char* method, const ControlArguments& arguments = nullptr) {
    auto text = control(device, method, arguments, kControlTimeout);
    if (!text) {
        std::cerr << "vantrel-device: " << explain(text.error()) << "\n";
        return 1;
    }
    if (!text->empty()) std::cout << *text << "\n";
    return 0;
}

// The commands that talk to SpringBoard; -1 when the words are none of them.
int sendControl(const DeviceFolder& device, const std::vector<std::string>& w, bool json) {
    const std::string& c = w[0];
    if (c == "ping") {
        auto r = control(device, "Ping", nullptr, kControlTimeout, "org.freedesktop.DBus.Peer");
        if (!r) std::cerr << "vantrel-device: " << explain(r.error()) << "\n";
        else std::cout << "pong\n";
        return r ? 0 : 1;
    }
    if (c == "status") return call(device, json ? "Status" : "StatusLine");
    if (c == "tap" && w.size() == 1) return call(device, "Tap");
    if (c == "lock" && w.size() == 1) return call(device, "Lock");
    if (c == "unlock" && w.size() == 1) return call(device, "Unlock");
    if (c == "nc" && w.size() == 2 && w[1] == "open") return call(device, "OpenNotificationCenter");
    if (c == "nc" && w.size() == 2 && w[1] == "close") return call(device, "CloseNotificationCenter");
    if (c == "alert" && w.size() == 3) {
        uint64_t id = 0;
        auto [end, ec] = std::from_chars(w[1].data(), w[1].data() + w[1].size(), id);
        if (ec != std::errc() || end != w[1].data() + w[1].size()) {
            std::cerr << "vantrel-device: an alert id is a number, not " << w[1] << "\n";
            return 2;
        }
        return call(device, "AnswerAlert", [&](sd_bus_message* m) { return sd_bus_message_append(m, "ts", id, w[2].c_str()); });
    }
    if (c == "set" && w.size() > 1) {
        platform::Dictionary changes;
        for (size_t i = 1; i < w.size(); ++i) {
            auto eq = w[i].find('=');
            if (eq == std::string::npos || eq == 0) {
                std::cerr << "vantrel-device: expected KEY=VALUE, got " << w[i] << "\n";
                return 2;
            }
            changes[w[i].substr(0, eq)] = parseValue(w[i].substr(eq + 1));
        }
        return call(device, "SetHardware", [&](sd_bus_message* m) { return appendHardwareChanges(m, changes); });
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> folder;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--device") {
            if (++i >= argc) return usage();
            folder = argv[i];
        } else if (a.rfind("--device=", 0) == 0) {
            folder = a.substr(9);
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) return usage();
    DeviceFolder device = deviceFolder(folder);
    const std::string cmd = words[0];
    auto has = [&](const char* flag) {
        for (size_t i = 1; i < words.size(); ++i)
            if (words[i] == flag) return true;
        return false;
    };

    // Nothing of a folder someone else could have prepared is read, run or written.
    if (auto safe = checkDeviceFolder(device); !safe) {
        std::cerr << "vantrel-device: " << safe.error().message << "\n";
        return 1;
    }
    if (cmd == "launchd") return launchd(device, false);
    if (cmd == "install" && words.size() == 2 && words[1] != "--fresh") return installPackageCommand(device, words[1]);
    if (cmd == "install") return installCommand(device, has("--fresh"));
    if (cmd == "remove" && words.size() == 2) return removePackageCommand(device, words[1]);
    if (cmd == "packages") return packagesCommand(device, has("--json"));
    if (cmd == "start") return start(device, has("--fresh"), has("--interactive"));
    if (cmd == "stop") return stop(device);
    if (cmd == "restart") {
        if (stop(device) != 0) return 1;
        return start(device, has("--fresh"), false);
    }
    if (cmd == "log") {
        size_t lines = 50;
        for (size_t i = 1; i + 1 < words.size(); ++i)
            if (words[i] == "-n") lines = static_cast<size_t>(std::max(1L, std::atol(words[i + 1].c_str())));
        return showLog(device, lines);
    }
    if (cmd == "status") return sendControl(device, {"status"}, has("--json"));
    if (int code = sendControl(device, words, false); code >= 0) return code;
    return usage();
}
