// The one table of every key of the three preference files: its type, its default, the item
// code a settings page posts when it changes, the status bar item it belongs to, its valid
// values, the control its page changes it with (and whether that control is negated) and a
// line that says what it does. Defaults, item hide keys, icon tester keys, page
// codes and typed reads (shared/settings.h) all come from here. Constant data, any thread;
// a key that is not in a table looks up as nullptr, an item without a key as nullptr.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace vantrel {

enum class PreferenceFile { Main, DataFaker, IconTester };
inline constexpr std::array<PreferenceFile, 3> kPreferenceFiles = {PreferenceFile::Main, PreferenceFile::DataFaker,
                                                                   PreferenceFile::IconTester};
// The Settings pages that edit them, in the order the Settings app lists them; fileName gives
// each its name.
inline constexpr std::array<PreferenceFile, 3> kSettingsPages = {PreferenceFile::Main, PreferenceFile::IconTester,
                                                                 PreferenceFile::DataFaker};

// Item codes of "itemToggled" beyond the item indices 0 to 25.
namespace ItemCode {
inline constexpr int ClockMode = 26;
inline constexpr int EmergencyOnly = 27;
inline constexpr int Carrier = 29;
inline constexpr int Tethering = 40;
inline constexpr int AllItems = 99;
inline constexpr int IconTesterItem = 100;
inline constexpr int SyncIndicator = 126;
inline constexpr int DataFaker = 9991;
inline constexpr int TetheringFaker = 9992;
}  // namespace ItemCode

// How readers take a value (the reading rules of shared/settings.h). NumberAsInteger is a
// switch in the panel that readers take as an integer, so 2 is not the same as true.
enum class KeyType { Bool, Integer, NumberAsInteger, String, Any };

struct KeyDefault {
    enum class Kind { NotInDefaults, Bool, Integer, String };
    Kind kind = Kind::NotInDefaults;
    int64_t number = 0;
    const char* text = nullptr;
    bool absentReadsDefault = false;  // a text whose absence means this default, not "no text"
};

struct ValidValues {
    int64_t min = 0;
    int64_t max = -1;                     // no list when max < min
    std::span<const char* const> titles;  // one per value from min, or none
};

// The control a page changes a key with: a switch, a list of validValues, a text dialog its
// button opens, or none (a key no page row changes).
enum class Control { Switch, List, TextDialog, None };

struct KeySchema {
    int id;  // the key's enumerator (MainKey, DataFakerKey or IconTesterKey)
    const char* key;
    KeyType type;
    KeyDefault defaultValue;
    std::optional<int> code;  // posted by the file's page after a change; nullopt: nothing
    int item;                 // the status bar item it hides (main) or shows (icon tester); -1: none
    const char* description;
    ValidValues valid;
    Control control = Control::Switch;
    bool negate = false;                           // the switch shows the opposite of the stored value
    const char* dialog = nullptr;                  // the action opening a text dialog
    std::optional<int> dialogCode = std::nullopt;  // posted by that dialog's Save
};

// clang-format off
// Enumerators in table order; the item keys come first, so their value is their item index.
enum class MainKey {
    clock, donotdisturb, airplane, signalbars, carrierlogo, wifi, unknown1, battery, batterypercent1,
    batterypercent2, smallbattery1, bluetooth, tty, alarm, unknown2, unknown3, location, portraitlock,
    unknown4, airplay, assistant, vpn, callforwarding, activity, music, unknown5,
    clockformat, clock1224, timeandram, hideall, sos, ncstatus, carrierText, timeText, lockclock,
    nowplaying, samelockstatusbar, customcarrier, activatorenabled, ramtime, hideallls,
    animatedcustomtime, reverseString, hidetethering, intromessageshown, enabled,
};
enum class DataFakerKey { enablefaker, datatype, enabletethering };

// What "clockformat" makes the time item show, in the order the tap gesture cycles them.
enum class ClockMode : int64_t { Time, WifiAddress, DataAddress, NetworkName, FreeMemory, CustomText };
inline constexpr ClockMode kLastClockMode = ClockMode::CustomText;
enum class IconTesterKey {
    clock0, dnd1, airplane2, signal3, carrier4, wifi5, unknown6, battery7, batterypercent8,
    bluetoothbatterypercent9, bluetoothbattery10, bluetooth11, tty12, alarm13, unknown14, unknown15,
    location16, portrait17, unknown18, airplay19, siri20, vpn21, callforwarding22, activity23, unknow24,
    unknown25, enabletester, sync,
};
// clang-format on

