// vantrel-device's command line on CLI11: one subcommand per command, each with its own -h,
// --device DIR before or after the command, and nothing acted on until the whole line parsed.
// A line that does not parse exits 2 with the reason, a "did you mean" for a near miss of a
// command or an option, and where the usage is.
#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "sim/device/cli.h"
#include "sim/device/launchd.h"
#include "sim/device/packages.h"
#include "sim/device/safety.h"
#include "sim/device/usage.h"
#include "vantrel/version.h"

namespace vantrel::sim::cli {
namespace {

struct Words {
    std::optional<std::string> folder;
    bool fresh = false, interactive = false, json = false, follow = false;
    size_t lines = 50;
    std::string action, alertId, button, package;
    std::vector<std::string> changes;
};

void addDevice(CLI::App& app, Words& w) {
    app.add_option("--device", w.folder, "The device folder (default: build/device); before or after the command")
        ->type_name("DIR");
}

}  // namespace

int run(int argc, char** argv) {
    Words w;
    CLI::App app("Drives a simulated device: launchd, its D-Bus daemon and SpringBoard, in a folder laid out like "
                 "a phone.\nExit codes: 0 done, 1 failed (the reason on stderr), 2 usage error.",
                 "vantrel-device");
    app.set_version_flag("--version", "vantrel-device " VANTREL_VERSION, "Print the version and exit");
    app.require_subcommand(1, 1);
    app.fallthrough();
    addDevice(app, w);
    app.footer("vantrel-device COMMAND --help shows the usage of one command.");

    auto* install = app.add_subcommand("install", "Install the build's package and the device's files, or a package file");
    install->add_flag("--fresh", w.fresh, "Start from an empty folder (a running device is stopped first)");
    install->add_option("PACKAGE.deb", w.package, "A Debian package to install into the device (its postinst runs in the device's shell)")
        ->excludes("--fresh");
    auto* remove = app.add_subcommand("remove", "Remove an installed package's files and respring");
    remove->add_option("PACKAGE", w.package, "The package's name (packages lists them)")->required();
    auto* packages = app.add_subcommand("packages", "List the installed packages");
    packages->add_flag("--json", w.json, "One JSON object instead (docs/cli.md)");
    auto* start = app.add_subcommand("start", "Start launchd, the device's D-Bus daemon and SpringBoard (installing first if needed)");
    start->add_flag("--fresh", w.fresh, "Install from an empty folder first");
    start->add_flag("--interactive", w.interactive, "Run SpringBoard in this terminal, as the springboard command does");
    auto* springboard = app.add_subcommand("springboard", "Run the device with SpringBoard's status bar drawn in this terminal (q quits)");
    springboard->add_flag("--fresh", w.fresh, "Install from an empty folder first");
    auto* stop = app.add_subcommand("stop", "Stop launchd and its children");
    auto* restart = app.add_subcommand("restart", "stop, then start: a respring");
    restart->add_flag("--fresh", w.fresh, "Install from an empty folder in between");
    auto* log = app.add_subcommand("log", "Print the last lines of the device log");
    const CLI::Validator positive(
        [](std::string& text) {
            bool digits = !text.empty() && text.size() < 19 && text.find_first_not_of("0123456789") == std::string::npos;
            return digits && std::stoll(text) > 0 ? std::string() : "LINES is a positive whole number, not " + text;
        },
        "LINES > 0");
    log->add_option("-n", w.lines, "How many lines (default 50)")->type_name("LINES")->check(positive);
    log->add_flag("-f,--follow", w.follow, "Go on printing lines as they are appended, until interrupted");
    auto* status = app.add_subcommand("status", "Print the status bar as one line");
    status->add_flag("--json", w.json, "One JSON object instead (docs/cli.md)");
    auto* watch = app.add_subcommand("watch", "Print the status line now and after every redraw, until interrupted");
    watch->add_flag("--json", w.json, "One status JSON object per line instead");
    auto* keys = app.add_subcommand("keys", "List the hardware keys set takes: type, values, meaning");
    keys->add_flag("--json", w.json, "As a JSON array");
    auto* set = app.add_subcommand("set", "Change the simulated hardware, all or nothing (keys lists the keys)");
    set->add_option("KEY=VALUE", w.changes, "A key and its value, such as batteryLevel=20 or clock=09:41")->required();
    auto* ping = app.add_subcommand("ping", "Print pong when SpringBoard answers on the device bus");
    auto* tap = app.add_subcommand("tap", "Tap the status bar");
    auto* lock = app.add_subcommand("lock", "Show the lock screen");
    auto* unlock = app.add_subcommand("unlock", "Unlock");
    auto* nc = app.add_subcommand("nc", "Open or close Notification Centre");
    nc->add_option("ACTION", w.action, "open or close")->required()->check(CLI::IsMember({"open", "close"}));
    auto* alert = app.add_subcommand("alert", "Answer an alert with one of its buttons");
    alert->add_option("ID", w.alertId, "The alert's id (alerts[].id of status --json)")->required();
    alert->add_option("BUTTON", w.button, "The button's title, or its index")->required();
    auto* launchdCommand = app.add_subcommand("launchd", "The device's launchd (what start runs)")->group("");
    for (CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) addDevice(*sub, w);

    if (auto done = parseCommandLine(app, argc, argv)) return *done;

    if (keys->parsed()) return cli::keys(w.json);
    DeviceFolder device = deviceFolder(w.folder);
    // Nothing of a folder someone else could have prepared is read, run or written.
    if (auto safe = checkDeviceFolder(device); !safe) {
        std::cerr << "vantrel-device: " << safe.error().message << "\n";
        return 1;
    }
    if (launchdCommand->parsed()) return launchd(device, false);
    if (install->parsed()) return w.package.empty() ? cli::install(device, w.fresh) : installPackageCommand(device, w.package);
    if (remove->parsed()) return removePackageCommand(device, w.package);
    if (packages->parsed()) return packagesCommand(device, w.json);
    if (start->parsed()) return cli::start(device, w.fresh, w.interactive);
    if (springboard->parsed()) return cli::start(device, w.fresh, true);
    if (stop->parsed()) return cli::stop(device);
    if (restart->parsed()) return cli::restart(device, w.fresh);
    if (log->parsed()) return cli::log(device, w.lines, w.follow);
    if (status->parsed()) return cli::status(device, w.json);
    if (watch->parsed()) return cli::watch(device, w.json);
    if (set->parsed()) return cli::set(device, w.changes);
    if (ping->parsed()) return cli::ping(device);
    if (tap->parsed()) return cli::call(device, "Tap");
    if (lock->parsed()) return cli::call(device, "Lock");
    if (unlock->parsed()) return cli::call(device, "Unlock");
    if (nc->parsed()) return cli::call(device, w.action == "open" ? "OpenNotificationCenter" : "CloseNotificationCenter");
    if (alert->parsed()) return cli::answerAlert(device, w.alertId, w.button);
    return 2;
}

}  // namespace vantrel::sim::cli
