// The Settings application's commands: the root page's PreferenceLoader entries, and the pages
// of the bundle they name, opened, shown, changed, pressed, suspended and left through the
// Preferences framework. One Interpreter per app, on the main thread; a page stays open between
// commands on it. Failures come back as text for whoever typed the command.
#pragma once

#include <string>
#include <vector>

#include "platform/runtime/runtime.h"
#include "sim/device/device.h"
#include "sim/device/result.h"

namespace vantrel::sim {

class Interpreter {
public:
    struct Entry {
        std::string label, bundle, detail;
    };

    explicit Interpreter(DeviceFolder device);

    // One command: [PAGE] show [--json] | [PAGE] set KEY VALUE | [PAGE] press ACTION, with
    // [--text T] [--button TITLE] answering the dialog it brings up; list, leave, suspend,
    // alerts, answer. The output, or the error to show in its place.
    Result<std::string> command(std::vector<std::string> words);
    void leavePage();
    std::vector<Entry> entries() const;

private:
    bool loadBundle();
    id openPage(const std::string& name);

    DeviceFolder device_;
    bool bundleLoaded_ = false;
    std::string openPageName_;
    id page_ = nullptr;
};

// Words separated by blanks; "double quotes" keep blanks inside one word.
std::vector<std::string> splitWords(const std::string& line);

}  // namespace vantrel::sim
