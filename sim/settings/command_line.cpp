#include "sim/settings/command_line.h"

#include <algorithm>
#include <array>
#include <sstream>

#include <CLI/CLI.hpp>

#include "sim/common/device.h"
#include "sim/common/usage.h"
#include "sim/settings/values.h"
#include "vantrel/version.h"

namespace vantrel::sim {
namespace {

struct CommandSpec {
    const char* name;
    const char* about;
    bool perPage;   // also under a PAGE
    bool readOnly;  // only reads: never starts a device
};
constexpr CommandSpec kCommands[] = {
    {"show", "the page's rows: each control's value, the stored value, the default, the type", true, true},
    {"get", "the stored value of KEY (its default when unset)", true, true},
    {"set", "changes KEY through its control on the page: a switch, a list or a text dialog", true, false},
    {"reset", "removes KEY as the page does for an empty value; the page posts its code", true, false},
    {"press", "presses the button ACTION (its selector or label) of the page", true, false},
    {"keys", "the key table of the preference files; no device needed", true, true},
    {"list", "the Settings app's entries", false, true},
    {"alerts", "the dialogs the Settings app shows", false, true},
    {"answer", "answers the dialog on screen", false, false},
    {"suspend", "sends the Settings app to the background (the page saves)", false, false},
    {"leave", "leaves the open page", false, false},
};

std::string usageLine(bool sessionLine) {
    return sessionLine ? "usage: [PAGE] COMMAND ...  (help lists the commands)\n"
                       : "usage: vantrel-settings [--device DIR] [--start] [--json] [--session] [PAGE] COMMAND ...\n"
                         "Run with --help for the commands, or COMMAND --help for one.\n";
}

// The options and arguments of one command, filled into `c` when it is chosen.
CLI::App* addCommand(CLI::App& parent, const CommandSpec& spec, SettingsCommand& c, std::array<std::string, 2>& positional) {
    CLI::App* sub = parent.add_subcommand(spec.name, spec.about);
    sub->fallthrough();
    std::string name = spec.name;
    auto json = [&] { sub->add_flag("--json", c.json, "JSON on one line"); };
    auto dialog = [&](const char* what) {
        sub->add_option("--text", c.text, std::string("types T in the text field of ") + what)->type_name("T");
        sub->add_option("--button", c.button, std::string("then presses the button TITLE of ") + what)->type_name("TITLE");
    };
    if (name == "set") {
        sub->add_option("KEY", positional[0], "the preference key (settings keys lists them)")->required();
        sub->add_option("VALUE", positional[1], "the value its control takes")->required();
        sub->footer(
            "VALUE: a switch takes true/false/on/off/yes/no/1/0, a list one of its values or titles, a text key "
            "any text up to " +
            std::to_string(kMaxTextBytes) +
            " bytes. A VALUE beginning with - follows --. timeText is a date pattern: letters outside 'single quotes' "
            "are date fields, so quote a text to show it as typed ('Good morning').");
        sub->add_option("--button", c.button,
                        "then presses the button TITLE of the dialog the change brings up (the respring prompt)")
            ->type_name("TITLE");
        json();
        sub->add_flag("-q,--quiet", c.quiet, "prints nothing on success but the dialogs still shown");
    } else if (name == "get" || name == "reset") {
        sub->add_option("KEY", positional[0], "the preference key")->required();
        if (name == "reset") sub->add_flag("-q,--quiet", c.quiet, "prints nothing on success but the dialogs still shown");
        if (name == "get")
            json();
        else
            dialog("the dialog the change brings up");
    } else if (name == "press") {
        sub->add_option("ACTION", positional[0], "the button's action (timeText or timeText:) or label")->required();
        dialog("the dialog it brings up");
        json();
    } else if (name == "answer") {
        dialog("the dialog on screen");
    } else if (name == "show" || name == "keys" || name == "alerts") {
        json();
    }
    size_t count = name == "set" ? 2 : name == "get" || name == "reset" || name == "press" ? 1 : 0;
    sub->callback([&c, &positional, name, count] {
        c.verb = name;
        c.args.assign(positional.begin(), positional.begin() + static_cast<long>(count));
    });
    return sub;
}

std::vector<std::string> knownOptions() {
    return {"--device", "--start", "--json", "--session", "--version", "--help", "--text", "--button", "--quiet"};
}

// What was wrong with the line in words, for its first word that is no name we know: an
// unknown option or command, with the nearest known one. Empty when CLI11 says it best.
std::string diagnosis(const std::vector<std::string>& words) {
    std::vector<std::string> names;
    for (const auto& c : kCommands) names.emplace_back(c.name);
    for (const auto& p : settingsPageNames()) names.push_back(p);
    names.emplace_back("help");
    auto options = knownOptions();
    bool commandSeen = false;
    auto nearOf = [](const std::string& w, const std::vector<std::string>& known) {
        auto close = nearest(w, known);
        return close ? "; did you mean " + *close + "?" : std::string();
    };
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--") break;
        if (w.rfind('-', 0) == 0) {
            std::string name = w.substr(0, w.find('='));
            if (std::find(options.begin(), options.end(), name) != options.end() || name == "-h" || name == "-q") {
                if (name == "--device" || name == "--text" || name == "--button") ++i;  // its value
                continue;
            }
            return "unknown option " + name + nearOf(name, options);
        }
        if (commandSeen) return "";
        if (std::find(names.begin(), names.end(), w) != names.end()) {
            if (!fileNamed(w)) commandSeen = true;
            continue;
        }
        return "unknown command " + w + nearOf(w, names);
    }
    return "";
}

// The keys of the page for get, set and reset, for completion; main when no page is named.
std::vector<std::string> settingValues(const std::vector<std::string>& commands, const std::vector<std::string>& given) {
    if (commands.empty() || !given.empty()) return {};
    const std::string& verb = commands.back();
    if (verb != "get" && verb != "set" && verb != "reset") return {};
    auto file = fileNamed(commands.size() == 2 ? commands[0] : "main");
    if (!file) return {};
    std::vector<std::string> keys;
    for (const KeySchema& row : schemaRows(*file)) keys.emplace_back(row.key);
    return keys;
}

}  // namespace

