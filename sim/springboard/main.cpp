// vantrel-springboard: the simulated SpringBoard of a device folder. It joins the device bus,
// registers SpringBoard's classes, injects the libraries whose filter names SpringBoard,
// finishes launching and runs its run loop: headless for scripts (launchd's child), or drawing
// the status bar in a terminal and taking keys. The control tool reaches it through a method on
// a connection of its own, served ahead of the notifications queued on the other, so a flood
// never keeps a tap waiting; every command runs on the main thread like any other event. A
// host that loses either connection exits non-zero, so launchd starts it again.
#include <dlfcn.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include "platform/activator/activator.h"
#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sdevent_runloop.h"
#include "platform/device/device_state.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "platform/uikit/application.h"
#include "sim/device/device.h"
#include "sim/device/safety.h"
#include "sim/springboard/status.h"

using namespace vantrel::sim;

namespace {

constexpr char kStatusBarTapEvent[] = "libactivator.statusbar.tap.single";

struct BusCloser {
    void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};

struct PendingReply;

struct Host {
    DeviceFolder device;
    bool interactive = false;
    platform::SdEventRunLoop loop;
    std::unique_ptr<platform::DBusNotificationCenter> center;
    std::unique_ptr<sd_bus, BusCloser> control;  // the Control method and the redraw signal
    std::vector<std::shared_ptr<PendingReply>> waiting;  // replies waiting for their round trip
    bool redrawScheduled = false;
    uint64_t redraws = 0;
    std::optional<termios> savedTerminal;
};

Host* host = nullptr;

void restoreTerminal() {
    if (host && host->savedTerminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &*host->savedTerminal);
        std::fputs("\x1b[?25h\n", stdout);
        std::fflush(stdout);
        host->savedTerminal.reset();
    }
}

void redraw() {
    host->redrawScheduled = false;
    ++host->redraws;
    if (host->interactive) {
        std::string screen = statusScreen(host->device.root);
        std::fwrite(screen.data(), 1, screen.size(), stdout);
        std::fflush(stdout);
    }
    if (sd_bus* bus = host->control.get())
        sd_bus_emit_signal(bus, kControlObjectPath, kControlInterface, kRedrawnSignal, "t", host->redraws);
}

// Many changes of one event make one redraw, after the event.
void setNeedsDisplay() {
    if (host->redrawScheduled) return;
    host->redrawScheduled = true;
    host->loop.perform(redraw);
}

// ---- commands of the control tool and the keys

std::pair<bool, std::string> answerAlert(const std::string& idText, const std::string& button) {
    char* end = nullptr;
    unsigned long long id = std::strtoull(idText.c_str(), &end, 10);
    auto alert = (end && *end == '\0' && !idText.empty()) ? platform::visibleAlert(id) : nullptr;
    if (!alert) return {false, "no alert " + idText + " is shown"};
    const auto& titles = alert->buttonTitles();
    long index = -1;
    for (size_t i = 0; i < titles.size(); ++i)
        if (titles[i] == button) index = static_cast<long>(i);
    if (index < 0) {
        long n = std::strtol(button.c_str(), &end, 10);
        if (end && *end == '\0' && !button.empty() && n >= 0 && n < static_cast<long>(titles.size())) index = n;
    }
    if (index < 0) return {false, "alert " + idText + " has no button " + button};
    alert->dismissWithClickedButtonIndex(index);
    return {true, ""};
}

std::pair<bool, std::string> setHardware(const std::vector<std::string>& words) {
    platform::Dictionary changes;
    for (size_t i = 1; i < words.size(); ++i) {
        auto eq = words[i].find('=');
        if (eq == std::string::npos || eq == 0) return {false, "expected KEY=VALUE, got " + words[i]};
        changes[words[i].substr(0, eq)] = parseValue(words[i].substr(eq + 1));
    }
    if (changes.empty()) return {false, "expected KEY=VALUE..."};
    std::vector<std::string> ignored;
    platform::deviceState().apply(changes, &ignored);
    for (const auto& k : ignored) changes.erase(k);
    // The hardware survives a respring: device.plist keeps what was set.
    platform::Dictionary stored = readDeviceState(host->device);
    for (auto& [k, v] : changes)
        if (k != "locked") stored[k] = v;
    writeDeviceState(host->device, stored);
    // The clock may show a fact of the hardware (network name, addresses, memory, track):
    // SpringBoard resets its time formatter, and the tweak re-applies the clock mode.
    msgSend<void>(platform::statusBarAggregator(), sel_registerName("_resetTimeItemFormatter"));
    platform::updateAllItems();
    if (!ignored.empty()) {
        std::string text = "unknown key or wrong type:";
        for (const auto& k : ignored) text += " " + k;
        return {false, text};
    }
    return {true, ""};
}

