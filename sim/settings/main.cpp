// vantrel-settings: the simulated Settings application of a device folder. The root page lists
// the PreferenceLoader entries; opening Vantrel loads the bundle, whose pages are opened, read,
// changed, pressed, suspended and left through the Preferences framework as the Settings app
// does. One command per call (`[PAGE] show|set|press ...`), a session reading commands from
// standard input (a page stays open between commands on it, as while the user looks at it),
// or a prompt in a terminal. It joins the device bus; its shell's "killall SpringBoard" ends
// the device's recorded SpringBoard, which launchd starts again.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sdevent_runloop.h"
#include "platform/preferences/settings_app.h"
#include "platform/device/device_state.h"
#include "platform/system/shell.h"
#include "platform/uikit/alert.h"
#include "platform/uikit/application.h"
#include "prefs/pages.h"
#include "sim/device/device.h"
#include "sim/device/json.h"
#include "sim/device/safety.h"

namespace fs = std::filesystem;
using namespace vantrel::sim;

namespace {

struct Entry {
    std::string label, bundle, detail;
};

struct App {
    DeviceFolder device;
    platform::SdEventRunLoop loop;
    std::unique_ptr<platform::DBusNotificationCenter> center;
    bool bundleLoaded = false;
    std::string openPageName;
    id page = nullptr;
};

App* app = nullptr;

std::vector<Entry> preferenceLoaderEntries() {
    std::vector<Entry> entries;
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& f : fs::directory_iterator(app->device.preferenceLoaderEntries(), ec))
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

bool loadBundle() {
    if (app->bundleLoaded) return true;
    for (const auto& e : preferenceLoaderEntries()) {
        if (e.bundle.empty()) continue;
        // Only an executable install recorded; by its path, as the bundle finds its resources beside it.
        std::string relative = "Library/PreferenceBundles/" + e.bundle + ".bundle/" + e.bundle, error;
        if (!loadInstalled(app->device, relative, false, &error)) {
            NSLog("Settings: %s did not load: %s", printable(relative).c_str(), printable(error).c_str());
            continue;
        }
        app->bundleLoaded = true;
    }
    return app->bundleLoaded;
}

void leavePage() {
    if (app->page) platform::leaveController(app->page);
    app->page = nullptr;
    app->openPageName.clear();
}

id openPage(const std::string& name) {
    if (app->page && app->openPageName == name) return app->page;
    leavePage();
    if (!loadBundle()) return nullptr;
    app->page = vantrel::prefs::openPage(name);
    if (app->page) app->openPageName = name;
    return app->page;
}

std::string valueText(const platform::PSValue& v) {
    if (!v) return "(none)";
    if (auto b = v->boolean()) return *b ? "true" : "false";
    if (auto i = v->integer()) return std::to_string(*i);
    if (auto d = v->real()) return std::to_string(*d);
    if (auto s = v->string()) return "\"" + *s + "\"";
    return "(value)";
}

Json alertsJson() {
    Json alerts = Json::list();
    for (const auto& a : platform::visibleAlerts()) {
        Json buttons = Json::list();
        for (const auto& b : a->buttonTitles()) buttons.add(b);
        Json fields = Json::list();
        for (size_t i = 0; auto* f = a->textFieldAtIndex(i); ++i) fields.add(f->text);
        alerts.add(Json::object()
                       .set("id", static_cast<long long>(a->alertId()))
                       .set("title", a->title())
                       .set("message", a->message())
                       .set("buttons", std::move(buttons))
                       .set("textFields", std::move(fields)));
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
        Json list = Json::list();
        for (const auto& r : rows) {
            Json titles = Json::list();
            for (const auto& t : r.validTitles) titles.add(t);
            Json values = Json::list();
            for (const auto& v : r.validValues) values.add(Json::from(v));
            list.add(Json::object()
                         .set("label", r.label)
                         .set("cell", r.cell)
                         .set("key", r.key)
                         .set("value", r.value ? Json::from(*r.value) : Json())
                         .set("action", r.action)
                         .set("detail", r.detail)
                         .set("validValues", std::move(values))
                         .set("validTitles", std::move(titles)));
        }
        return Json::object().set("page", name).set("rows", std::move(list)).set("alerts", alertsJson()).dump() + "\n";
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
                out += (i < r.validValues.size() ? Json::from(r.validValues[i]).dump() : "?") + ": " + r.validTitles[i];
            }
            out += "}";
        }
        out += "\n";
    }
    return out + alertsText();
}

