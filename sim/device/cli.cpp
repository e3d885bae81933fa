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

// Optimal string alignment distance: a swap of two neighbours counts one, as in "stauts".
size_t distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// Every spelling of the options of app and, through fallthrough, of its parents.
std::vector<std::string> optionNames(const CLI::App* app) {
    std::vector<std::string> names;
    for (; app; app = app->get_parent())
        for (const CLI::Option* o : app->get_options()) {
            for (const auto& l : o->get_lnames()) names.push_back("--" + l);
            for (const auto& s : o->get_snames()) names.push_back("-" + s);
        }
    return names;
}

std::vector<std::string> commandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App* s) { return !s->get_group().empty(); }))
        names.push_back(sub->get_name());
    return names;
}

// What was wrong with a line CLI11 refused, in words: the command or option nobody knows, and
// the nearest known one. Empty when CLI11's own message says it best.
std::vector<std::string> diagnose(CLI::App& app, const std::vector<std::string>& args) {
    std::vector<std::string> lines;
    const CLI::App* command = nullptr;
    bool valueNext = false, maybeValue = false;
    for (const auto& word : args) {
        if (valueNext) {
            valueNext = false;
            continue;
        }
        bool unknownsValue = std::exchange(maybeValue, false);
        if (word.size() > 1 && word[0] == '-') {
            std::string name = word.substr(0, word.find('='));
            auto known = optionNames(command ? command : &app);
            if (std::find(known.begin(), known.end(), name) != known.end()) {
                valueNext = name == "--device" && word.find('=') == std::string::npos;
                continue;
            }
            std::string near = nearest(name, known);
            lines.push_back("unknown option " + name + (near.empty() ? "" : "; did you mean " + near + "?"));
            maybeValue = word.find('=') == std::string::npos;
            continue;
        }
        if (command) continue;
        CLI::App* sub = nullptr;
        try {
            sub = app.get_subcommand(word);
        } catch (const CLI::OptionNotFound&) {
        }
        if (sub) {
            command = sub;
            continue;
        }
        if (unknownsValue) continue;  // taken for the unknown option's value
        std::string near = nearest(word, commandNames(app));
        lines.push_back("unknown command " + word + (near.empty() ? "" : "; did you mean " + near + "?"));
        break;
    }
    return lines;
}

int usageError(CLI::App& app, const CLI::ParseError& e, const std::vector<std::string>& args) {
    auto diagnosis = diagnose(app, args);
    if (app.get_subcommands().empty() && diagnosis.empty()) {  // no command at all: the whole usage
        std::cerr << app.help();
        return 2;
    }
    if (diagnosis.empty()) diagnosis.push_back(e.what());
    for (const auto& l : diagnosis) std::cerr << "vantrel-device: " << l << "\n";
    const CLI::App* chosen = nullptr;
    for (const CLI::App* sub : app.get_subcommands()) chosen = sub;
    std::string where = chosen ? "vantrel-device " + chosen->get_name() + " --help" : "vantrel-device --help";
    std::cerr << "Run '" << where << "' for the usage.\n";
    return 2;
}

void addDevice(CLI::App& app, Words& w) {
    app.add_option("--device", w.folder, "The device folder (default: build/device); before or after the command")
        ->type_name("DIR");
}

}  // namespace

std::string nearest(const std::string& word, const std::vector<std::string>& names) {
    std::string best;
    size_t bestDistance = 3;
    for (const auto& n : names) {
        size_t d = distance(word, n);
        // A misspelt start of a longer name: "batery" for batteryLevel.
        if (word.size() >= 4 && n.size() > word.size() + 1) d = std::min(d, distance(word, n.substr(0, word.size() + 1)) + 1);
        // "-d": the first letter of a long option.
        if (word.size() == 2 && word[0] == '-' && word[1] != '-' && n.size() > 3 && n.rfind(std::string("--") + word[1], 0) == 0)
            d = std::min<size_t>(d, 2);
        if (d < bestDistance && d < std::max<size_t>(n.size(), 2) - 1) best = n, bestDistance = d;
    }
    return best;
}

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

    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(app, e, args);
    }

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
