#include "sim/settings/interpreter.h"

#include <algorithm>
#include <filesystem>

#include "platform/foundation/log.h"
#include "platform/foundation/file.h"
#include "platform/preferences/settings_app.h"
#include "platform/uikit/alert.h"
#include "prefs/pages.h"
#include "sim/device/json.h"
#include "sim/device/safety.h"

namespace fs = std::filesystem;

namespace vantrel::sim {
namespace {

std::string valueText(const platform::PSValue& v) {
    if (!v) return "(none)";
    if (auto b = v->boolean()) return *b ? "true" : "false";
    if (auto i = v->integer()) return std::to_string(*i);
    if (auto d = v->real()) return std::to_string(*d);
    if (auto s = v->string()) return "\"" + *s + "\"";
    return "(value)";
}

Json alertsJson() {
    Json alerts = Json::array();
    for (const auto& a : platform::visibleAlerts()) {
        Json fields = Json::array();
        for (size_t i = 0; auto* f = a->textFieldAtIndex(i); ++i) fields.push_back(f->text);
        alerts.push_back({{"id", static_cast<long long>(a->alertId())},
                          {"title", a->title()},
                          {"message", a->message()},
                          {"buttons", a->buttonTitles()},
                          {"textFields", std::move(fields)}});
    }
    return alerts;
}

std::string alertsText() {
    std::string out;
    for (const auto& a : platform::visibleAlerts()) {
        out += "alert: " + a->title();
        if (!a->message().empty()) out += " | " + a->message();
        for (size_t i = 0; auto* f = a->textFieldAtIndex(i); ++i) out += " | text: \"" + f->text + "\"";
        out += " |";
        for (const auto& b : a->buttonTitles()) out += " [" + b + "]";
        out += "\n";
    }
    return out;
}

std::string show(id page, const std::string& name, bool json) {
    auto rows = platform::controllerRows(page);
    if (json) {
        Json list = Json::array();
        for (const auto& r : rows) {
            Json values = Json::array();
            for (const auto& v : r.validValues) values.push_back(jsonFrom(v));
            list.push_back({{"label", r.label},
                            {"cell", r.cell},
                            {"key", r.key},
                            {"value", r.value ? jsonFrom(*r.value) : Json()},
                            {"action", r.action},
                            {"detail", r.detail},
                            {"validValues", std::move(values)},
                            {"validTitles", r.validTitles}});
        }
        Json page = {{"page", name}, {"rows", std::move(list)}, {"alerts", alertsJson()}};
        return jsonDump(page) + "\n";
    }
    std::string out = "== " + name + " ==\n";
    for (const auto& r : rows) {
        std::string kind = r.cell;
        if (kind.rfind("PS", 0) == 0) kind = kind.substr(2);
        if (kind.size() > 4 && kind.substr(kind.size() - 4) == "Cell") kind.resize(kind.size() - 4);
        out += "  [" + kind + "] " + r.label;
        if (!r.key.empty()) out += "  " + r.key + " = " + valueText(r.value);
        if (!r.action.empty()) out += "  (press " + r.action + ")";
        if (!r.detail.empty()) out += "  (opens " + r.detail + ")";
        if (!r.validTitles.empty()) {
            out += "  {";
            for (size_t i = 0; i < r.validTitles.size(); ++i) {
                if (i) out += ", ";
                out += (i < r.validValues.size() ? jsonDump(jsonFrom(r.validValues[i])) : "?") + ": " + r.validTitles[i];
            }
            out += "}";
        }
        out += "\n";
    }
    return out + alertsText();
}

// Fills the first visible alert's text field and presses one of its buttons, as the user would.
Result<void> answerDialog(const std::optional<std::string>& text, const std::optional<std::string>& button) {
    if (!text && !button) return {};
    auto alerts = platform::visibleAlerts();
    if (alerts.empty()) return failure("no dialog is shown");
    auto alert = alerts.back();
    if (text) {
        if (auto* f = alert->textField()) f->text = *text;
        else return failure("the dialog has no text field");
    }
    if (button) {
        const auto& titles = alert->buttonTitles();
        for (size_t i = 0; i < titles.size(); ++i) {
            if (titles[i] == *button) {
                alert->dismissWithClickedButtonIndex(static_cast<long>(i));
                return {};
            }
        }
        return failure("the dialog has no button " + *button);
    }
    return {};
}

platform::PSValue settingValue(const std::string& text) {
    if (text == "null" || text == "none") return std::nullopt;
    if (text == "true" || text == "false") return platform::Value(text == "true");
    return parseValue(text);
}

// Why a save of the page did not happen since the last ask ("" when every save wrote): the
// file and the reason, as the page saw them.
std::string takeSaveFailure(id page) { return page ? msgSend<std::string>(page, sel_registerName("takeSaveFailure")) : ""; }

}  // namespace

Interpreter::Interpreter(DeviceFolder device) : device_(std::move(device)) {}

std::vector<Interpreter::Entry> Interpreter::entries() const {
    std::vector<Entry> entries;
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& f : fs::directory_iterator(device_.preferenceLoaderEntries(), ec))
        if (f.path().extension() == ".plist") files.push_back(f.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        auto dict = platform::readDictionaryFile(f.string());
        const platform::Value* e = dict ? platform::lookup(*dict, "entry") : nullptr;
        if (!e || !e->dictionary()) continue;
        auto text = [&](const char* key) {
            const platform::Value* v = platform::lookup(*e->dictionary(), key);
            return v && v->string() ? *v->string() : std::string();
        };
        entries.push_back({text("label"), text("bundle"), text("detail")});
    }
    return entries;
}

