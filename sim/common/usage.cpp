// The words of a refused command line, the nearest names for its slips.
#include "sim/common/usage.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>

#include <CLI/CLI.hpp>

#include "vantrel/version.h"

namespace vantrel::sim {
namespace {

// Optimal string alignment distance: a swap of two neighbours counts one, as in "stauts".
size_t distance(std::string_view a, std::string_view b) {
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
                const CLI::Option* option = (command ? command : &app)->get_option_no_throw(name);
                valueNext = option && option->get_items_expected_min() > 0 && word.find('=') == std::string::npos;
                continue;
            }
            std::string near = nearest(name, known).value_or("");
            lines.push_back("unknown option " + name + (near.empty() ? "" : "; did you mean " + near + "?"));
            maybeValue = word.find('=') == std::string::npos;
            continue;
        }
        if (command) continue;
        CLI::App* sub = nullptr;
        try {
            sub = app.get_subcommand(word);
        } catch (const CLI::OptionNotFound&) {}
        if (sub) {
            command = sub;
            continue;
        }
        if (unknownsValue) continue;  // taken for the unknown option's value
        std::string near = nearest(word, commandNames(app)).value_or("");
        lines.push_back("unknown command " + word + (near.empty() ? "" : "; did you mean " + near + "?"));
        break;
    }
    return lines;
}

}  // namespace

namespace {
std::string typedProgram;  // argv[0] of this process, when it named a path

// A hint is one line in single quotes: a path with control characters or quotes is not shown.
bool showable(char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f && c != '\''; }
}  // namespace

void noteTypedProgram(const char* argv0) {
    std::string_view typed = argv0 ? argv0 : "";
    // Only a path says more than the name.
    bool plain = typed.size() <= 4096 && std::all_of(typed.begin(), typed.end(), showable);
    typedProgram = plain && typed.find('/') != std::string_view::npos ? std::string(typed) : "";
}

std::string typedCommand(std::string_view program, std::string_view words) {
    std::string text;
    const char* front = std::getenv("VANTREL_FRONT");
    if (front && *front && std::strlen(front) <= 4096) {
        // ./vantrel's own words for each program: the view is "device view", its screenshot
        // "device screenshot".
        text = std::string(front) + " device";
        if (program == "vantrel-settings") text = std::string(front) + " settings";
        if (program == "vantrel-view" && !words.starts_with("screenshot")) text += " view";
    } else {
        // A program typed by its path, and its companions beside it.
        std::string_view own = typedProgram;
        const size_t slash = own.rfind('/');
        const std::string_view name = slash == std::string_view::npos ? own : own.substr(slash + 1);
        const bool ours = name == "vantrel-device" || name == "vantrel-settings" || name == "vantrel-view";
        text = ours ? std::string(own.substr(0, slash + 1)) + std::string(program) : std::string(program);
    }
    return words.empty() ? text : text + " " + std::string(words);
}

int usageError(CLI::App& app, const CLI::ParseError& e, const std::vector<std::string>& args) {
    const std::string program = app.get_name();
    auto diagnosis = diagnose(app, args);
    // No command where one is needed: the whole usage. Any other refusal says its reason.
    if (app.get_subcommands().empty() && diagnosis.empty() && app.get_require_subcommand_min() > 0) {
        std::cerr << app.help();
        return 2;
    }
    if (diagnosis.empty()) diagnosis.push_back(e.what());
    for (const auto& l : diagnosis) std::cerr << program << ": " << l << "\n";
    const CLI::App* chosen = nullptr;
    for (const CLI::App* sub : app.get_subcommands()) chosen = sub;
    std::string where = typedCommand(program, chosen ? chosen->get_name() + " --help" : "--help");
    std::cerr << "Run '" << where << "' for the usage.\n";
    return 2;
}

std::string someChoices(std::span<const std::string> names, std::string_view seeAlso) {
    constexpr size_t kShown = 10;
    std::string out;
    for (size_t i = 0; i < names.size() && i < kShown; ++i) out += (i ? ", " : "") + names[i];
    if (names.size() > kShown)
        out += " and " + std::to_string(names.size() - kShown) + " more; see `" + std::string(seeAlso) + "`";
    return out;
}