namespace schema {
// The tables are laid out by hand, a row a key.
// clang-format off

constexpr KeyDefault off{KeyDefault::Kind::Bool, 0, nullptr, false};
constexpr KeyDefault on{KeyDefault::Kind::Bool, 1, nullptr, false};
constexpr KeyDefault none{};
constexpr std::nullopt_t noCode = std::nullopt;
constexpr int noItem = -1;
constexpr KeyDefault integer(int64_t n) { return {KeyDefault::Kind::Integer, n, nullptr, false}; }
enum class Absent { NoText, ReadsDefault };  // what a reader makes of a missing text
constexpr KeyDefault text(const char* s, Absent absent) {
    return {KeyDefault::Kind::String, 0, s, absent == Absent::ReadsDefault};
}

template <class K>
constexpr KeySchema row(K k, const char* key, KeyType type, KeyDefault def, std::optional<int> code,
                        int item, const char* description, ValidValues valid = {}) {
    return {static_cast<int>(k), key, type, def, code, item, description, valid,
            valid.max >= valid.min ? Control::List : Control::Switch};
}
// A switch that shows the opposite of what it stores.
constexpr KeySchema negated(KeySchema r) {
    r.negate = true;
    return r;
}
// A text typed in the dialog `action` opens; its Save posts `code`.
constexpr KeySchema typedIn(KeySchema r, const char* action, std::optional<int> code) {
    r.control = Control::TextDialog;
    r.dialog = action;
    r.dialogCode = code;
    return r;
}
// A key no control of the page changes.
constexpr KeySchema noControl(KeySchema r) {
    r.control = Control::None;
    return r;
}
// A hide key of the main file: a switch, off by default, posting its item's index.
constexpr KeySchema hides(MainKey k, const char* key, const char* description) {
    int item = static_cast<int>(k);
    return row(k, key, KeyType::Bool, off, item, item, description);
}
// An icon tester item key: a switch, not in the defaults, posting the one-item code.
constexpr KeySchema shows(IconTesterKey k, const char* key) {
    int item = static_cast<int>(k);
    return row(k, key, KeyType::Bool, none, ItemCode::IconTesterItem, item, "shows its item while the tester is on");
}

inline constexpr std::array<const char*, 6> kClockModeTitles = {
    "Time", "Wi-Fi IP Address", "Cellular IP Address", "Wi-Fi Network Name", "Free Memory", "Custom Text"};
inline constexpr std::array<const char*, 9> kDataTypeTitles = {
    "No Data", "GPRS", "EDGE", "3G", "4G", "1x", "LTE", "Wi-Fi", "Personal Hotspot"};

using enum MainKey;
using enum KeyType;
inline constexpr auto kMain = std::to_array<KeySchema>({
    hides(clock, "clock", "hides the time item"),
    hides(donotdisturb, "donotdisturb", "hides the Do Not Disturb item"),
    hides(airplane, "airplane", "hides the airplane mode item"),
    hides(signalbars, "signalbars", "hides the signal strength item"),
    hides(carrierlogo, "carrierlogo", "hides the carrier (service) item"),
    hides(wifi, "wifi", "hides the data network item"),
    hides(unknown1, "unknown1", "hides item 6"),
    hides(battery, "battery", "hides the battery item"),
    hides(batterypercent1, "batterypercent1", "hides the battery percentage item"),
    hides(batterypercent2, "batterypercent2", "hides the Bluetooth battery percentage item"),
    hides(smallbattery1, "smallbattery1", "hides the Bluetooth battery item"),
    hides(bluetooth, "bluetooth", "hides the Bluetooth item"),
    hides(tty, "tty", "hides the TTY item"),
    hides(alarm, "alarm", "hides the alarm item"),
    hides(unknown2, "unknown2", "hides item 14"),
    hides(unknown3, "unknown3", "hides item 15"),
    hides(location, "location", "hides the location item"),
    hides(portraitlock, "portraitlock", "hides the rotation lock item"),
    hides(unknown4, "unknown4", "hides item 18"),
    hides(airplay, "airplay", "hides the AirPlay item"),
    hides(assistant, "assistant", "hides the Siri item"),
    hides(vpn, "vpn", "hides the VPN item"),
    hides(callforwarding, "callforwarding", "hides the call forwarding item"),
    hides(activity, "activity", "hides the network activity item"),
    hides(music, "music", "hides the now-playing item"),
    hides(unknown5, "unknown5", "hides the sync indicator"),
    row(clockformat, "clockformat", Integer, integer(0), ItemCode::ClockMode, 26,
        "clock mode: what the time item shows", {0, static_cast<int64_t>(kLastClockMode), kClockModeTitles}),
    row(clock1224, "1224", NumberAsInteger, integer(0), ItemCode::ClockMode, noItem,
        "non-zero: 24-hour clock (HH:mm), else 12-hour (hh:mm a)"),
    row(timeandram, "timeandram", Bool, off, noCode, noItem, "kept for the panel; nothing reads it"),
    row(hideall, "hideall", Bool, off, ItemCode::AllItems, noItem, "hides every status bar item"),
    row(sos, "sos", Bool, off, ItemCode::EmergencyOnly, 27, "shows the emergency-only status"),
    negated(row(ncstatus, "ncstatus", Bool, off, noCode, noItem,
                "Notification Centre without its own status bar (after a respring)")),
    typedIn(row(carrierText, "carrierText", String, text("CustomText", Absent::NoText), noCode, noItem,
                "custom carrier text (its dialog posts 29); absent: no text"),
            "carrierText:", ItemCode::Carrier),
    typedIn(row(timeText, "timeText", String, text("'_Quennick_'", Absent::ReadsDefault), noCode, noItem,
                "custom time text: a date pattern, letters outside 'single quotes' are date fields (its dialog posts 26)"),
            "timeText:", ItemCode::ClockMode),
    row(lockclock, "lockclock", Bool, off, noCode, noItem, "shows the time in the lock screen status bar"),
    row(nowplaying, "nowplaying", Bool, off, ItemCode::ClockMode, noItem, "custom text mode shows the track now playing"),
    row(samelockstatusbar, "samelockstatusbar", Bool, off, noCode, noItem,
        "lock screen status bar in the home screen style"),
    row(customcarrier, "customcarrier", Bool, off, ItemCode::Carrier, 29, "shows the custom carrier text"),
    row(activatorenabled, "activatorenabled", Bool, on, noCode, noItem,
        "kept for the panel; the gesture works whatever its value"),
    row(ramtime, "ramtime", Bool, off, noCode, noItem, "free memory mode shows the time too"),
    row(hideallls, "hideallls", Bool, off, noCode, noItem, "hides every item while the lock screen is up"),
    row(animatedcustomtime, "animatedcustomtime", Bool, off, ItemCode::ClockMode, noItem,
        "custom text mode animates between the two texts"),
    typedIn(row(reverseString, "reverseString", String, text("'Vantrel'", Absent::ReadsDefault), noCode, noItem,
                "second text of the animation, a date-format pattern"),
            "reverseString:", std::nullopt),
    row(hidetethering, "hidetethering", Bool, off, ItemCode::Tethering, noItem, "hides the tethering indication"),
    noControl(row(intromessageshown, "intromessageshown", Bool, none, noCode, noItem,
                  "set once the first-run notice has been shown")),
    noControl(row(enabled, "enabled", Any, none, noCode, noItem, "stored by the main page's enabled/setEnabled: pair")),
});

using enum DataFakerKey;
inline constexpr auto kDataFaker = std::to_array<KeySchema>({
    row(enablefaker, "enablefaker", Bool, off, ItemCode::DataFaker, noItem, "reports the faked data network type"),
    row(datatype, "datatype", Integer, integer(6), ItemCode::DataFaker, noItem, "the data network type to report",
        {0, 8, kDataTypeTitles}),
    row(enabletethering, "enabletethering", Bool, none, ItemCode::TetheringFaker, noItem, "reports tethering"),
});

using enum IconTesterKey;
inline constexpr auto kIconTester = std::to_array<KeySchema>({
    shows(clock0, "clock0"), shows(dnd1, "dnd1"), shows(airplane2, "airplane2"), shows(signal3, "signal3"),
    shows(carrier4, "carrier4"), shows(wifi5, "wifi5"), shows(unknown6, "unknown6"), shows(battery7, "battery7"),
    shows(batterypercent8, "batterypercent8"), shows(bluetoothbatterypercent9, "bluetoothbatterypercent9"),
    shows(bluetoothbattery10, "bluetoothbattery10"), shows(bluetooth11, "bluetooth11"), shows(tty12, "tty12"),
    shows(alarm13, "alarm13"), shows(unknown14, "unknown14"), shows(unknown15, "unknown15"),
    shows(location16, "location16"), shows(portrait17, "portrait17"), shows(unknown18, "unknown18"),
    shows(airplay19, "airplay19"), shows(siri20, "siri20"), shows(vpn21, "vpn21"),
    shows(callforwarding22, "callforwarding22"), shows(activity23, "activity23"), shows(unknow24, "unknow24"),
    shows(unknown25, "unknown25"),
    row(enabletester, "enabletester", Bool, off, ItemCode::AllItems, noItem, "icon tester mode: shows only the picked items"),
    row(sync, "sync", Bool, none, ItemCode::SyncIndicator, noItem, "its change flips the sync indicator; never read"),
});

// Every row sits at its enumerator's place, so a key's row is found by index.
constexpr bool inEnumeratorOrder(std::span<const KeySchema> rows) {
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].id != static_cast<int>(i)) return false;
    return true;
}
static_assert(inEnumeratorOrder(kMain) && inEnumeratorOrder(kDataFaker) && inEnumeratorOrder(kIconTester));
static_assert(kMain.size() == static_cast<size_t>(MainKey::enabled) + 1);
static_assert(kIconTester.size() == static_cast<size_t>(IconTesterKey::sync) + 1);

