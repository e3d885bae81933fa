// The commands that go on until interrupted: `log -f` (new lines of the device log as they are
// appended, the file reopened when it is replaced) and `watch` (the status at start and after
// every StatusBarRedrawn of SpringBoard). SIGINT and SIGTERM are taken through a signalfd and
// end them with 0; nothing is polled on a timer but the log, and that is woken by inotify.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "platform/foundation/sd_ptr.h"
#include "platform/foundation/error_text.h"
#include "sim/device/cli.h"
#include "sim/common/safety.h"

namespace vantrel::sim::cli {
namespace {

// SIGINT and SIGTERM, blocked for the process, readable from a descriptor.
platform::Fd terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    return platform::Fd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

platform::Fd openLog(const std::string& path) {
    return platform::Fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
}

// Whatever fd has from its position to its end.
std::string readToEnd(int fd) {
    std::string text;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    return text;
}

void emit(const std::string& text) { std::cout << text << std::flush; }

// True when path no longer names the file fd has open (replaced, or removed).
bool replaced(int fd, const std::string& path) {
    struct stat opened {
    }, named{};
    if (::fstat(fd, &opened) != 0 || ::lstat(path.c_str(), &named) != 0) return true;
    return opened.st_ino != named.st_ino || opened.st_dev != named.st_dev;
}

int follow(const DeviceFolder& device, platform::Fd file) {
    platform::Fd signals = terminationSignals();
    platform::Fd changes(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    std::string folder = device.log().substr(0, device.log().rfind('/'));
    if (changes) ::inotify_add_watch(changes.get(), folder.c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_DELETE);
    for (;;) {
        pollfd p[2] = {{signals.get(), POLLIN, 0}, {changes.get(), POLLIN, 0}};
        // inotify wakes us; the timeout covers a folder it could not watch.
        int n = ::poll(p, changes ? 2 : 1, changes ? 2000 : 250);
        if (n < 0 && errno != EINTR) return 1;
        if (p[0].revents & POLLIN) return 0;
        if (p[1].revents & POLLIN) (void)readToEnd(changes.get());
        if (file) {
            struct stat st {};
            // Truncated in place: on from its new start.
            if (::fstat(file.get(), &st) == 0 && st.st_size < ::lseek(file.get(), 0, SEEK_CUR)) ::lseek(file.get(), 0, SEEK_SET);
            emit(readToEnd(file.get()));
            if (!replaced(file.get(), device.log())) continue;
            emit(readToEnd(file.get()));  // what the old file got last
        }
        file = openLog(device.log());
        if (file) emit(readToEnd(file.get()));
    }
}

// The reply string of one call of SpringBoard's interface on bus, or nullopt with the reason.
std::optional<std::string> callString(sd_bus* bus, const char* method, std::string& why) {
    sd_bus_error err = SD_BUS_ERROR_NULL;
    std::unique_ptr<sd_bus_error, decltype(&sd_bus_error_free)> owned(&err, sd_bus_error_free);
    platform::MessagePtr reply;
    int r = sd_bus_call_method(bus, kSpringBoardBusName, kControlObjectPath, kControlInterface, method, &err,
                               platform::out(reply), "");
    const char* text = nullptr;
    if (r >= 0) r = sd_bus_message_read(reply.get(), "s", &text);
    if (r < 0 || !text) {
        why = err.message ? err.message : platform::errorText(-r);
        return std::nullopt;
    }
    return std::string(text);
}

}  // namespace

int log(const DeviceFolder& device, size_t lines, bool followOn) {
    platform::Fd file = openLog(device.log());
    if (!file) {
        if (!running(device)) return 1;
        if (!followOn) {
            std::cerr << "vantrel-device: no log yet at " << device.log() << "\n";
            return 1;
        }
    }
    if (file) {
        std::string text = readToEnd(file.get());
        // Back over `lines` line ends; the last line's own end is as if one past the text.
        size_t end = !text.empty() && text.back() == '\n' ? text.size() - 1 : text.size();
        size_t start = end + 1;
        for (size_t taken = 0; taken < lines && start > 0; ++taken) {
            size_t nl = start >= 2 ? text.rfind('\n', start - 2) : std::string::npos;
            start = nl == std::string::npos ? 0 : nl + 1;
        }
        start = std::min(start, text.size());
        emit(text.substr(start));
    }
    return followOn ? follow(device, std::move(file)) : 0;
}

int watch(const DeviceFolder& device, bool json) {
    if (!running(device)) return 1;
    auto address = busAddress(device);
    auto opened = address ? openDeviceBus(*address, kControlTimeout) : Result<platform::BusPtr>(failure("no bus address"));
    int r = opened ? 0 : -ENOENT;
    platform::BusPtr bus = opened ? std::move(*opened) : platform::BusPtr();
    uint64_t redraws = 0;
    auto onRedrawn = [](sd_bus_message*, void* userdata, sd_bus_error*) {
        ++*static_cast<uint64_t*>(userdata);
        return 0;
    };
    // In place before the first status, so no redraw falls between the two.
    if (r >= 0)
        r = sd_bus_match_signal(bus.get(), nullptr, nullptr, kControlObjectPath, kControlInterface, kRedrawnSignal, onRedrawn,
                                &redraws);
    if (r < 0) {
        std::cerr << "vantrel-device: the device bus cannot be joined: " << platform::errorText(-r) << "\n";
        return 1;
    }
    platform::Fd signals = terminationSignals();
    const char* method = json ? "Status" : "StatusLine";
    auto show = [&] {
        std::string why;
        if (auto text = callString(bus.get(), method, why)) std::cout << displayable(*text) << "\n" << std::flush;
        // No answer while SpringBoard is respringing: the new one's first redraw is shown.
    };
    show();
    for (;;) {
        r = sd_bus_process(bus.get(), nullptr);
        if (r < 0) break;  // the bus went away with the device
        if (redraws > 0) {
            --redraws;
            show();
            continue;
        }
        if (r > 0) continue;
        pollfd p[2] = {{signals.get(), POLLIN, 0},
                       {sd_bus_get_fd(bus.get()), static_cast<short>(sd_bus_get_events(bus.get())), 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
        if (p[0].revents & POLLIN) return 0;
    }
    std::cerr << "vantrel-device: not running: " << device.root << "\n";
    return 1;
}

}  // namespace vantrel::sim::cli
