#include "sim/view/api.h"

#include <ctime>
#include <regex>
#include <sstream>

#include <systemd/sd-bus.h>

#include "prefs/pages.h"
#include "sim/common/hardware_keys.h"

namespace vantrel::sim::view {
namespace {

// SpringBoard's refusals by name; no name means it could not be reached.
Reply controlFailure(const Error& e) {
    if (e.name == kErrorNotAllowed) return errorReply(409, e.message);
    if (e.name == kErrorInvalidArgument || e.name == kErrorNoSuchAlert) return errorReply(422, e.message);
    return errorReply(503, e.message);
}

Reply controlled(const Result<std::string>& r) { return r ? Reply{} : controlFailure(r.error()); }

std::optional<bool> boolean(const Json& body, const char* key) {
    if (!body.contains(key) || !body[key].is_boolean()) return std::nullopt;
    return body[key].get<bool>();
}

// A JSON value as SetHardware takes it: null is absent (false), lists of plain values.
std::optional<platform::Value> hardwareValue(const Json& v) {
    if (v.is_null()) return platform::Value(false);
    if (v.is_boolean()) return platform::Value(v.get<bool>());
    if (v.is_number_integer()) return platform::Value(v.get<long long>());
    if (v.is_number_float()) return platform::Value(v.get<double>());
    if (v.is_string()) return platform::Value(v.get<std::string>());
    if (v.is_array()) {
        platform::Array items;
        for (const auto& item : v) {
            auto value = hardwareValue(item);
            if (!value || item.is_array() || item.is_null()) return std::nullopt;
            items.push_back(std::move(*value));
        }
        return platform::Value(std::move(items));
    }
    return std::nullopt;
}

double machineNow() {
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Each refused change with its own reason, by the same checks as the whole, so that the page
// can show it beside its field.
Json refusedFields(const platform::Dictionary& changes) {
    Json fields = Json::object();
    for (const auto& [key, value] : changes)
        if (auto one = hardwareEntries({{key, value}}, platform::DeviceState{}, machineNow()); !one)
            fields[key] = one.error().message;
    return fields;
}

Reply setHardware(const DeviceFolder& device, const Json& body) {
    if (!body.contains("changes") || !body["changes"].is_object() || body["changes"].empty())
        return errorReply(400, "expected {\"changes\": {KEY: VALUE, ...}}");
    platform::Dictionary changes;
    for (const auto& [key, value] : body["changes"].items()) {
        auto v = hardwareValue(value);
        if (!v) return errorReply(400, "the value of " + key + " is not a boolean, number, text or list");
        changes[key] = std::move(*v);
    }
    Reply reply = controlled(control(
        device, "SetHardware", [&](sd_bus_message* m) { return appendHardwareChanges(m, changes); }, kControlTimeout));
    if (reply.status == 422) reply.body["fields"] = refusedFields(changes);
    return reply;
}

}  // namespace

Reply errorReply(int status, const std::string& message) { return {status, Json{{"error", message}}}; }

Reply deviceAction(const DeviceFolder& device, const std::string& action, const Json& body) {
    if (action == "tap") return controlled(control(device, "Tap", nullptr, kControlTimeout));
    if (action == "lock") {
        auto locked = boolean(body, "locked");
        if (!locked) return errorReply(400, "expected {\"locked\": true|false}");
        return controlled(control(device, *locked ? "Lock" : "Unlock", nullptr, kControlTimeout));
    }
    if (action == "nc") {
        auto open = boolean(body, "open");
        if (!open) return errorReply(400, "expected {\"open\": true|false}");
        return controlled(
            control(device, *open ? "OpenNotificationCenter" : "CloseNotificationCenter", nullptr, kControlTimeout));
    }
    if (action == "alert") {
        if (!body.contains("id") || !body["id"].is_number_unsigned() || !body.contains("button") || !body["button"].is_string())
            return errorReply(400, "expected {\"id\": N, \"button\": TITLE}");
        auto id = body["id"].get<uint64_t>();
        auto button = body["button"].get<std::string>();
        return controlled(control(
            device, "AnswerAlert", [&](sd_bus_message* m) { return sd_bus_message_append(m, "ts", id, button.c_str()); },
            kControlTimeout));
    }
    if (action == "hardware") return setHardware(device, body);
    return errorReply(404, "no such action: " + action);
}

Reply deviceHardware(const DeviceFolder& device) {
    Json values = Json::object();
    for (const auto& [key, value] : readDeviceState(device)) values[key] = jsonFrom(value);
    return {200, Json{{"hardware", std::move(values)}}};
}

const char* hardwareGroup(std::string_view key) {
    static const std::pair<std::string_view, const char*> kGroups[] = {
        {"carrier", "cellular"},
        {"simInserted", "cellular"},
        {"emergencyOnly", "cellular"},
        {"signalBars", "cellular"},
        {"cellularDataType", "cellular"},
        {"airplaneMode", "cellular"},
        {"cellularAddress", "cellular"},
        {"tethering", "cellular"},
        {"tetheredDevices", "cellular"},
        {"wifiNetwork", "wifi"},
        {"wifiBars", "wifi"},
        {"wifiAddress", "wifi"},
        {"wifiAddress6", "wifi"},
        {"batteryLevel", "battery"},
        {"charging", "battery"},
        {"bluetooth", "audio"},
        {"bluetoothBatteryLevel", "audio"},
        {"airplay", "audio"},
        {"mediaPlaying", "audio"},
        {"nowPlayingArtist", "audio"},
        {"nowPlayingTitle", "audio"},
    };
    for (const auto& [name, group] : kGroups)
        if (name == key) return group;
    return "other";  // a key added to the table still shows
}

Reply deviceKeys(const DeviceFolder& device) {
    // What the device starts with or runs on: SpringBoard keeps device.plist current.
    platform::DeviceState state;
    state.apply(readDeviceState(device));
    const double now = machineNow();
    Json list = Json::array();
    for (const auto& k : hardwareKeys()) {
        Json row = hardwareKeyJson(k);
        row["group"] = hardwareGroup(k.name);
        row["value"] = sim::hardwareValue(k, state, now);
        list.push_back(std::move(row));
    }
    return {200, Json{{"keys", std::move(list)}}};
}

Reply SettingsApp::refused(const Error& e) {
    if (e.name == kSettingsUnavailable) return errorReply(503, e.message);
    Reply r = errorReply(e.name == kSettingsBadText ? 400 : 422, e.message);
    // What the app shows after the refusal (its alerts, say) comes along.
    if (!page_.empty())
        if (auto page = session_.command({page_, "show", "--json"})) r.body["settings"] = Json::parse(*page, nullptr, false);
    return r;
}

Reply SettingsApp::root() {
    auto list = session_.command({"list"});
    if (!list) return refused(list.error());
    // "LABEL  (bundle B, page P)": the PreferenceLoader entries.
    static const std::regex entry(R"(^(.*)  \(bundle (.*), page (.*)\)$)");
    Json entries = Json::array();
    std::istringstream lines(*list);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, entry)) continue;
        std::string page;
        for (const auto& p : settingsPageNames())
            if (m[3].str() == prefs::pageClassName(p)) page = p;
        entries.push_back({{"label", m[1].str()}, {"bundle", m[2].str()}, {"page", page}});
    }
    return {200, Json{{"page", ""}, {"entries", std::move(entries)}, {"rows", Json::array()}, {"alerts", Json::array()}}};
}

