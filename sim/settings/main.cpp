// vantrel-settings: the simulated Settings application of a device folder. The root page lists
// the PreferenceLoader entries; opening Vantrel loads the bundle, whose pages are opened, read,
// changed, pressed, suspended and left through the Preferences framework as the Settings app
// does. One command per call (`[PAGE] show|get|set|reset|press|keys ...`), a session reading
// commands from standard input (a page stays open between commands on it, as while the user
// looks at it), or a prompt with line editing in a terminal. Every command but `keys` needs the
// device running; only commands that act start it, and only when asked (--start). It joins the
// device bus; its shell's "killall SpringBoard" ends the device's recorded SpringBoard, which
// launchd starts again.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/device/device_state.h"
#include "platform/foundation/log.h"
#include "platform/preferences/settings_app.h"
#include "platform/system/shell.h"
#include "platform/uikit/alert.h"
#include "platform/uikit/application.h"
#include "sim/common/device.h"
#include "sim/common/process.h"
#include "sim/common/safety.h"
#include "sim/common/usage.h"
#include "sim/host/session.h"
#include "sim/settings/command_line.h"
#include "sim/settings/interpreter.h"
#include "sim/settings/prompt.h"

using namespace vantrel::sim;

namespace {

constexpr double kPingTimeout = 1.0;

std::string line(std::string text) {
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text;
}

// `vantrel-device --device DIR start`, the program next to this one; its words go to stderr,
// so standard output stays this command's own.
bool startDevice(const DeviceFolder& device) {
    auto program = companionProgram("vantrel-device");
    if (!program) {
        std::cerr << "vantrel-settings: " << program.error().message << "\n";
        return false;
    }
    pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        ::execl(program->c_str(), program->c_str(), "--device", device.root.c_str(), "start", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One session line through the same parser as the command line; false when it failed.
bool sessionLine(Interpreter& commands, const std::string& text, bool prompt, bool& quit) {
    auto words = splitWords(text);
    if (words.empty()) return true;
    ParsedLine parsed = parseSettingsLine(words, true);
    if (parsed.then == ParsedLine::Then::Exit) {
        std::cout << parsed.out << parsed.err << (prompt ? "" : parsed.code == 0 ? "ok\n" : "error\n");
        return parsed.code == 0;
    }
    if (parsed.quit) {
        quit = true;
        return true;
    }
    if (!parsed.command) return true;
    auto out = commands.command(*parsed.command);
    std::cerr << commands.takeWarnings();
    if (prompt)
        std::cout << (out ? *out : "error: " + line(out.error().message));
    else
        std::cout << (out ? *out : line(out.error().message)) << (out ? "ok" : "error") << "\n";
    std::cout.flush();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 0) noteTypedProgram(argv[0]);
    ParsedLine parsed = parseSettingsLine(std::vector<std::string>(argv + 1, argv + argc), false);
    if (parsed.then == ParsedLine::Then::Exit) {
        std::cout << parsed.out;
        std::cerr << parsed.err;
        return parsed.code;
    }
    if (parsed.command && parsed.command->verb == "keys") {  // the key table: no device at all
        Interpreter schema(DeviceFolder{}, false);
        std::cout << *schema.command(*parsed.command);
        return 0;
    }
    DeviceFolder device = deviceFolder(parsed.device);
    if (auto safe = checkDeviceFolder(device); !safe) {
        std::cerr << "vantrel-settings: " << safe.error().message << "\n";
        return 1;
    }
    // A value no control could produce is refused whether or not the device runs.
    if (parsed.command) {
        if (auto checked = checkChange(*parsed.command); !checked) {
            std::cerr << "vantrel-settings: " << line(checked.error().message);
            return 1;
        }
    }
    if (!springBoardRuns(device, kPingTimeout)) {
        if (!parsed.start || readOnly(parsed.command)) {
            std::cerr << "vantrel-settings: not running: " << device.root
                      << (readOnly(parsed.command) ? "" : " (" + deviceCommand(device, "start") + " starts it)") << "\n";
            return 1;
        }
        if (!startDevice(device)) {
            std::cerr << "vantrel-settings: the device did not start: " << device.root << "\n";
            return 1;
        }
    }
    auto session = std::make_unique<DeviceSession>(device, DeviceSession::Log::FileOnly);
    // The Settings app runs on the same hardware: installed apps, Core Foundation version.
    platform::deviceState().apply(readDeviceState(device));
    if (auto joined = session->joinBus(); !joined) {
        std::cerr << "vantrel-settings: " << joined.error().message << "\n";
        return 1;
    }
    const bool sessionMode = parsed.session || !parsed.command;
    Interpreter commands(device, sessionMode);
    platform::registerPreferencesClasses();
    platform::setSpringBoardRestartHandler([device] {
        if (!restartSpringBoard(device)) NSLog("Settings: no SpringBoard of this device to restart");
    });
    platform::UIApplication::sharedApplication().setOpenObserver(
        [](const std::string& url) { std::cout << "opened " << url << "\n"; });

    int code = 0;
    if (sessionMode) {
        const bool prompt = !parsed.session && ::isatty(STDIN_FILENO);
        bool failed = false;
        auto run = [&](const std::string& text) {
            bool quit = false;
            if (!sessionLine(commands, text, prompt, quit)) failed = true;
            return !quit;
        };
        if (prompt) {
            std::cout << "Settings\n";
            for (const auto& e : commands.entries())
                std::cout << e.label << "  (bundle " << e.bundle << ", page " << e.detail << ")\n";
            std::cout << "help lists the commands; quit or Ctrl-D ends.\n";
            runPrompt(session->loop(), "settings> ", run, sessionCompletions);
        } else {
            runLines(session->loop(), run, [&] { failed = true; });
        }
        code = failed && !prompt ? 1 : 0;
    } else {
        auto out = commands.command(*parsed.command);
        if (auto warning = commands.takeWarnings(); !warning.empty()) std::cerr << "vantrel-settings: " << warning;
        if (out)
            std::cout << *out;
        else
            std::cerr << "vantrel-settings: " << line(out.error().message);
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
    exitNow(code);
}
