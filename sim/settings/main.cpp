// vantrel-settings: the simulated Settings application of a device folder. The root page lists
// the PreferenceLoader entries; opening Vantrel loads the bundle, whose pages are opened, read,
// changed, pressed, suspended and left through the Preferences framework as the Settings app
// does. One command per call (`[PAGE] show|set|press ...`), a session reading commands from
// standard input (a page stays open between commands on it, as while the user looks at it),
// or a prompt in a terminal. It joins the device bus; its shell's "killall SpringBoard" ends
// the device's recorded SpringBoard, which launchd starts again.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sdevent_runloop.h"
#include "platform/preferences/settings_app.h"
#include "platform/device/device_state.h"
#include "platform/system/shell.h"
#include "platform/uikit/alert.h"
#include "platform/uikit/application.h"
#include "sim/device/device.h"
#include "sim/device/safety.h"
#include "sim/settings/interpreter.h"

using namespace vantrel::sim;

namespace {

struct App {
    DeviceFolder device;
    platform::SdEventRunLoop loop;
    std::unique_ptr<platform::DBusNotificationCenter> center;
    std::optional<Interpreter> commands;
};

App* app = nullptr;

// A session: one command per line; each answer ends with a line holding "ok" or "error".
void runSession(bool prompt) {
    // A line longer than this is read on in chunks and thrown away up to its newline; the
    // session answers "error" for it, so a peer without newlines cannot grow the host.
    constexpr size_t kMaxLine = 64 * 1024;
    auto buffer = std::make_shared<std::string>();
    auto discarding = std::make_shared<bool>(false);
    auto promptNow = [prompt] {
        if (!prompt) return;
        std::fputs("settings> ", stdout);
        std::fflush(stdout);
    };
    if (prompt) {
        std::cout << "Settings\n" << app->commands->command({"list"}).valueOr({})
                  << "commands: [main|icontester|datafaker] show | set KEY VALUE | press ACTION [--text T] "
                     "[--button TITLE]; answer --button TITLE; suspend; leave; quit\n";
    }
    promptNow();
    app->loop.watchInput(STDIN_FILENO, [buffer, discarding, prompt, promptNow] {
        char chunk[4096];
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            app->loop.exit(0);
            return;
        }
        buffer->append(chunk, static_cast<size_t>(n));
        size_t nl;
        while ((nl = buffer->find('\n')) != std::string::npos) {
            std::string line = buffer->substr(0, nl);
            buffer->erase(0, nl + 1);
            if (*discarding || line.size() > kMaxLine) {
                *discarding = false;
                std::cout << "the line is longer than " << kMaxLine << " bytes\nerror\n";
                std::cout.flush();
                continue;
            }
            auto words = splitWords(line);
            if (words.empty()) continue;
            if (words[0] == "quit" || words[0] == "exit") {
                app->loop.exit(0);
                return;
            }
            auto out = app->commands->command(words);
            std::cout << (out ? *out : out.error().message) << (out ? "ok" : "error") << "\n";
            std::cout.flush();
        }
        if (buffer->size() > kMaxLine) {
            buffer->clear();
            *discarding = true;
        }
        promptNow();
    });
    app->loop.run();
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> folder;
    std::vector<std::string> words;
    bool session = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--device" && i + 1 < argc) folder = argv[++i];
        else if (a == "--session") session = true;
        else words.push_back(a);
    }
    App a;
    app = &a;
    a.device = deviceFolder(folder);
    a.commands.emplace(a.device);
    if (auto safe = checkDeviceFolder(a.device); !safe) {
        std::cerr << "vantrel-settings: " << safe.error().message << "\n";
        return 1;
    }
    platform::setHomeDirectory(a.device.home());
    platform::setLogFile(a.device.log());
    // The Settings app runs on the same hardware: installed apps, Core Foundation version.
    platform::deviceState().apply(readDeviceState(a.device));
    platform::setLogToStderr(false);
    platform::RunLoop::setMain(&a.loop);
    a.loop.exitOnTerminationSignals();
    auto address = busAddress(a.device);
    if (!address) {
        std::cerr << "vantrel-settings: the device at " << a.device.root << " is not running (./vantrel device start)\n";
        return 1;
    }
    a.center = std::make_unique<platform::DBusNotificationCenter>(*address, a.loop);
    if (!a.center->isConnected()) {
        std::cerr << "vantrel-settings: the device bus cannot be joined\n";
        return 1;
    }
    platform::NotificationCenter::setDistributed(a.center.get());
    platform::registerPreferencesClasses();
    platform::setSpringBoardRestartHandler([] {
        if (!restartSpringBoard(app->device)) NSLog("Settings: no SpringBoard of this device to restart");
    });
    platform::UIApplication::sharedApplication().setOpenObserver(
        [](const std::string& url) { std::cout << "opened " << url << "\n"; });

    int code = 0;
    if (session || words.empty()) {
        runSession(words.empty() && !session && ::isatty(STDIN_FILENO));
    } else {
        auto out = app->commands->command(words);
        if (out) std::cout << *out;
        else std::cerr << out.error().message;
        code = out ? 0 : 1;
        // Leaving the page may raise an alert of its own (the icon tester's warning); a dialog
        // still open when the command ends is said, as nobody is left to answer it.
        app->commands->leavePage();
        for (const auto& alert : platform::visibleAlerts()) {
            std::cout << "alert (not answered): " << alert->title();
            if (!alert->message().empty()) std::cout << " — " << alert->message();
            std::cout << "\n";
        }
        // Notifications posted by the page leave before we do.
        a.loop.runUntil([] { return false; }, 0.0);
    }
    app->commands->leavePage();
    platform::NotificationCenter::setDistributed(nullptr);
    std::cout.flush();
    a.center.reset();
    std::fflush(nullptr);
    ::_exit(code);
}
