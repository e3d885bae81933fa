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
#include "sim/common/hardware_keys.h"
#include "sim/common/safety.h"
#include "sim/common/usage.h"
#include "vantrel/version.h"

namespace vantrel::sim::cli {
namespace {

struct Words {
    std::optional<std::string> folder;
    bool fresh = false, interactive = false, json = false, follow = false, all = false, quiet = false;
    size_t lines = 50;
    std::string action, alertId, button, package;
    std::vector<std::string> changes, keys;
};

void addDevice(CLI::App& app, Words& w) {
    app.add_option("--device", w.folder, std::string(kDeviceOptionHelp) + "; before or after the command")->type_name("DIR");
}

// Every command once: its name and summary (the help and the did-you-mean read them from the
// subcommands made here), its options, whether it acts on a folder at all, and what it does.
struct Verb {
    const char* name;
    const char* summary;
    void (*options)(CLI::App&, Words&);
    bool onFolder;  // keys reads the table alone: no folder is looked at
    int (*handler)(const DeviceFolder&, const Words&);
};

void noOptions(CLI::App&, Words&) {}
// For the commands that say what they did: the saying left out, failures still said.
void quietOption(CLI::App& c, Words& w) { c.add_flag("-q,--quiet", w.quiet, "Print nothing on success"); }
void jsonOption(CLI::App& c, Words& w) { c.add_flag("--json", w.json, "One JSON object instead (docs/cli.md)"); }

const CLI::Validator& positiveLines() {
    static const CLI::Validator positive(
        [](std::string& text) {
            bool digits = !text.empty() && text.size() < 19 && text.find_first_not_of("0123456789") == std::string::npos;
            return digits && std::stoll(text) > 0 ? std::string() : "LINES is a positive whole number, not " + text;
        },
        "LINES > 0");
    return positive;
}

const Verb kVerbs[] = {
    {"install",
     "Install the tweak's package (the build's, or the one installed beside the programs) and the device's files, or a package "
     "file",
     [](CLI::App& c, Words& w) {
         c.add_flag("--fresh", w.fresh, "Start from an empty folder (a running device is stopped first)");
         c.add_option("PACKAGE.deb", w.package,
                      "A Debian package to install into the device (its postinst runs in the device's shell)")
             ->excludes("--fresh");
         quietOption(c, w);
     },
     true,
     [](const DeviceFolder& d, const Words& w) {
         return w.package.empty() ? cli::install(d, w.fresh) : installPackageCommand(d, w.package);
     }},
    {"remove", "Remove an installed package's files and respring",
     [](CLI::App& c, Words& w) {
         c.add_option("PACKAGE", w.package, "The package's name (packages lists them)")->required();
         quietOption(c, w);
     },
     true, [](const DeviceFolder& d, const Words& w) { return removePackageCommand(d, w.package); }},
    {"packages", "List the installed packages", jsonOption, true,
     [](const DeviceFolder& d, const Words& w) { return packagesCommand(d, w.json); }},
    {"start", "Start launchd, the device's D-Bus daemon and SpringBoard (installing first if needed)",
     [](CLI::App& c, Words& w) {
         c.add_flag("--fresh", w.fresh, "Install from an empty folder first");
         c.add_flag("--interactive", w.interactive, "Run SpringBoard in this terminal, as the springboard command does");
         quietOption(c, w);
     },
     true, [](const DeviceFolder& d, const Words& w) { return cli::start(d, w.fresh, w.interactive); }},
    {"springboard", "Run the device with SpringBoard's status bar drawn in this terminal (q quits)",
     [](CLI::App& c, Words& w) { c.add_flag("--fresh", w.fresh, "Install from an empty folder first"); }, true,
     [](const DeviceFolder& d, const Words& w) { return cli::start(d, w.fresh, true); }},
    {"stop", "Stop launchd and its children", quietOption, true,
     [](const DeviceFolder& d, const Words&) { return cli::stop(d); }},
    {"restart", "stop, then start: a respring",
     [](CLI::App& c, Words& w) {
         c.add_flag("--fresh", w.fresh, "Install from an empty folder in between");
         quietOption(c, w);
     },
     true, [](const DeviceFolder& d, const Words& w) { return cli::restart(d, w.fresh); }},
    {"log", "Print the last lines of the device log",
     [](CLI::App& c, Words& w) {
         c.add_option("-n", w.lines, "How many lines (default 50)")->type_name("LINES")->check(positiveLines());
         c.add_flag("-f,--follow", w.follow, "Go on printing lines as they are appended, until interrupted");
     },
     true, [](const DeviceFolder& d, const Words& w) { return cli::log(d, w.lines, w.follow); }},
    {"status", "Print the status bar as one line", jsonOption, true,
     [](const DeviceFolder& d, const Words& w) { return cli::status(d, w.json); }},
    {"watch", "Print the status line now and after every redraw, until interrupted",
     [](CLI::App& c, Words& w) { c.add_flag("--json", w.json, "One status JSON object per line instead"); }, true,
     [](const DeviceFolder& d, const Words& w) { return cli::watch(d, w.json); }},
    {"keys", "List the hardware keys set takes: type, values, default, meaning",
     [](CLI::App& c, Words& w) { c.add_flag("--json", w.json, "As a JSON array"); }, false,
     [](const DeviceFolder&, const Words& w) { return cli::keys(w.json); }},
    {"set", "Change the simulated hardware, all or nothing (keys lists the keys)",
     [](CLI::App& c, Words& w) {
         c.add_option("KEY=VALUE", w.changes, "A key and its value, such as batteryLevel=20 or clock=09:41")->required();
         quietOption(c, w);
     },
     true, [](const DeviceFolder& d, const Words& w) { return cli::set(d, w.changes, w.quiet); }},
    {"get", "Print hardware keys' values: the running device's, or what a stopped one starts with",
     [](CLI::App& c, Words& w) {
         c.add_option("KEY", w.keys, "A hardware key (keys lists them)")->required();
         c.add_flag("--json", w.json, "One JSON object of the keys' values instead");
     },
     true, [](const DeviceFolder& d, const Words& w) { return cli::get(d, w.keys, w.json); }},
    {"reset", "Put hardware keys back to a fresh device's values, all or nothing",
     [](CLI::App& c, Words& w) {
         auto* all = c.add_flag("--all", w.all, "Every key");
         c.add_option("KEY", w.keys, "A hardware key (keys lists them)")->excludes(all);
         quietOption(c, w);
     },
     true, [](const DeviceFolder& d, const Words& w) { return cli::reset(d, w.keys, w.all, w.quiet); }},
    {"ping", "Print pong when SpringBoard answers on the device bus", noOptions, true,
     [](const DeviceFolder& d, const Words&) { return cli::ping(d); }},
    {"tap", "Tap the status bar", quietOption, true,
     [](const DeviceFolder& d, const Words& w) { return cli::call(d, "Tap", w.quiet); }},
    {"lock", "Show the lock screen", quietOption, true,
     [](const DeviceFolder& d, const Words& w) { return cli::call(d, "Lock", w.quiet); }},
    {"unlock", "Unlock", quietOption, true,
     [](const DeviceFolder& d, const Words& w) { return cli::call(d, "Unlock", w.quiet); }},
    {"nc", "Open or close Notification Centre",
     [](CLI::App& c, Words& w) {
         c.add_option("ACTION", w.action, "open or close")->required()->check(CLI::IsMember({"open", "close"}));
         quietOption(c, w);
     },
     true,
     [](const DeviceFolder& d, const Words& w) {
         return cli::call(d, w.action == "open" ? "OpenNotificationCenter" : "CloseNotificationCenter", w.quiet);
     }},
    {"alert", "Answer an alert with one of its buttons",
     [](CLI::App& c, Words& w) {
         c.add_option("ID", w.alertId, "The alert's id (alerts[].id of status --json)")->required();
         c.add_option("BUTTON", w.button, "The button's title, or its index")->required();
         quietOption(c, w);
     },
     true, [](const DeviceFolder& d, const Words& w) { return cli::answerAlert(d, w.alertId, w.button, w.quiet); }},
};

// The words of the commands that take values of their own, for completion: the key table for
// set, the actions of nc, a package file for install.
std::vector<std::string> verbValues(const std::vector<std::string>& commands, const std::vector<std::string>& given) {
    if (commands.size() != 1) return {};
    std::vector<std::string> values;
    if (commands[0] == "set")
        for (const auto& key : hardwareKeys()) values.push_back(std::string(key.name) + "=");
    if (commands[0] == "nc" && given.empty()) values = {"open", "close"};
    if (commands[0] == "install" && given.empty()) values = {"@file"};
    return values;
}

}  // namespace

int run(int argc, char** argv) {
    Words w;
    CLI::App app(
        "Drives a simulated device: launchd, its D-Bus daemon and SpringBoard, in a folder laid out like "
        "a phone.\nExit codes: 0 done, 1 failed (the reason on stderr), 2 usage error.",
        "vantrel-device");
    app.set_version_flag("--version", "vantrel-device " VANTREL_VERSION, "Print the version and exit");
    app.require_subcommand(1, 1);
    app.fallthrough();
    addDevice(app, w);
    app.footer("vantrel-device COMMAND --help shows the usage of one command.");

    std::vector<std::pair<CLI::App*, const Verb*>> commands;
    for (const auto& verb : kVerbs) {
        CLI::App* sub = app.add_subcommand(verb.name, verb.summary);
        verb.options(*sub, w);
        commands.emplace_back(sub, &verb);
    }
    // What start runs: no command of the user's.
    CLI::App* launchdCommand = app.add_subcommand("launchd", "The device's launchd (what start runs)")->group("");
    for (CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) addDevice(*sub, w);

    if (auto done = parseCommandLine(app, argc, argv, verbValues)) return *done;

    const Verb* verb = nullptr;
    for (const auto& [sub, v] : commands)
        if (sub->parsed()) verb = v;
    if (verb && !verb->onFolder) return verb->handler(DeviceFolder{}, w);
    DeviceFolder device = deviceFolder(w.folder);
    // Nothing of a folder someone else could have prepared is read, run or written.
    if (auto safe = checkDeviceFolder(device); !safe) {
        std::cerr << "vantrel-device: " << safe.error().message << "\n";
        return 1;
    }
    if (launchdCommand->parsed()) return launchd(device, false);
    // What these commands print on standard output is what they did; failures go to stderr.
    if (w.quiet) std::cout.setstate(std::ios::badbit);
    return verb ? verb->handler(device, w) : 2;
}

}  // namespace vantrel::sim::cli