std::string lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<bool> truthWord(std::string_view text) {
    const std::string word = lowercase(text);
    for (const char* yes : {"true", "on", "yes", "1"})
        if (word == yes) return true;
    for (const char* no : {"false", "off", "no", "0"})
        if (word == no) return false;
    return std::nullopt;
}

std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv, const ValueCompleter& values) {
    if (argc > 0) noteTypedProgram(argv[0]);
    if (auto text = generatedText(app, std::vector<std::string>(argv + 1, argv + argc), values)) {
        std::cout << *text;
        return 0;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        // "bogus --help" is a slip to name, not a request for the whole usage.
        std::vector<std::string> args(argv + 1, argv + argc);
        if (app.get_subcommands().empty())
            for (const auto& line : diagnose(app, args))
                if (line.starts_with("unknown command")) return usageError(app, e, args);
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(app, e, std::vector<std::string>(argv + 1, argv + argc));
    }
    return std::nullopt;
}

std::optional<std::string> nearest(std::string_view typed, std::span<const std::string> names) {
    if (typed.size() > 64) return std::nullopt;  // no name is that long; no quadratic work for it
    const std::string word = lowercase(typed);
    std::optional<std::string> best;
    size_t bestDistance = 3;
    for (const auto& name : names) {
        const std::string n = lowercase(name);
        if (n == word) return name == typed ? std::nullopt : std::optional<std::string>(name);  // only the case differs
        size_t d = distance(word, n);
        // A misspelt start of a longer name: "batery" for batteryLevel.
        if (word.size() >= 4 && n.size() > word.size() + 1) d = std::min(d, distance(word, n.substr(0, word.size() + 1)) + 1);
        // "-d": the first letter of a long option.
        if (word.size() == 2 && word[0] == '-' && word[1] != '-' && n.size() > 3 && n.rfind(std::string("--") + word[1], 0) == 0)
            d = std::min<size_t>(d, 2);
        if (d < bestDistance && d < std::max<size_t>(n.size(), 2) - 1) best = name, bestDistance = d;
    }
    return best;
}

namespace {

bool shown(const CLI::App* sub) { return !sub->get_group().empty(); }

// roff: a backslash is \e, a line may not start with a control character, options' dashes are \-.
std::string roff(std::string_view text, bool dashes = false) {
    std::string out;
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-' && dashes)
            out += "\\-";
        else
            out += c;
        lineStart = c == '\n';
    }
    return out;
}

// "--device DIR", "-n LINES", "--json": an option as its help writes it.
std::string optionText(const CLI::Option* o) {
    std::string names;
    for (const auto& s : o->get_snames()) names += (names.empty() ? "-" : ", -") + s;
    for (const auto& l : o->get_lnames()) names += (names.empty() ? "--" : ", --") + l;
    if (names.empty()) return o->get_name();  // a positional: its name is its metavariable
    if (o->get_type_size() != 0 && !o->get_type_name().empty()) names += " " + o->get_type_name();
    return names;
}

void manOptions(std::string& out, const CLI::App& app) {
    for (const CLI::Option* o : app.get_options()) {
        if (o->get_group().empty()) continue;
        out += ".TP\n.B " + roff(optionText(o), true) + "\n" + roff(o->get_description()) + "\n";
    }
}

