#include "sim/settings/interpreter.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

#include <time.h>

#include "platform/foundation/file.h"
#include "platform/foundation/log.h"
#include "platform/preferences/settings_app.h"
#include "platform/uikit/alert.h"
#include "prefs/pages.h"
#include "shared/settings.h"
#include "platform/device/device_state.h"
#include "sim/common/date_pattern.h"
#include "sim/common/device.h"
#include "sim/common/safety.h"
#include "sim/settings/output.h"
#include "sim/settings/values.h"

namespace fs = std::filesystem;

namespace vantrel::sim {
namespace {

// Fills the newest visible alert's text field and presses one of its buttons, as the user would.
Result<void> answerDialog(const std::optional<std::string>& text, const std::optional<std::string>& button) {
    if (!text && !button) return {};
    auto alerts = platform::visibleAlerts();
    if (alerts.empty()) return failure("no dialog is shown");
    auto alert = alerts.back();
    if (text) {
        if (auto* f = alert->textField())
            f->text = *text;
        else
            return failure("the dialog " + alert->title() + " has no text field");
    }
    if (button) {
        const auto& titles = alert->buttonTitles();
        for (size_t i = 0; i < titles.size(); ++i) {
            if (titles[i] == *button) {
                alert->dismissWithClickedButtonIndex(static_cast<long>(i));
                return {};
            }
        }
        std::string known;
        for (const auto& t : titles) known += (known.empty() ? "" : ", ") + t;
        return failure("the dialog " + alert->title() + " has no button " + *button + " (its buttons: " + known + ")");
    }
    return {};
}

// The device's wall clock: the machine's plus the offset `device set clock=` keeps.
double deviceNow(const DeviceFolder& device) {
    platform::DeviceState state;
    state.apply(readDeviceState(device));
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9 + state.clockOffset;
}

bool textDialogOpen() {
    for (const auto& a : platform::visibleAlerts())
        if (a->textField()) return true;
    return false;
}

// Why a save of the page did not happen since the last ask ("" when every save wrote): the
// file and the reason, as the page saw them.
std::string takeSaveFailure(id page) { return page ? msgSend<std::string>(page, sel_registerName("takeSaveFailure")) : ""; }

// A save the user is told did not happen is dropped from the page: once a command said "not
// saved", no later save (leaving the page, another change) may write it behind their back.
std::string refusedSave(id page) {
    std::string unsaved = takeSaveFailure(page);
    if (!unsaved.empty()) msgSend<void>(page, sel_registerName("discardUnsavedChanges"));
    return unsaved;
}

PreferenceFile fileOf(const std::string& page) { return fileNamed(page).value_or(PreferenceFile::Main); }

}  // namespace

Interpreter::Interpreter(DeviceFolder device, bool dialogsWait) : device_(std::move(device)), dialogsWait_(dialogsWait) {}

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

Result<id> Interpreter::page(const std::string& name) {
    id p = openPage(name);
    if (!p) return failure("the page " + name + " cannot be opened (is the bundle installed?)");
    takeSaveFailure(p);  // what failed before this command is not its failure
    return p;
}

Result<void> Interpreter::press(id page, const std::string& name, const std::string& action) {
    platform::PSSpecifier* s = platform::specifierForAction(page, action);
    if (!s && !action.empty() && action.back() != ':') s = platform::specifierForAction(page, action + ":");
    std::vector<std::string> known;
    for (const auto& r : platform::controllerRows(page)) {
        if (r.action.empty()) continue;
        if (!s && r.label == action) s = r.specifier;
        known.push_back(r.action.back() == ':' ? r.action.substr(0, r.action.size() - 1) : r.action);
    }
    if (!s) {
        std::string said = "the page " + name + " has no button " + action;
        if (auto close = nearest(action, known)) said += " (did you mean " + *close + "?)";
        std::string all;
        for (const auto& k : known) all += (all.empty() ? "" : ", ") + k;
        return failure(said + (all.empty() ? "" : "; its buttons: " + all));
    }
    if (!platform::performAction(page, s)) return failure("the button " + action + " does nothing here");
    return {};
}

Result<void> Interpreter::typeInDialog(id page, const std::string& name, const KeySchema& row, const std::string& text) {
    TRY(press(page, name, row.dialog));
    // A refusal (a warning while the clock text animates) has no text field to type in.
    if (!textDialogOpen()) return failure(std::string(row.key) + " cannot be changed now:\n" + alertsText());
    return answerDialog(text, "Save");
}

Result<void> Interpreter::setKey(id page, const std::string& name, const KeySchema& row, const platform::PSValue& value,
                                 const SettingsCommand& c) {
    if (row.control == Control::TextDialog) {
        TRY(typeInDialog(page, name, row, value && value->string() ? *value->string() : std::string()));
    } else {
        platform::PSSpecifier* s = platform::specifierForKey(page, row.key);
        if (!s) return failure("the page " + name + " has no control for " + row.key);
        platform::setControllerValue(page, s, value);
    }
    // The change may bring up a dialog of its own (the respring prompt).
    if (auto answered = answerDialog(c.text, c.button); !answered) return failure(answered.error().message + "\n" + alertsText());
    return {};
}

Result<CheckedChange> checkChange(const SettingsCommand& c) {
    const std::string name = c.page.empty() ? "main" : c.page;
    const PreferenceFile file = fileOf(name);
    CheckedChange checked;
    if (c.verb == "get") TRY(settingKey(file, c.args.at(0)));
    if (c.verb == "set" || c.verb == "reset") {
        const KeySchema* row = TRY(settingKey(file, c.args.at(0)));
        if (row->control == Control::None)
            return failure(std::string(row->key) + " is not set from the page " + name + ": no control of it changes the key");
        checked.row = row;
        if (c.verb == "set")
            checked.value = TRY(controlValue(*row, c.args.at(1)));
        else if (auto def = defaultValue(*row); row->negate)
            checked.value = platform::Value(!boolValue(def ? &*def : nullptr));
        // A negated switch stores a null value as true, so its reset sets it back to its default instead.
    }
    if (c.text) TRY(checkText(*c.text));
    return checked;
}

Result<std::string> Interpreter::command(const SettingsCommand& c) {
    const std::string& verb = c.verb;
    const std::string name = c.page.empty() ? "main" : c.page;
    const PreferenceFile file = fileOf(name);
    if (verb == "keys") return keyTable(c.page.empty() ? std::nullopt : fileNamed(c.page), c.json);
    if (verb == "list") {
        std::string out;
        for (const auto& e : entries()) out += e.label + "  (bundle " + e.bundle + ", page " + e.detail + ")\n";
        return out;
    }
    if (verb == "leave") return leavePage(), std::string();
    if (verb == "suspend") {
        if (!page_) return std::string();
        takeSaveFailure(page_);
        platform::suspendController(page_);
        if (auto unsaved = refusedSave(page_); !unsaved.empty()) return failure("not saved: " + unsaved + "\n");
        return std::string();
    }
    if (verb == "alerts") return c.json ? jsonDump(alertsJson()) + "\n" : alertsText();
    if (verb == "answer") {  // the dialog on screen, without touching the page
        if (platform::visibleAlerts().empty()) return failure("answer: no dialog is open\n");
        if (c.text) TRY(checkText(*c.text));
        takeSaveFailure(page_);
        if (auto answered = answerDialog(c.text, c.button); !answered) return failure(answered.error().message + "\n");
        if (auto unsaved = refusedSave(page_); !unsaved.empty()) return failure("not saved: " + unsaved + "\n");
        return alertsText();
    }
    if (verb == "get") {
        // The file as it is: reading it opens no page, so nothing is written.
        const KeySchema* row = TRY(settingKey(file, c.args.at(0)));
        auto prefs = readPreferences(file);
        const platform::Value* v = prefs ? platform::lookup(*prefs, row->key) : nullptr;
        if (row->key == std::string_view("timeText") && v && v->string())
            if (auto note = datePatternNote(*v->string(), deviceNow(device_))) warnings_ += "timeText: " + *note + "\n";
        return storedValue(file, *row, v ? std::optional<platform::Value>(*v) : std::nullopt, c.json);
    }

    // Everything the page will be handed is checked before it opens.
    const CheckedChange checked = TRY(checkChange(c));
    const KeySchema* row = checked.row;
    const platform::PSValue& value = checked.value;

    id p = TRY(page(name));
    if (verb == "show")
        return showPage(name, file, platform::controllerRows(p), msgSend<platform::Dictionary>(p, sel_registerName("settings")),
                        c.json);
    if (verb == "set" || verb == "reset") {
        TRY(setKey(p, name, *row, value, c));
        // Kept as typed, but a clock text that formats as something else is said.
        if (verb == "set" && row->key == std::string_view("timeText") && value && value->string())
            if (auto note = datePatternNote(*value->string(), deviceNow(device_))) warnings_ += "timeText: " + *note + "\n";
    } else if (verb == "press") {
        TRY(press(p, name, c.args.at(0)));
        if (auto answered = answerDialog(c.text, c.button); !answered)
            return failure(answered.error().message + "\n" + alertsText());
        if (!c.button && !dialogsWait_ && textDialogOpen())
            return failure("the dialog is still open; nothing was saved (give --button TITLE)\n" + alertsText());
    } else {
        return failure("unknown command " + verb);
    }
    // Exit 0 only for a change that is in the file: anything else the user must hear of.
    if (auto unsaved = refusedSave(p); !unsaved.empty()) return failure("not saved: " + unsaved + "\n" + alertsText());
    if (c.json) return jsonDump(alertsJson()) + "\n";
    std::string done;
    if (!c.quiet && verb == "set") done = name + ": set " + row->key + " to " + displayable(c.args.at(1)) + "\n";
    if (!c.quiet && verb == "reset") done = name + ": reset " + row->key + "\n";
    return done + alertsText();
}

std::vector<std::string> splitWords(const std::string& line) {
    // Words separated by blanks; "double quotes" keep blanks inside one word; \" and \\ are a
    // quote and a backslash of the text, any other backslash is itself.
    std::vector<std::string> words;
    std::string cur;
    bool quoted = false, any = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
            cur += line[++i];
            any = true;
        } else if (c == '"') {
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
