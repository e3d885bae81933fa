// Usage errors of the device's programs, alike in each: the reason, a "did you mean" for a near
// miss of a command, an option or a key, and where the usage is; exit status 2. The command
// lines themselves are CLI11's; this only words what CLI11 refused.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class ParseError;
}  // namespace CLI

namespace vantrel::sim {

// The name nearest to word when it is close enough to be a slip (a letter or two, a swap of
// neighbours, a misspelt start of a longer name, "-d" for "--device"); case does not count.
std::optional<std::string> nearest(std::string_view word, std::span<const std::string> names);

// What a command's own words may be, for completion: given the commands typed (for example
// {"set"} or {"main", "get"}) and the words already given to the last of them, the candidates
// for the next ("@dir" or "@file" first: let the shell offer folders or files).
using ValueCompleter =
    std::function<std::vector<std::string>(const std::vector<std::string>& commands, const std::vector<std::string>& given)>;

// The hidden modes of every program, read from app itself so that a new command, option or
// value needs nothing else: `--man` gives a man page (roff) of the program's own help, for the
// build to install; `--complete WORD...` the candidates for the last WORD (the one being typed,
// possibly empty), one a line, for the shells' completion scripts. nullopt for any other line.
std::optional<std::string> generatedText(const CLI::App& app, const std::vector<std::string>& args,
                                         const ValueCompleter& values = {});

// Parses argv with app. nullopt when the command line parsed; otherwise the exit status, after
// the help or the version was printed (0) or the usage error was said (2, as usageError).
// --man and --complete print generatedText and exit 0.
std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv, const ValueCompleter& values = {});

// The choices of a refusal: at most 10, comma-separated, then "and N more; see `seeAlso`".
std::string someChoices(std::span<const std::string> names, std::string_view seeAlso);

// The text in lower case (ASCII), for matching what people type.
std::string lowercase(std::string_view text);

// A switch as people type it: true/on/yes/1 or false/off/no/0, in any case; nullopt otherwise.
std::optional<bool> truthWord(std::string_view text);

// How a hint spells a command of program (vantrel-device, vantrel-settings or vantrel-view)
// followed by words, as the user typed it: "./vantrel device" through ./vantrel (which says so in
// VANTREL_FRONT), the path when they ran the program by one, its bare name otherwise.
std::string typedCommand(std::string_view program, std::string_view words);

// Notes how the running program was typed (its argv[0]), for typedCommand; parseCommandLine
// does it.
void noteTypedProgram(const char* argv0);

// Writes why args did not parse to stderr, prefixed with the program's name (app's), with the
// nearest known command or option, and the --help to run; with no command at all, the whole
// usage. Returns 2.
int usageError(CLI::App& app, const CLI::ParseError& error, const std::vector<std::string>& args);

}  // namespace vantrel::sim