// Runs a command; status commands are answered later, once the effects have come back.
std::pair<bool, std::string> perform(const std::vector<std::string>& w) {
    if (w.empty()) return {false, "no command"};
    const std::string& c = w[0];
    if (c == "ping") return {true, "pong"};
    if (c == "status" || c == "line") return {true, ""};
    if (c == "tap") {
        if (!platform::LAActivator::sharedInstance().sendEvent(kStatusBarTapEvent))
            return {false, "no listener takes the status bar tap"};
        return {true, ""};
    }
    if (c == "lock") return platform::lockDevice(), std::pair{true, std::string()};
    if (c == "unlock") return platform::unlockDevice(), std::pair{true, std::string()};
    if (c == "nc" && w.size() == 2 && w[1] == "open") return platform::openNotificationCenter(), std::pair{true, std::string()};
    if (c == "nc" && w.size() == 2 && w[1] == "close")
        return platform::closeNotificationCenter(), std::pair{true, std::string()};
    if (c == "alert" && w.size() == 3) return answerAlert(w[1], w[2]);
    if (c == "set") return setHardware(w);
    return {false, "unknown command"};
}

void onKey() {
    char key = 0;
    if (::read(STDIN_FILENO, &key, 1) != 1) {
        host->loop.exit(0);  // the terminal went away
        return;
    }
    switch (key) {
    case 't': perform({"tap"}); break;
    case 'l': perform({platform::deviceState().locked ? "unlock" : "lock"}); break;
    case 'n': {
        auto* nc = platform::notificationCenterViewController();
        perform({"nc", nc && nc->open ? "close" : "open"});
        break;
    }
    case 'q': host->loop.exit(0); return;
    case 0x03:  // Ctrl-C and Ctrl-\: keys in raw mode, a quit as 'q' is (launchd stops the device)
    case 0x1c: host->loop.exit(0); return;
    default:
        if (key >= '0' && key <= '9') {
            auto alerts = platform::visibleAlerts();
            if (!alerts.empty()) answerAlert(std::to_string(alerts.front()->alertId()), std::string(1, key));
        }
    }
    setNeedsDisplay();
}

struct PendingReply {
    sd_bus_message* call;
    std::string command;
    std::pair<bool, std::string> result;
    uint64_t handledAtStart = 0;
    bool answered = false;
};

uint64_t notificationsHandled = 0;
// Notifications handled while a reply waits for its round trip beyond which a backlog is taken
// to be queued ahead of the command's own: the reply then goes out at once and the command's
// notifications follow the queue in order.
constexpr uint64_t kBacklog = 4;

void answer(const std::shared_ptr<PendingReply>& p) {
    if (p->answered) return;
    p->answered = true;
    std::erase(host->waiting, p);
    auto reply = [p] {
        if (p->command == "status") p->result.second = statusJson(::getpid()).dump();
        if (p->command == "line") p->result.second = statusLine();
        sd_bus_reply_method_return(p->call, "bs", p->result.first ? 1 : 0, p->result.second.c_str());
        sd_bus_message_unref(p->call);
        setNeedsDisplay();
    };
    // A status is read after the work already queued on the loop; other answers go out now.
    if (p->command == "status" || p->command == "line")
        host->loop.perform(reply);
    else
        reply();
}

void onNotificationHandled() {
    ++notificationsHandled;
    auto waiting = host->waiting;
    for (auto& p : waiting)
        if (notificationsHandled - p->handledAtStart >= kBacklog) answer(p);
}