// Fills the first visible alert's text field and presses one of its buttons, as the user would.
bool answerDialog(const std::optional<std::string>& text, const std::optional<std::string>& button, std::string& error) {
    if (!text && !button) return true;
    auto alerts = platform::visibleAlerts();
    if (alerts.empty()) {
        error = "no dialog is shown";
        return false;
    }
    auto alert = alerts.back();
    if (text) {
        if (auto* f = alert->textField()) f->text = *text;
        else {
            error = "the dialog has no text field";
            return false;
        }
    }
    if (button) {
        const auto& titles = alert->buttonTitles();
        for (size_t i = 0; i < titles.size(); ++i) {
            if (titles[i] == *button) {
                alert->dismissWithClickedButtonIndex(static_cast<long>(i));
                return true;
            }
        }
        error = "the dialog has no button " + *button;
        return false;
    }
    return true;
}

platform::PSValue settingValue(const std::string& text) {
    if (text == "null" || text == "none") return std::nullopt;
    if (text == "true" || text == "false") return platform::Value(text == "true");
    return parseValue(text);
}

// Why a save of the page did not happen since the last ask ("" when every save wrote): the
// file and the reason, as the page saw them.
std::string takeSaveFailure(id page) { return page ? msgSend<std::string>(page, sel_registerName("takeSaveFailure")) : ""; }

// One command: [PAGE] show [--json] | [PAGE] set KEY VALUE | [PAGE] press ACTION, with
// [--text T] [--button TITLE] answering the dialog it brings up. The output, and false on error.
bool command(std::vector<std::string> w, std::string& out) {
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
        out = "expected [PAGE] show|set|press ...\n";
        return false;
    }
    if (words[0] == "list") {
        for (const auto& e : preferenceLoaderEntries()) out += e.label + "  (bundle " + e.bundle + ", page " + e.detail + ")\n";
        return true;
    }
    if (words[0] == "leave") return leavePage(), true;
    if (words[0] == "suspend") {
        if (!app->page) return true;
        takeSaveFailure(app->page);
        platform::suspendController(app->page);
        if (auto failure = takeSaveFailure(app->page); !failure.empty()) return out = "not saved: " + failure + "\n", false;
        return true;
    }
    if (words[0] == "alerts") {
        out = json ? alertsJson().dump() + "\n" : alertsText();
        return true;
    }
    if (words[0] == "answer") {  // the dialog on screen, without touching the page
        std::string error;
        takeSaveFailure(app->page);
        if (!answerDialog(text, button, error)) return out = error + "\n", false;
        if (auto failure = takeSaveFailure(app->page); !failure.empty()) return out = "not saved: " + failure + "\n", false;
        out = alertsText();
        return true;
    }
    std::string pageName = "main";
    if (vantrel::prefs::pageClassName(words[0])) {
        pageName = words[0];
        words.erase(words.begin());
    }
    if (words.empty()) words.push_back("show");
    id page = openPage(pageName);
    if (!page) {
        out = "the page " + pageName + " cannot be opened (is the bundle installed?)\n";
        return false;
    }
    const std::string& verb = words[0];
    std::string error;
    if (verb == "show") {
        out = show(page, pageName, json);
        return true;
    }
    takeSaveFailure(page);  // what failed before this command is not its failure
    if (verb == "set" && words.size() == 3) {
        platform::PSSpecifier* s = platform::specifierForKey(page, words[1]);
        if (!s) return out = "the page " + pageName + " has no setting " + words[1] + "\n", false;
        platform::setControllerValue(page, s, settingValue(words[2]));
    } else if (verb == "press" && words.size() == 2) {
        std::string action = words[1];
        platform::PSSpecifier* s = platform::specifierForAction(page, action);
        if (!s && action.back() != ':') s = platform::specifierForAction(page, action + ":");
        if (!s) {
            for (const auto& r : platform::controllerRows(page))
                if (r.label == action && !r.action.empty()) s = r.specifier;
        }
        if (!s) return out = "the page " + pageName + " has no button " + action + "\n", false;
        if (!platform::performAction(page, s)) return out = "the button " + action + " does nothing here\n", false;
    } else {
        out = "expected [PAGE] show [--json] | set KEY VALUE | press ACTION [--text T] [--button TITLE]\n";
        return false;
    }
    if (!answerDialog(text, button, error)) return out = error + "\n" + alertsText(), false;
    // Exit 0 only for a change that is in the file: anything else the user must hear of.
    if (auto failure = takeSaveFailure(page); !failure.empty()) return out = "not saved: " + failure + "\n" + alertsText(), false;
    out = json ? alertsJson().dump() + "\n" : alertsText();
    return true;
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

