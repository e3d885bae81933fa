// The words of a refused command line, the nearest names for its slips.
#include "sim/common/usage.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <utility>

#include <CLI/CLI.hpp>

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
    std::string where = chosen ? program + " " + chosen->get_name() + " --help" : program + " --help";
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

std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv) {
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

}  // namespace vantrel::sim