// clang-format on
}  // namespace schema

constexpr std::span<const KeySchema> schemaRows(PreferenceFile file) {
    switch (file) {
    case PreferenceFile::DataFaker: return schema::kDataFaker;
    case PreferenceFile::IconTester: return schema::kIconTester;
    case PreferenceFile::Main: break;
    }
    return schema::kMain;
}

constexpr const KeySchema& keySchema(MainKey k) { return schema::kMain[static_cast<size_t>(k)]; }
constexpr const KeySchema& keySchema(DataFakerKey k) { return schema::kDataFaker[static_cast<size_t>(k)]; }
constexpr const KeySchema& keySchema(IconTesterKey k) { return schema::kIconTester[static_cast<size_t>(k)]; }
template <class K>
constexpr const char* keyName(K k) {
    return keySchema(k).key;
}

// The key of `file` that belongs to status bar item `item`; nullptr when there is none.
constexpr const char* keyOfItem(PreferenceFile file, int item) {
    for (const KeySchema& row : schemaRows(file))
        if (row.item == item) return row.key;
    return nullptr;
}
constexpr const char* hideKeyOfItem(int item) { return keyOfItem(PreferenceFile::Main, item); }
constexpr const char* iconTesterKeyOfItem(int item) { return keyOfItem(PreferenceFile::IconTester, item); }