// A session: one command per line; each answer ends with a line holding "ok" or "error".
void runSession(bool prompt) {
    // A line longer than this is read on in chunks and thrown away up to its newline; the
    // session answers "error" for it, so a peer without newlines cannot grow the host.
    constexpr size_t kMaxLine = 64 * 1024;
    auto buffer = std::make_shared<std::string>();
    auto discarding = std::make_shared<bool>(false);
    auto promptNow = [prompt] {
        if (!prompt) return;
        std::fputs("settings> ", stdout);
        std::fflush(stdout);
    };
    if (prompt) {
        std::string out;
        command({"list"}, out);
        std::cout << "Settings\n" << out
                  << "commands: [main|icontester|datafaker] show | set KEY VALUE | press ACTION [--text T] "
                     "[--button TITLE]; answer --button TITLE; suspend; leave; quit\n";
    }
    promptNow();
    app->loop.watchInput(STDIN_FILENO, [buffer, discarding, prompt, promptNow] {
        char chunk[4096];
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            app->loop.exit(0);
            return;
        }
        buffer->append(chunk, static_cast<size_t>(n));
        size_t nl;
        while ((nl = buffer->find('\n')) != std::string::npos) {
            std::string line = buffer->substr(0, nl);
            buffer->erase(0, nl + 1);
            if (*discarding || line.size() > kMaxLine) {
                *discarding = false;
                std::cout << "the line is longer than " << kMaxLine << " bytes\nerror\n";
                std::cout.flush();
                continue;
            }
            auto words = splitWords(line);
            if (words.empty()) continue;
            if (words[0] == "quit" || words[0] == "exit") {
                app->loop.exit(0);
                return;
            }
            std::string out;
            bool ok = command(words, out);
            std::cout << out << (ok ? "ok" : "error") << "\n";
            std::cout.flush();
        }
        if (buffer->size() > kMaxLine) {
            buffer->clear();
            *discarding = true;
        }
        promptNow();
    });
    app->loop.run();
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> folder;
    std::vector<std::string> words;
    bool session = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--device" && i + 1 < argc) folder = argv[++i];
        else if (a == "--session") session = true;
        else words.push_back(a);
    }
    App a;
    app = &a;
    a.device = deviceFolder(folder);
    if (std::string error; !checkDeviceFolder(a.device, &error)) {
        std::cerr << "vantrel-settings: " << error << "\n";
        return 1;
    }
    platform::setHomeDirectory(a.device.home());
    platform::setLogFile(a.device.log());
    // The Settings app runs on the same hardware: installed apps, Core Foundation version.
    platform::deviceState().apply(readDeviceState(a.device));
    platform::setLogToStderr(false);
    platform::RunLoop::setMain(&a.loop);
    a.loop.exitOnTerminationSignals();
    auto address = busAddress(a.device);
    if (!address) {
        std::cerr << "vantrel-settings: the device at " << a.device.root << " is not running (./vantrel device start)\n";
        return 1;
    }
    a.center = std::make_unique<platform::DBusNotificationCenter>(*address, a.loop);
    if (!a.center->isConnected()) {
        std::cerr << "vantrel-settings: the device bus cannot be joined\n";
        return 1;
    }
    platform::NotificationCenter::setDistributed(a.center.get());
    platform::registerPreferencesClasses();
    platform::setSpringBoardRestartHandler([] {
        if (!restartSpringBoard(app->device)) NSLog("Settings: no SpringBoard of this device to restart");
    });
    platform::UIApplication::sharedApplication().setOpenObserver(
        [](const std::string& url) { std::cout << "opened " << url << "\n"; });

    int code = 0;
    if (session || words.empty()) {
        runSession(words.empty() && !session && ::isatty(STDIN_FILENO));
    } else {
        std::string out;
        bool ok = command(words, out);
        (ok ? std::cout : std::cerr) << out;
        code = ok ? 0 : 1;
        // Leaving the page may raise an alert of its own (the icon tester's warning); a dialog
        // still open when the command ends is said, as nobody is left to answer it.
        leavePage();
        for (const auto& alert : platform::visibleAlerts()) {
            std::cout << "alert (not answered): " << alert->title();
            if (!alert->message().empty()) std::cout << " — " << alert->message();
            std::cout << "\n";
        }
        // Notifications posted by the page leave before we do.
        a.loop.runUntil([] { return false; }, 0.0);
    }
    leavePage();
    platform::NotificationCenter::setDistributed(nullptr);
    std::cout.flush();
    a.center.reset();
    std::fflush(nullptr);
    ::_exit(code);
}
