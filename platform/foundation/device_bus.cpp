#include "platform/foundation/device_bus.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/error_text.h"
#include "platform/foundation/file.h"
#include "platform/foundation/sd_ptr.h"

namespace platform {
namespace {

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

bool fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

}  // namespace

std::optional<DeviceBus> startDeviceBus(const std::string& folder, double timeoutSeconds, std::string* error) {
    if (!createDirectories(folder)) {
        fail(error, "cannot create " + folder);
        return std::nullopt;
    }
    ::chmod(folder.c_str(), 0700);
    const std::string socket = folder + "/bus.socket";
    if (socket.size() >= sizeof(sockaddr_un::sun_path)) {
        fail(error, "the socket path " + socket + " is too long for a unix socket; use a shorter device folder");
        return std::nullopt;
    }
    ::unlink(socket.c_str());  // a stale socket of a daemon that died
    const std::string config = folder + "/bus.conf";
    {
        // Written beside its name and renamed over it: never through a link standing there.
        std::ostringstream out;
        out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>custom</type>\n"
               "  <listen>unix:path="
            << xmlEscaped(socket)
            << "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow eavesdrop=\"true\"/>\n"
               // Only SpringBoard's name may be owned. Every client runs as this user, so a
               // user policy cannot tell SpringBoard from a peer; the daemon has no finer rule
               // for ownership, and SpringBoard queues for its name to win it back.
               "    <allow own=\""
            << kDeviceBusOwnableName
            << "\"/>\n"
               "  </policy>\n"
               "</busconfig>\n";
        const std::string text = out.str();
        if (!writeFileAtomically(config, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()))) {
            fail(error, "cannot write " + config);
            return std::nullopt;
        }
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) < 0) {
        fail(error, std::string("pipe: ") + errorText(errno));
        return std::nullopt;
    }
    Fd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
    pid_t pid = ::fork();
    if (pid < 0) {
        fail(error, std::string("fork: ") + errorText(errno));
        return std::nullopt;
    }
    if (pid == 0) {
        // The mask survives exec: a starter that blocks SIGTERM to wait for it (launchd) would
        // leave the daemon deaf to it, killed only when the stop's wait runs out.
        sigset_t none;
        sigemptyset(&none);
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        // The address goes to fd 3, which survives exec.
        ::dup2(writeEnd.get(), 3);
        int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
        }
        // Its complaints go to the device folder, not into the terminal of whoever started it.
        int log = ::open((folder + "/bus.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (log >= 0) ::dup2(log, 2);
        ::umask(077);
        std::string configArg = "--config-file=" + config;
        execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), "--nofork", "--nopidfile", "--print-address=3",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    writeEnd.reset();  // our copy: the daemon's end alone keeps the pipe open
    std::string printed;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (printed.find('\n') == std::string::npos) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0) break;
        pollfd p{readEnd.get(), POLLIN, 0};
        if (::poll(&p, 1, left) <= 0) continue;
        char buf[512];
        ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
        if (n <= 0) break;
        printed.append(buf, static_cast<size_t>(n));
    }
    readEnd.reset();
    if (printed.find('\n') == std::string::npos) {
        stopDeviceBus(pid);
        fail(error, "dbus-daemon did not start (is the dbus-daemon package installed?)");
        return std::nullopt;
    }
    ::chmod(socket.c_str(), 0600);
    return DeviceBus{pid, "unix:path=" + socket};
}

void stopDeviceBus(pid_t pid, double timeoutSeconds) {
    if (pid <= 0) return;
    if (::kill(pid, SIGTERM) < 0) return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        pid_t r = ::waitpid(pid, nullptr, WNOHANG);
        if (r == pid) return;
        if (r < 0) {
            // Not our child: wait for it to be gone.
            if (::kill(pid, 0) < 0) return;
        }
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace platform