// The reply goes out after a round trip to the daemon on the notification connection: by then
// every notification this command posted has come back to us and been handled, so a status
// read next sees its effect (unless a backlog was ahead, see kBacklog).
int onBarrier(sd_bus_message*, void* userdata, sd_bus_error*) {
    std::unique_ptr<std::shared_ptr<PendingReply>> p(static_cast<std::shared_ptr<PendingReply>*>(userdata));
    answer(*p);
    return 0;
}

int onControl(sd_bus_message* m, void*, sd_bus_error* error) {
    std::vector<std::string> words;
    if (sd_bus_message_enter_container(m, 'a', "s") < 0)
        return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "expected a list of words");
    const char* word = nullptr;
    while (sd_bus_message_read(m, "s", &word) > 0) words.emplace_back(word);
    sd_bus_message_exit_container(m);
    std::pair<bool, std::string> result;
    try {
        result = perform(words);
    } catch (...) {
        NSLog("SpringBoard: the command %s failed", words.empty() ? "" : words[0].c_str());
        result = {false, "the command failed"};
    }
    auto p = std::make_shared<PendingReply>(
        PendingReply{sd_bus_message_ref(m), words.empty() ? "" : words[0], result, notificationsHandled, false});
    auto* userdata = new std::shared_ptr<PendingReply>(p);
    int r = sd_bus_call_method_async(host->center->bus(), nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "GetId", onBarrier, userdata, "");
    if (r < 0) {
        sd_bus_message_unref(p->call);
        delete userdata;
        return sd_bus_error_set_errno(error, r);
    }
    host->waiting.push_back(p);
    return 1;
}

const sd_bus_vtable controlVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Control", "as", "bs", onControl, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("StatusBarRedrawn", "t", 0),
    SD_BUS_VTABLE_END,
};

// A lost connection ends the run loop with EXIT_FAILURE: a host cut off the bus that lived on
// would look alive to launchd and answer nobody.
void exitWhenDisconnected(sd_bus* bus, const char* which) {
    sd_bus_set_exit_on_disconnect(bus, 1);
    sd_bus_match_signal(bus, nullptr, "org.freedesktop.DBus.Local", "/org/freedesktop/DBus/Local",
                        "org.freedesktop.DBus.Local", "Disconnected",
                        [](sd_bus_message*, void* which, sd_bus_error*) {
                            NSLog("SpringBoard: the device bus closed the %s connection; exiting for launchd to "
                                  "start SpringBoard again",
                                  static_cast<const char*>(which));
                            return 0;
                        },
                        const_cast<char*>(which));
}

int onNameChange(sd_bus_message* m, void*, sd_bus_error*) {
    const char* name = nullptr;
    if (sd_bus_message_read(m, "s", &name) < 0 || !name || std::strcmp(name, kSpringBoardBusName) != 0) return 0;
    if (std::strcmp(sd_bus_message_get_member(m), "NameLost") == 0)
        NSLog("SpringBoard: another client took %s; queued to have it back when it leaves", name);
    else
        NSLog("SpringBoard: owns %s", name);
    return 0;
}

