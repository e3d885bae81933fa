// vantrel-springboard: the simulated SpringBoard of a device folder. It joins the device bus,
// registers SpringBoard's classes, injects the libraries whose filter names SpringBoard,
// finishes launching and runs its run loop: headless for scripts (launchd's child), or drawing
// the status bar in a terminal and taking keys. Its typed bus interface lives in service.cpp;
// every command runs on the main thread like any other event. A host that loses either
// connection exits non-zero, so launchd starts it again. In safe mode (launchd's answer to a
// crash loop) nothing is injected and an alert offers a respring with extensions back.
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/activator/activator.h"
#include "platform/device/device_state.h"
#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sdevent_runloop.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "platform/uikit/application.h"
#include "sim/common/device.h"
#include "sim/common/process.h"
#include "sim/common/safety.h"
#include "sim/host/session.h"
#include "sim/host/terminal_writer.h"
#include "sim/springboard/service.h"
#include "sim/springboard/status.h"

using namespace vantrel::sim;

namespace {

struct Host {
    DeviceFolder device;
    bool interactive = false;
    bool safeMode = false;
    std::unique_ptr<DeviceSession> session;  // the loop and the bus centre
    std::unique_ptr<DeviceService> service;  // the typed interface and the redraw signal
    std::shared_ptr<platform::UIAlertView> safeModeAlert;
    bool redrawScheduled = false;
    std::string note;  // said above the keys until the next key
    uint64_t redraws = 0;
    std::optional<termios> savedTerminal;
    std::unique_ptr<TerminalWriter> screen;       // the terminal, written without blocking
    std::shared_ptr<platform::Timer> drainTimer;  // while a frame waits for the terminal
};

Host* host = nullptr;

// Writes the frame when the terminal takes it; otherwise tries again shortly, keeping only the
// latest frame, while the device goes on.
void show(std::string frame) {
    if (host->screen->draw(std::move(frame)) || (host->drainTimer && host->drainTimer->isValid())) return;
    host->drainTimer =
        platform::Timer::scheduled(host->session->loop(), 0.05, platform::Timer::Repeats::Yes, [](platform::Timer& t) {
            if (host->screen->flush()) t.invalidate();
        });
}

void restoreTerminal() {
    if (host && host->savedTerminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &*host->savedTerminal);
        host->savedTerminal.reset();
        if (host->screen) host->screen->draw("\x1b[?25h\n");  // a terminal that reads no more is left as it is
    }
}

void redraw() {
    host->redrawScheduled = false;
    ++host->redraws;
    if (host->interactive && host->screen) {
        winsize size{};
        size_t columns = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        show(statusScreen(host->device.root, host->safeMode, columns, host->note));
    }
    if (host->service) host->service->redrawn(host->redraws);
}

// Many changes of one event make one redraw, after the event.
void setNeedsDisplay() {
    if (host->redrawScheduled) return;
    host->redrawScheduled = true;
    host->session->loop().perform(redraw);
}

void onKey() {
    char key = 0;
    if (::read(STDIN_FILENO, &key, 1) != 1) {
        host->session->loop().exit(0);  // the terminal went away
        return;
    }
    host->note.clear();
    switch (key) {
    // A key the device refuses just does nothing on the screen.
    case 't': (void)tapStatusBar(); break;
    case 'l': platform::deviceState().locked ? platform::unlockDevice() : platform::lockDevice(); break;
    case 'n': {
        auto* nc = platform::notificationCenterViewController();
        nc && nc->open ? platform::closeNotificationCenter() : platform::openNotificationCenter();
        break;
    }
    case 'q':
    case 0x03:  // Ctrl-C and Ctrl-\: keys in raw mode, a quit as 'q' is (launchd stops the device)
    case 0x1c: host->session->loop().exit(0); return;
    default:
        if (key >= '0' && key <= '9') {
            auto alerts = platform::visibleAlerts();
            if (!alerts.empty())
                (void)answerAlert(alerts.front()->alertId(), std::string(1, key));
            else
                host->note = "  no alert to answer";
        } else {
            host->note = "  " + displayable(std::string(1, key)) + " is no key here; these are:";
        }
    }
    setNeedsDisplay();
}