std::string commandSummary() {
    std::string out = "[PAGE] COMMAND, PAGE one of main (the default), icontester, datafaker:\n";
    out += "  show [--json]                  " + std::string(kCommands[0].about) + "\n";
    out += "  get KEY [--json]               " + std::string(kCommands[1].about) + "\n";
    out += "  set KEY VALUE [--button T]     " + std::string(kCommands[2].about) + "\n";
    out += "  reset KEY                      " + std::string(kCommands[3].about) + "\n";
    out += "  press ACTION [--text T] [--button TITLE]  " + std::string(kCommands[4].about) + "\n";
    out += "  keys [--json]                  " + std::string(kCommands[5].about) + "\n";
    out += "  list | alerts [--json] | answer [--text T] [--button TITLE] | suspend | leave\n";
    out += "  COMMAND --help                 the command's options\n";
    return out;
}

ParsedLine parseSettingsLine(const std::vector<std::string>& words, bool sessionLine) {
    ParsedLine parsed;
    SettingsCommand command;
    std::array<std::string, 2> positional;
    std::optional<std::string> device;
    CLI::App app("The Settings app of a simulated device: the pages of Vantrel's preference bundle.",
                 sessionLine ? "" : "vantrel-settings");
    app.fallthrough();
    app.require_subcommand(0, 1);
    app.footer(
        "PAGE is main (the default), icontester or datafaker. Without a command: a session reading commands "
        "from standard input, a prompt in a terminal. Exit codes: 0 done, 1 failed, 2 usage.");
    app.add_flag("--json", command.json, "JSON on one line (show, get, keys, alerts, set, press)");
    if (!sessionLine) {
        app.add_option("--device", device, kDeviceOptionHelp)->type_name("DIR");
        app.add_flag("--start", parsed.start, "start the device first when it is not running (commands that act only)");
        app.add_flag("--session", parsed.session, "read commands from standard input, one a line");
        app.set_version_flag("--version", VANTREL_VERSION);
    } else {
        app.add_subcommand("help", "the commands")->group("Commands")->callback([&] { parsed.help = true; });
        app.add_subcommand("quit", "ends the session")->alias("exit")->group("Commands")->callback([&] { parsed.quit = true; });
    }
    for (const CommandSpec& spec : kCommands) addCommand(app, spec, command, positional)->group("Commands");
    for (const std::string& page : settingsPageNames()) {
        CLI::App* sub = app.add_subcommand(page, std::string("the page ") + page + "; without a command: show");
        sub->group("Pages");
        sub->fallthrough();
        sub->require_subcommand(0, 1);
        for (const CommandSpec& spec : kCommands)
            if (spec.perPage) addCommand(*sub, spec, command, positional);
        sub->callback([&command, sub, page] {
            command.page = page;
            if (sub->get_subcommands().empty()) command.verb = "show";
        });
    }
    if (!sessionLine) app.add_subcommand("help", "the commands")->group("Commands")->callback([&] { parsed.help = true; });

    // The prompt's Tab asks as the shells do, with the session's own commands.
    if (!sessionLine || (!words.empty() && words.front() == "--complete")) {
        if (auto text = generatedText(app, words, settingValues)) {
            parsed.then = ParsedLine::Then::Exit;
            parsed.out = *text;
            return parsed;
        }
    }
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    std::ostringstream out, err;
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        app.exit(e, out, err);
        parsed.then = ParsedLine::Then::Exit;
        parsed.out = out.str();
        return parsed;
    } catch (const CLI::CallForAllHelp& e) {
        app.exit(e, out, err);
        parsed.then = ParsedLine::Then::Exit;
        parsed.out = out.str();
        return parsed;
    } catch (const CLI::CallForVersion& e) {
        parsed.then = ParsedLine::Then::Exit;
        parsed.out = std::string("vantrel-settings ") + VANTREL_VERSION + "\n";
        return parsed;
    } catch (const CLI::ParseError& e) {
        parsed.then = ParsedLine::Then::Exit;
        parsed.code = 2;
        std::string why = diagnosis(words);
        if (why.empty()) why = e.what();
        parsed.err =
            std::string(sessionLine ? "" : "vantrel-settings: ") + why + "\n" +
            (sessionLine ? usageLine(true) : "Run '" + typedCommand("vantrel-settings", "--help") + "' for the usage.\n");
        return parsed;
    }
    if (parsed.help) {
        parsed.then = ParsedLine::Then::Exit;
        parsed.out = sessionLine ? commandSummary() + "  quit                           ends the session\n" : app.help();
        return parsed;
    }
    parsed.device = device;
    if (!command.verb.empty()) parsed.command = command;
    return parsed;
}

bool readOnly(const std::optional<SettingsCommand>& c) {
    if (!c) return false;  // a session acts
    for (const auto& spec : kCommands)
        if (c->verb == spec.name) return spec.readOnly;
    return false;
}

std::vector<std::string> sessionCompletions(const std::vector<std::string>& words) {
    std::vector<std::string> args{"--complete"};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<std::string> out;
    std::istringstream lines(parseSettingsLine(args, true).out);
    for (std::string candidate; std::getline(lines, candidate);)
        if (!candidate.empty()) out.push_back(candidate);
    return out;
}

}  // namespace vantrel::sim