// The control connection: served at a higher priority than the notification connection, and
// the owner of SpringBoard's name. The name is queued for, never handed over: a client that
// takes it while we are away gives it back by leaving.
std::unique_ptr<sd_bus, BusCloser> openControlConnection(const std::string& address) {
    sd_bus* raw = nullptr;
    int r = sd_bus_new(&raw);
    std::unique_ptr<sd_bus, BusCloser> bus(raw);
    if (r >= 0) r = sd_bus_set_address(raw, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(raw, 1);
    if (r >= 0) r = sd_bus_start(raw);
    if (r >= 0) r = sd_bus_attach_event(raw, host->loop.event(), SD_EVENT_PRIORITY_IMPORTANT);
    if (r >= 0) r = sd_bus_add_object_vtable(raw, nullptr, kControlObjectPath, kControlInterface, controlVtable, nullptr);
    if (r >= 0)
        r = sd_bus_match_signal(raw, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "NameLost", onNameChange, nullptr);
    if (r >= 0)
        r = sd_bus_match_signal(raw, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "NameAcquired", onNameChange, nullptr);
    if (r >= 0)
        r = sd_bus_request_name_async(raw, nullptr, kSpringBoardBusName,
                                      SD_BUS_NAME_REPLACE_EXISTING | SD_BUS_NAME_QUEUE, nullptr, nullptr);
    if (r < 0) {
        NSLog("SpringBoard: the control interface is not available: %s", std::strerror(-r));
        return nullptr;
    }
    exitWhenDisconnected(raw, "control");
    return bus;
}

void injectLibraries() {
    // Only what install put there and recorded, loaded from the very inode that was hashed;
    // global, as the loader does: the tweak's exported symbols are there for others too.
    for (const auto& path : librariesFor(host->device, kSpringBoardBusName)) {
        std::string error;
        if (!loadInstalled(host->device, path.substr(host->device.root.size() + 1), true, &error))
            NSLog("SpringBoard: %s was not injected: %s", printable(path).c_str(), printable(error).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> folder;
    bool interactive = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--device" && i + 1 < argc) folder = argv[++i];
        else if (a == "--interactive") interactive = true;
        else if (a == "--headless") interactive = false;
        else {
            std::cerr << "usage: vantrel-springboard [--device DIR] [--interactive|--headless]\n";
            return 2;
        }
    }
    Host h;
    host = &h;
    h.device = deviceFolder(folder);
    h.interactive = interactive && ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
    if (std::string error; !checkDeviceFolder(h.device, &error)) {
        std::cerr << "vantrel-springboard: " << error << "\n";
        return 1;
    }

    platform::setHomeDirectory(h.device.home());
    platform::setLogFile(h.device.log());
    if (h.interactive) platform::setLogToStderr(false);  // the screen is ours
    platform::RunLoop::setMain(&h.loop);
    h.loop.exitOnTerminationSignals();

    auto address = busAddress(h.device);
    if (!address) {
        NSLog("SpringBoard: the device bus is not running (./vantrel device start)");
        return 1;
    }
    h.center = std::make_unique<platform::DBusNotificationCenter>(*address, h.loop);
    if (!h.center->isConnected()) return 1;
    platform::NotificationCenter::setDistributed(h.center.get());
    writePid(h.device.springBoardPidFile(), ::getpid());

    platform::registerSpringBoardClasses();
    platform::registerActivatorClasses();
    std::vector<std::string> ignored;
    platform::deviceState().apply(readDeviceState(h.device), &ignored);
    for (const auto& k : ignored) NSLog("SpringBoard: device.plist key %s ignored", printable(k).c_str());
    platform::deviceState().locked = false;

    platform::setStatusBarObserver([](int) { setNeedsDisplay(); });
    platform::setAlertObserver([] { setNeedsDisplay(); });
    platform::UIApplication::sharedApplication().setOpenObserver(
        [](const std::string& url) { NSLog("SpringBoard: opened %s", url.c_str()); });

    injectLibraries();
    platform::finishLaunching();

    exitWhenDisconnected(h.center->bus(), "notification");
    h.center->setDeliveredObserver(onNotificationHandled);
    h.control = openControlConnection(*address);
    if (!h.control) {
        std::fflush(nullptr);
        ::_exit(1);
    }

    if (h.interactive) {
        termios raw;
        if (::tcgetattr(STDIN_FILENO, &raw) == 0) {
            h.savedTerminal = raw;
            // No flow control (Ctrl-S would stop our output and the whole device with it) and
            // no signals from keys: Ctrl-C and Ctrl-\ arrive as keys and quit.
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
            raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
            std::fputs("\x1b[?25l", stdout);
        }
        h.loop.watchInput(STDIN_FILENO, onKey);
    }
    setNeedsDisplay();
    int code = h.loop.run();
    restoreTerminal();
    platform::NotificationCenter::setDistributed(nullptr);
    // Exit without running the injected libraries' destructors against a torn-down platform.
    platform::flushLog();
    std::fflush(nullptr);
    h.control.reset();
    h.center.reset();
    ::_exit(code < 0 ? 1 : code);
}