Reply SettingsApp::show(const std::string& page) {
    if (page.empty()) return root();
    auto shown = session_.command({page, "show", "--json"});
    if (!shown) return refused(shown.error());
    Json body = Json::parse(*shown, nullptr, false);
    if (!body.is_object()) return errorReply(502, "the Settings app's page is not JSON");
    rows_ = body.contains("rows") ? body["rows"] : Json::array();
    return {200, std::move(body)};
}

Reply SettingsApp::current() {
    std::lock_guard lock(mutex_);
    return show(page_);
}

Reply SettingsApp::action(const std::string& action, const Json& body) {
    std::lock_guard lock(mutex_);
    auto text = [&](const char* key) -> std::optional<std::string> {
        if (!body.contains(key) || !body[key].is_string()) return std::nullopt;
        return body[key].get<std::string>();
    };
    if (action == "open") {
        rows_ = Json();
        // By name, or by the page class a link row names.
        auto page = text("page");
        if (auto detail = text("detail"))
            for (const auto& p : settingsPageNames())
                if (*detail == prefs::pageClassName(p)) page = p;
        if (!page || !prefs::pageClassName(*page))
            return errorReply(422, "no such page; the pages are main, icontester, datafaker");
        page_ = *page;
        return show(page_);
    }
    if (action == "leave") {
        rows_ = Json();
        if (auto left = session_.command({"leave"}); !left) return refused(left.error());
        page_ = page_.empty() || page_ == "main" ? "" : "main";
        return show(page_);
    }
    if (action == "suspend") {
        if (auto done = session_.command({"suspend"}); !done) return refused(done.error());
        return show(page_);
    }
    if (action == "answer") {
        auto button = text("button");
        if (!button) return errorReply(400, "expected {\"button\": TITLE[, \"text\": T]}");
        std::vector<std::string> words = {"answer", "--button", *button};
        if (body.contains("text")) {
            auto t = text("text");
            if (!t) return errorReply(400, "text must be a string");
            words.insert(words.end(), {"--text", *t});
        }
        if (auto done = session_.command(words); !done) return refused(done.error());
        return show(page_);
    }
    if (page_.empty()) return errorReply(409, "no page is open");
    // set and press: only what a control of the open page can produce. The page's rows are
    // those last shown (every answer shows the page), read again only when there are none.
    if (!rows_.is_array() || rows_.empty()) {
        Reply page = show(page_);
        if (page.status != 200) return page;
    }
    const Json rows = rows_;
    if (action == "set") {
        auto key = text("key");
        if (!key || !body.contains("value")) return errorReply(400, "expected {\"key\": KEY, \"value\": VALUE}");
        const Json& value = body["value"];
        const Json* row = nullptr;
        for (const auto& r : rows)
            if (r.value("key", "") == *key) row = &r;
        if (!row) return errorReply(422, "the page " + page_ + " has no setting " + *key);
        std::string cell = row->value("cell", "");
        std::string word;
        if (cell == "PSSwitchCell" && value.is_boolean()) {
            word = value.get<bool>() ? "true" : "false";
        } else if (row->contains("validValues") && !(*row)["validValues"].empty()) {
            for (const auto& v : (*row)["validValues"])
                if (v == value) word = value.is_string() ? value.get<std::string>() : value.dump();
            if (word.empty()) return errorReply(422, "the control of " + *key + " does not offer " + value.dump());
        } else {
            return errorReply(422, "the control of " + *key + " does not take " + value.dump());
        }
        if (auto done = session_.command({page_, "set", *key, word, "--json"}); !done) return refused(done.error());
        return show(page_);
    }
    if (action == "press") {
        auto name = text("action");
        bool found = false;
        for (const auto& r : rows)
            if (name && !name->empty() && r.value("action", "") == *name) found = true;
        if (!found) return errorReply(422, "the page " + page_ + " has no button " + (name ? *name : std::string("(none)")));
        if (auto done = session_.command({page_, "press", *name, "--json"}); !done) return refused(done.error());
        return show(page_);
    }
    return errorReply(404, "no such action: " + action);
}

}  // namespace vantrel::sim::view