bool Interpreter::loadBundle() {
    if (bundleLoaded_) return true;
    for (const auto& e : entries()) {
        if (e.bundle.empty()) continue;
        // Only an executable install recorded; by its path, as the bundle finds its resources beside it.
        std::string relative = "Library/PreferenceBundles/" + e.bundle + ".bundle/" + e.bundle;
        if (auto loaded = loadInstalled(device_, relative, false); !loaded) {
            NSLog("Settings: %s did not load: %s", printable(relative).c_str(), printable(loaded.error().message).c_str());
            continue;
        }
        bundleLoaded_ = true;
    }
    return bundleLoaded_;
}

void Interpreter::leavePage() {
    if (page_) platform::leaveController(page_);
    page_ = nullptr;
    openPageName_.clear();
}

id Interpreter::openPage(const std::string& name) {
    if (page_ && openPageName_ == name) return page_;
    leavePage();
    if (!loadBundle()) return nullptr;
    page_ = vantrel::prefs::openPage(name);
    if (page_) openPageName_ = name;
    return page_;
}

Result<std::string> Interpreter::command(std::vector<std::string> w) {
    std::optional<std::string> text, button;
    bool json = false;
    std::vector<std::string> words;
    for (size_t i = 0; i < w.size(); ++i) {
        if (w[i] == "--json") json = true;
        else if (w[i] == "--text" && i + 1 < w.size()) text = w[++i];
        else if (w[i] == "--button" && i + 1 < w.size()) button = w[++i];
        else words.push_back(w[i]);
    }
    if (words.empty()) {
        return failure("expected [PAGE] show|set|press ...\n");
    }
    if (words[0] == "list") {
        std::string out;
        for (const auto& e : entries()) out += e.label + "  (bundle " + e.bundle + ", page " + e.detail + ")\n";
        return out;
    }
    if (words[0] == "leave") return leavePage(), std::string();
    if (words[0] == "suspend") {
        if (!page_) return std::string();
        takeSaveFailure(page_);
        platform::suspendController(page_);
        if (auto unsaved = takeSaveFailure(page_); !unsaved.empty()) return failure("not saved: " + unsaved + "\n");
        return std::string();
    }
    if (words[0] == "alerts") {
        return json ? jsonDump(alertsJson()) + "\n" : alertsText();
    }
    if (words[0] == "answer") {  // the dialog on screen, without touching the page
        takeSaveFailure(page_);
        if (auto answered = answerDialog(text, button); !answered) return failure(answered.error().message + "\n");
        if (auto unsaved = takeSaveFailure(page_); !unsaved.empty()) return failure("not saved: " + unsaved + "\n");
        return alertsText();
    }
    std::string pageName = "main";
    if (vantrel::prefs::pageClassName(words[0])) {
        pageName = words[0];
        words.erase(words.begin());
    }
    if (words.empty()) words.push_back("show");
    id page = openPage(pageName);
    if (!page) {
        return failure("the page " + pageName + " cannot be opened (is the bundle installed?)\n");
    }
    const std::string& verb = words[0];
    if (verb == "show") return show(page, pageName, json);
    takeSaveFailure(page);  // what failed before this command is not its failure
    if (verb == "set" && words.size() == 3) {
        platform::PSSpecifier* s = platform::specifierForKey(page, words[1]);
        if (!s) return failure("the page " + pageName + " has no setting " + words[1] + "\n");
        platform::setControllerValue(page, s, settingValue(words[2]));
    } else if (verb == "press" && words.size() == 2) {
        std::string action = words[1];
        platform::PSSpecifier* s = platform::specifierForAction(page, action);
        if (!s && action.back() != ':') s = platform::specifierForAction(page, action + ":");
        if (!s) {
            for (const auto& r : platform::controllerRows(page))
                if (r.label == action && !r.action.empty()) s = r.specifier;
        }
        if (!s) return failure("the page " + pageName + " has no button " + action + "\n");
        if (!platform::performAction(page, s)) return failure("the button " + action + " does nothing here\n");
    } else {
        return failure("expected [PAGE] show [--json] | set KEY VALUE | press ACTION [--text T] [--button TITLE]\n");
    }
    if (auto answered = answerDialog(text, button); !answered)
        return failure(answered.error().message + "\n" + alertsText());
    // Exit 0 only for a change that is in the file: anything else the user must hear of.
    if (auto unsaved = takeSaveFailure(page); !unsaved.empty()) return failure("not saved: " + unsaved + "\n" + alertsText());
    return json ? jsonDump(alertsJson()) + "\n" : alertsText();
}

std::vector<std::string> splitWords(const std::string& line) {
    // Words separated by blanks; "double quotes" keep blanks inside one word.
    std::vector<std::string> words;
    std::string cur;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) words.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any) words.push_back(cur);
    return words;
}

}  // namespace vantrel::sim
