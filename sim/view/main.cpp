// vantrel-view: the device in a browser. A process of its own beside SpringBoard and the
// Settings app: it follows SpringBoard through its typed D-Bus interface and signals, drives the
// Settings app through a session child, and serves one page on 127.0.0.1 with a token. Ending
// the view leaves the device as it was. `vantrel-view screenshot` draws the same phone to a file.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>

#include "sim/common/device.h"
#include "sim/common/safety.h"
#include "sim/common/usage.h"
#include "sim/view/api.h"
#include "sim/view/device_link.h"
#include "sim/view/screenshot.h"
#include "sim/view/server.h"
#include "sim/view/settings_session.h"
#include "vantrel/version.h"

extern char** environ;

using namespace vantrel::sim;
using namespace vantrel::sim::view;

namespace {

// Time for the connections, the device link and the Settings app to end after a signal.
constexpr std::chrono::seconds kStopTime{5};

// A browser for the address, when the desktop has its opener; the view serves either way.
void openInBrowser(const std::string& url) {
    auto opener = trustedProgram("xdg-open");
    if (!opener) {
        std::cerr << "vantrel-view: xdg-open is not installed; open the address above by hand\n";
        return;
    }
    std::string program = *opener, address = url;
    char* argv[] = {program.data(), address.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    int r = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
        std::cerr << "vantrel-view: cannot run " << program << "; open the address above by hand\n";
        return;
    }
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
}

int serve(const DeviceFolder& device, int port, bool open) {
    // Termination signals are taken by sigwait below, never by a thread of the server.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto token = newToken();
    if (!token) {
        std::cerr << "vantrel-view: " << token.error().message << "\n";
        return 1;
    }
    DeviceLink link(device);
    auto settingsProgram = companionProgram("vantrel-settings");
    if (!settingsProgram) {
        std::cerr << "vantrel-view: " << settingsProgram.error().message << "\n";
        return 1;
    }
    SettingsSession session(device, *settingsProgram);
    SettingsApp settings(session);
    ViewServer server(link, settings, *token);
    auto bound = server.bind(port);
    if (!bound) {
        std::cerr << "vantrel-view: " << bound.error().message << "\n";
        return 1;
    }
    link.start();
    std::thread http([&server] { server.run(); });
    std::string url = "http://127.0.0.1:" + std::to_string(*bound) + "/?token=" + *token;
    std::cerr << "vantrel-view: serving the device at " << device.root << "; open this address (Ctrl-C ends the view):\n";
    std::cout << url << std::endl;
    if (open) openInBrowser(url);

    int received = 0;
    sigwait(&signals, &received);
    std::cerr << "vantrel-view: stopping; the device keeps running\n";
    // Whatever a thread is busy with, the view ends soon after the signal.
    std::thread([] {
        std::this_thread::sleep_for(kStopTime);
        std::cerr << "vantrel-view: still busy " << kStopTime.count() << " s after the signal; ending anyway\n";
        std::_Exit(1);
    }).detach();
    link.halt();  // wakes the event streams, which then end
    server.stop();
    http.join();
    link.stop();
    session.close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) try {
    CLI::App app{"vantrel-view: the simulated device in a browser, and pictures of its status bar", "vantrel-view"};
    app.set_version_flag("--version", VANTREL_VERSION);
    std::optional<std::string> folder;
    int port = 0;
    bool open = false;
    app.add_option("--device", folder, kDeviceOptionHelp);
    app.add_option("--port", port, "The port on 127.0.0.1, 1-65535 (default 0: any free port)")
        ->type_name("PORT")
        ->check(CLI::Validator(
            [](std::string& text) {
                bool digits = !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
                return digits && std::stoi(text) <= 65535 ? std::string()
                                                          : "the port must be 1-65535 (or 0: any free port), not " + text;
            },
            "PORT"));
    app.add_flag("--open", open, "Open the address with xdg-open when it is installed");

    auto* shot = app.add_subcommand("screenshot",
                                    "Write a picture of the phone as SVG or PNG: the status bar (the default), the lock "
                                    "screen, Notification Centre or the whole phone");
    std::string file;
    ShotOptions shotOptions;
    shot->add_option("FILE", file, "FILE.svg or FILE.png")->required()->check([](const std::string& name) {
        auto ends = [&](const char* tail) { return name.size() > 4 && name.ends_with(tail); };
        return ends(".svg") || ends(".png") ? std::string() : "the picture's name must end in .svg or .png: " + name;
    });
    bool lock = false, nc = false, phone = false;
    shot->add_flag("--lock", lock, "The lock screen (the device must be locked)");
    shot->add_flag("--nc", nc, "Notification Centre (it must be open)");
    shot->add_flag("--phone", phone, "The whole phone");
    auto* scale =
        shot->add_option("--scale", shotOptions.scale, "Pixels per point: 1, 2 or 3 (default 2)")
            ->type_name("1|2|3")
            ->check(CLI::Validator(
                [](std::string& text) {
                    return text == "1" || text == "2" || text == "3" ? std::string() : "the scale must be 1, 2 or 3, not " + text;
                },
                ""));
    shot->add_option("--width", shotOptions.width, "Width in pixels instead of a scale (16-8192)")
        ->check(CLI::Range(16, 8192))
        ->excludes(scale);
    shot->add_option("--device", folder, kDeviceOptionHelp);
    // One picture, one framing.
    shot->parse_complete_callback([&] {
        if (int(lock) + int(nc) + int(phone) > 1)
            throw CLI::ValidationError("screenshot", "one framing at most: --lock, --nc or --phone (none: the status bar)");
        shotOptions.shot = lock ? Shot::LockScreen : nc ? Shot::NotificationCentre : phone ? Shot::Phone : Shot::StatusBar;
    });

    auto values = [](const std::vector<std::string>& commands, const std::vector<std::string>& given) {
        return commands.size() == 1 && given.empty() ? std::vector<std::string>{"@file"} : std::vector<std::string>{};
    };
    if (auto done = parseCommandLine(app, argc, argv, values)) return *done;

    // A peer that goes away (a browser, the Settings app, rsvg-convert) is an error to handle,
    // not a reason to die.
    (void)std::signal(SIGPIPE, SIG_IGN);
    DeviceFolder device = deviceFolder(folder);
    if (auto safe = checkDeviceFolder(device); !safe) {
        std::cerr << "vantrel-view: " << safe.error().message << "\n";
        return 1;
    }
    if (shot->parsed()) {
        if (auto done = screenshot(device, file, shotOptions); !done) {
            std::cerr << "vantrel-view: " << done.error().message << "\n";
            return 1;
        }
        std::cout << "wrote " << file << "\n";
        return 0;
    }
    return serve(device, port, open);
} catch (const std::exception& e) {
    // Nothing the view does should throw; if it does, say so rather than abort.
    std::cerr << "vantrel-view: " << e.what() << "\n";
    return 1;
}
