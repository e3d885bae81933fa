// The command line of the Settings app, parsed with CLI11: the one-shot form
// `vantrel-settings [--device DIR] [--start] [--json] [--session] [PAGE] COMMAND ...` and the same
// commands as lines of a session or the prompt. Parsing only: nothing is opened or joined, so
// -h/--help, --version and usage errors leave the device as it was. Plain functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel::sim {

// One command of the Settings app, as the interpreter runs it.
struct SettingsCommand {
    std::string page;               // main, icontester, datafaker; empty: none given (main, or every file for keys)
    std::string verb;               // show, get, set, reset, press, keys, list, alerts, answer, suspend, leave
    std::vector<std::string> args;  // set: KEY VALUE; get, reset: KEY; press: ACTION
    std::optional<std::string> text, button;
    bool json = false;
    bool quiet = false;  // set, reset: no line saying what was done
};

struct ParsedLine {
    // Run: `command` (or, without one on the program's line, a session); Exit: print `out` on
    // standard output and `err` on standard error, and exit with `code` (0 help, 2 usage).
    enum class Then { Run, Exit } then = Then::Run;
    int code = 0;
    std::string out, err;
    std::optional<SettingsCommand> command;  // none: no command given
    // The program's own options (never on a session line).
    std::optional<std::string> device;
    bool start = false, session = false, help = false, quit = false;
};

// argv without the program name. A session line (sessionLine true) takes the commands alone,
// plus `help` and `quit`.
ParsedLine parseSettingsLine(const std::vector<std::string>& words, bool sessionLine);

// The commands, one line each, for the prompt's `help`.
std::string commandSummary();
// What Tab offers at the session's prompt for the last of words (the one being typed, maybe
// empty): commands, pages, keys and values, as `--complete` gives the shells.
std::vector<std::string> sessionCompletions(const std::vector<std::string>& words);

// Whether the command only reads (the command table's column): such a command never starts a
// device. A session is not.
bool readOnly(const std::optional<SettingsCommand>& c);

}  // namespace vantrel::sim