// The hide keys of status bar items 0 to 25, in item order.
inline constexpr std::array<const char*, 26> kItemHideKeys = [] {
    std::array<const char*, 26> keys{};
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = hideKeyOfItem(static_cast<int>(i));
    return keys;
}();
static_assert(std::ranges::all_of(kItemHideKeys, [](const char* key) { return key != nullptr; }));

// The row of `key` in `file` (exact, case-sensitive); nullptr when the file has no such key.
const KeySchema* findKey(PreferenceFile file, std::string_view key);
// The code the file's page posts after storing `key`: the key's own code, or for a key the
// table does not know, the icon tester's one-item code (any other key is an item switch).
std::optional<int> itemCodeForKey(PreferenceFile file, std::string_view key);
// The value a row puts in the file's defaults; nullopt for a key that is not in them.
std::optional<platform::Value> defaultValue(const KeySchema& row);
// "bool", "integer", "number read as integer", "string", "any".
const char* typeName(KeyType type);
// "main", "datafaker", "icontester": the names the pages and the command line use.
const char* fileName(PreferenceFile file);
// The file of a page name fileName gives; nullopt for any other name.
std::optional<PreferenceFile> fileNamed(std::string_view name);
// The names of kSettingsPages, in order.
std::vector<std::string> settingsPageNames();
// "switch", "list", "text dialog", "none".
const char* controlName(Control control);
// The code the page posts after the user changed `row` with its control: the text dialog's
// code for a text, else the key's own (itemCodeForKey).
std::optional<int> postedCode(PreferenceFile file, const KeySchema& row);

}  // namespace vantrel