// The safe-mode alert's buttons: OK stays, Restart hands SpringBoard back to launchd, which
// starts it with its extensions.
class SafeModeAlert final : public platform::UIAlertViewDelegate {
public:
    void alertView_clickedButtonAtIndex(platform::UIAlertView&, long index) override {
        if (index != 1) return;
        NSLog("SpringBoard: restarting from safe mode");
        auto respring = [] { host->session->loop().exit(kRespringExitStatus); };
        host->service ? host->service->afterReplies(respring) : respring();
    }
};

void showSafeModeAlert(SafeModeAlert& delegate) {
    host->safeModeAlert = platform::UIAlertView::create(
        "Safe Mode", "SpringBoard crashed repeatedly, so extensions were disabled. Restart to load them again.", &delegate, "OK",
        {"Restart"});
    host->safeModeAlert->show();
}

void injectLibraries() {
    // Only what install put there and recorded, loaded from the very inode that was hashed;
    // global, as the loader does: the tweak's exported symbols are there for others too.
    for (const auto& path : librariesFor(host->device, kSpringBoardBusName)) {
        if (auto loaded = loadInstalled(host->device, path.substr(host->device.root.size() + 1), true); !loaded)
            NSLog("SpringBoard: %s was not injected: %s", printable(path).c_str(), printable(loaded.error().message).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> folder;
    bool interactive = false;
    bool safeMode = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--device" && i + 1 < argc)
            folder = argv[++i];
        else if (a == "--interactive")
            interactive = true;
        else if (a == "--headless")
            interactive = false;
        else if (a == kSafeModeArgument)
            safeMode = true;
        else {
            std::cerr << "usage: vantrel-springboard [--device DIR] [--interactive|--headless] [--safe-mode]\n";
            return 2;
        }
    }
    Host h;
    host = &h;
    h.device = deviceFolder(folder);
    h.safeMode = safeMode;
    h.interactive = interactive && ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
    if (auto safe = checkDeviceFolder(h.device); !safe) {
        std::cerr << "vantrel-springboard: " << safe.error().message << "\n";
        return 1;
    }

    // On a terminal the screen is ours.
    h.session =
        std::make_unique<DeviceSession>(h.device, h.interactive ? DeviceSession::Log::FileOnly : DeviceSession::Log::ToStderrToo);
    if (auto joined = h.session->joinBus(); !joined) {
        if (joined.error().name == kDeviceNotRunning)
            NSLog("SpringBoard: the device bus is not running (%s)", deviceCommand(h.device, "start").c_str());
        return 1;
    }
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

    SafeModeAlert safeModeDelegate;
    if (h.safeMode)
        NSLog("SpringBoard: safe mode, no extensions loaded");
    else
        injectLibraries();
    platform::finishLaunching();
    if (h.safeMode) showSafeModeAlert(safeModeDelegate);

    auto* center = h.session->center();
    exitWhenDisconnected(center->bus(), "notification");
    h.service = std::make_unique<DeviceService>(ServiceHost{h.device, &h.session->loop(), center, h.safeMode, setNeedsDisplay});
    center->setDeliveredObserver([] { host->service->notificationHandled(); });
    if (!h.service->open(h.session->busAddress())) exitNow(1);

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
        }
        (void)std::fflush(stdout);
        h.screen = std::make_unique<TerminalWriter>(STDOUT_FILENO);
        if (h.savedTerminal) show("\x1b[?25l");
        h.session->loop().watchInput(STDIN_FILENO, onKey);
        // A resized terminal gets the screen drawn again to its new width.
        h.session->loop().watchSignal(SIGWINCH, setNeedsDisplay);
    }
    setNeedsDisplay();
    int code = h.session->loop().run();
    restoreTerminal();
    if (h.drainTimer) h.drainTimer->invalidate();
    platform::forgetDelegate(&safeModeDelegate);
    h.service.reset();
    h.session.reset();
    exitNow(code < 0 ? 1 : code);
}
