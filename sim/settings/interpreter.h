// The Settings application's commands: the root page's PreferenceLoader entries, and the pages
// of the bundle they name, opened, shown, changed, pressed, suspended and left through the
// Preferences framework. A value is checked against the key table before any page opens, then
// handed to the page's own control path (so negate and codes stay the page's). One Interpreter
// per app, on the main thread; a page stays open between commands on it. Failures come back as
// text for whoever typed the command.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/preferences/preferences.h"
#include "platform/runtime/runtime.h"
#include "shared/schema.h"
#include "sim/common/device.h"
#include "sim/common/result.h"
#include "sim/settings/command_line.h"

namespace vantrel::sim {

class Interpreter {
public:
    struct Entry {
        std::string label, bundle, detail;
    };

    // dialogsWait: a text dialog left open by a command waits for the next one (a session);
    // otherwise such a command fails, as nobody is left to answer it.
    Interpreter(DeviceFolder device, bool dialogsWait);

    // One command (command_line.h). The output, or the error to show in its place.
    Result<std::string> command(const SettingsCommand& c);
    void leavePage();
    std::vector<Entry> entries() const;
    // What the last command warns of without failing (standard error's), then cleared.
    std::string takeWarnings() { return std::exchange(warnings_, std::string()); }

private:
    bool loadBundle();
    id openPage(const std::string& name);
    Result<id> page(const std::string& name);
    Result<void> setKey(id page, const std::string& name, const KeySchema& row, const platform::PSValue& value,
                        const SettingsCommand& c);
    Result<void> press(id page, const std::string& name, const std::string& action);
    Result<void> typeInDialog(id page, const std::string& name, const KeySchema& row, const std::string& text);

    DeviceFolder device_;
    bool dialogsWait_;
    bool bundleLoaded_ = false;
    std::string openPageName_;
    id page_ = nullptr;
    std::string warnings_;
};

// What a set or reset will hand the page, checked against the key table before any page opens
// (and before any device is needed): the key's row and the value; an error names what is valid.
struct CheckedChange {
    const KeySchema* row = nullptr;
    platform::PSValue value;
};
Result<CheckedChange> checkChange(const SettingsCommand& command);

// Words separated by blanks; "double quotes" keep blanks inside one word; \" and \\ stand for
// a quote and a backslash.
std::vector<std::string> splitWords(const std::string& line);

}  // namespace vantrel::sim