std::string manPage(const CLI::App& app) {
    const std::string& name = app.get_name();
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    std::string description = app.get_description();
    // "vantrel-view: the simulated device..." names the program once.
    if (description.starts_with(name + ": ")) description = description.substr(name.size() + 2);
    std::string summary = description.substr(0, description.find_first_of(".\n"));
    std::string out = ".TH " + roff(upper, true) + " 1 \"\" \"" + "Vantrel " VANTREL_VERSION + "\" \"User Commands\"\n";
    out += ".SH NAME\n" + roff(name, true) + " \\- " + roff(summary) + "\n";
    out += ".SH SYNOPSIS\n.B " + roff(name, true) + "\n[OPTIONS]" +
           (app.get_subcommands(shown).empty() ? "" : " COMMAND [OPTIONS]") + "\n.SH DESCRIPTION\n" + roff(description) + "\n";
    out += ".SH OPTIONS\n";
    manOptions(out, app);
    std::string lastGroup;
    for (const CLI::App* sub : app.get_subcommands(shown)) {
        // "COMMANDS", or the help's own groups ("Commands", "Pages").
        std::string group =
            sub->get_group() == "SUBCOMMANDS" || sub->get_group() == "Subcommands" ? "COMMANDS" : sub->get_group();
        std::transform(group.begin(), group.end(), group.begin(), [](unsigned char c) { return std::toupper(c); });
        if (group != lastGroup) out += ".SH " + roff(group) + "\n";
        lastGroup = group;
        std::string usage = sub->get_name();
        for (const CLI::Option* o : sub->get_options())
            if (!o->get_group().empty() && o->get_lnames().empty() && o->get_snames().empty())
                usage += o->get_required() ? " " + o->get_name() : " [" + o->get_name() + "]";
        out += ".TP\n.B " + roff(usage, true) + "\n" + roff(sub->get_description()) + "\n";
        bool any = false;
        for (const CLI::Option* o : sub->get_options()) {
            if (o->get_group().empty() || o->get_name() == "--help" || o->get_lnames() == std::vector<std::string>{"help"})
                continue;
            if (!any) out += ".RS\n";
            any = true;
            out += ".TP\n.B " + roff(optionText(o), true) + "\n" + roff(o->get_description()) + "\n";
        }
        if (any) out += ".RE\n";
    }
    out += ".SH ENVIRONMENT\n.TP\n.B VANTREL_DEVICE\nThe device folder when no \\-\\-device is given.\n";
    if (!app.get_footer().empty()) out += ".SH NOTES\n" + roff(app.get_footer()) + "\n";
    out += ".SH SEE ALSO\n.BR vantrel\\-device (1),\n.BR vantrel\\-settings (1),\n.BR vantrel\\-view (1)\n";
    return out;
}

const CLI::Option* findOption(const CLI::App* app, std::string_view word) {
    std::string name(word.substr(0, word.find('=')));
    for (; app; app = app->get_parent())
        for (const CLI::Option* o : app->get_options())
            if (o->check_name(name)) return o;
    return nullptr;
}

std::vector<std::string> complete(const CLI::App& app, const std::vector<std::string>& words, const ValueCompleter& values) {
    const CLI::App* at = &app;
    std::vector<std::string> commands, given;
    const CLI::Option* pending = nullptr;  // an option whose value comes next
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        const std::string& w = words[i];
        if (pending) {
            pending = nullptr;
            continue;
        }
        if (w.size() > 1 && w[0] == '-') {
            const CLI::Option* o = findOption(at, w);
            if (o && o->get_type_size() != 0 && w.find('=') == std::string::npos) pending = o;
            continue;
        }
        const CLI::App* sub = nullptr;
        for (const CLI::App* s : at->get_subcommands(shown))
            if (s->check_name(w)) sub = s;
        if (sub && given.empty()) {
            at = sub;
            commands.push_back(sub->get_name());
        } else {
            given.push_back(w);
        }
    }
    const std::string typed = words.empty() ? std::string() : words.back();
    std::vector<std::string> candidates;
    if (pending) {
        if (pending->check_name("--device")) return {"@dir"};
        return {};
    }
    if (!typed.empty() && typed[0] == '-') {
        for (const CLI::App* a = at; a; a = a->get_parent())
            for (const CLI::Option* o : a->get_options())
                if (!o->get_group().empty())
                    for (const auto& l : o->get_lnames()) candidates.push_back("--" + l);
    } else {
        if (given.empty())
            for (const CLI::App* s : at->get_subcommands(shown)) candidates.push_back(s->get_name());
        if (values) {
            auto more = values(commands, given);
            if (!more.empty() && more.front().starts_with('@')) return {more.front()};
            candidates.insert(candidates.end(), more.begin(), more.end());
        }
    }
    std::vector<std::string> matching;
    for (const auto& c : candidates)
        if (c.starts_with(typed) && std::find(matching.begin(), matching.end(), c) == matching.end()) matching.push_back(c);
    return matching;
}

}  // namespace

std::optional<std::string> generatedText(const CLI::App& app, const std::vector<std::string>& args,
                                         const ValueCompleter& values) {
    if (args.size() == 1 && args[0] == "--man") return manPage(app);
    if (args.empty() || args[0] != "--complete") return std::nullopt;
    std::vector<std::string> words(args.begin() + 1, args.end());
    if (words.empty()) words.emplace_back();
    std::string out;
    for (const auto& c : complete(app, words, values)) out += c + "\n";
    return out;
}

}  // namespace vantrel::sim
