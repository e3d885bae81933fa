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
#include "sim/host/session.h"
#include "sim/settings/interpreter.h"

using namespace vantrel::sim;

namespace {

// A session: one command per line; each answer ends with a line holding "ok" or "error".
void runSession(DeviceSession& session, Interpreter& commands, bool prompt) {
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
        std::cout << "Settings\n" << commands.command({"list"}).valueOr({})
                  << "commands: [main|icontester|datafaker] show | set KEY VALUE | press ACTION [--text T] "
                     "[--button TITLE]; answer --button TITLE; suspend; leave; quit\n";
    }
    promptNow();
    session.loop().watchInput(STDIN_FILENO, [&session, &commands, buffer, discarding, prompt, promptNow] {
        char chunk[4096];
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            session.loop().exit(0);
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
                session.loop().exit(0);
                return;
            }
            auto out = commands.command(words);
            std::cout << (out ? *out : out.error().message) << (out ? "ok" : "error") << "\n";
            std::cout.flush();
        }
        if (buffer->size() > kMaxLine) {
            buffer->clear();
            *discarding = true;
        }
        promptNow();
    });
    session.loop().run();
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> folder;
    std::vector<std::string> words;
    bool sessionMode = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--device" && i + 1 < argc) folder = argv[++i];
        else if (a == "--session") sessionMode = true;
        else words.push_back(a);
    }
    DeviceFolder device = deviceFolder(folder);
    if (auto safe = checkDeviceFolder(device); !safe) {
        std::cerr << "vantrel-settings: " << safe.error().message << "\n";
        return 1;
    }
    auto session = std::make_unique<DeviceSession>(device, DeviceSession::Log::FileOnly);
    // The Settings app runs on the same hardware: installed apps, Core Foundation version.
    platform::deviceState().apply(readDeviceState(device));
    if (auto joined = session->joinBus(); !joined) {
        std::cerr << "vantrel-settings: " << joined.error().message << "\n";
        return 1;
    }
    Interpreter commands(device);
    platform::registerPreferencesClasses();
    platform::setSpringBoardRestartHandler([device] {
        if (!restartSpringBoard(device)) NSLog("Settings: no SpringBoard of this device to restart");
    });
    platform::UIApplication::sharedApplication().setOpenObserver(
        [](const std::string& url) { std::cout << "opened " << url << "\n"; });

    int code = 0;
    if (sessionMode || words.empty()) {
        runSession(*session, commands, words.empty() && !sessionMode && ::isatty(STDIN_FILENO));
    } else {
        auto out = commands.command(words);
        if (out) std::cout << *out;
        else std::cerr << out.error().message;
        code = out ? 0 : 1;
        // Leaving the page may raise an alert of its own (the icon tester's warning); a dialog
        // still open when the command ends is said, as nobody is left to answer it.
        commands.leavePage();
        for (const auto& alert : platform::visibleAlerts()) {
            std::cout << "alert (not answered): " << alert->title();
            if (!alert->message().empty()) std::cout << " — " << alert->message();
            std::cout << "\n";
        }
        // Notifications posted by the page leave before we do.
        session->loop().runUntil([] { return false; }, 0.0);
    }
    commands.leavePage();
    std::cout.flush();
    session.reset();
    std::fflush(nullptr);
    ::_exit(code);
}
