// What the page's actions do, apart from HTTP: device actions go to SpringBoard's typed
// interface (docs/dbus.md), Settings actions to the Settings app's session. Each takes the
// request's JSON body and gives a status code with a JSON body; a refusal of SpringBoard or of
// the Settings app is passed on in {"error": ...} and changes nothing. Any thread.
#pragma once

#include <mutex>
#include <string>

#include "sim/common/device.h"
#include "sim/common/json.h"
#include "sim/view/settings_session.h"

namespace vantrel::sim::view {

struct Reply {
    int status = 200;
    Json body = Json::object();
};

Reply errorReply(int status, const std::string& message);

// POST /api/device/{tap,lock,nc,alert,hardware}; `action` is the last part of the path.
Reply deviceAction(const DeviceFolder& device, const std::string& action, const Json& body);
// GET /api/device/hardware: device.plist's keys as they are stored.
Reply deviceHardware(const DeviceFolder& device);
// GET /api/device/keys: the hardware key table `vantrel-device set` takes, as `keys --json`
// gives it, each key with its drawer group and the device's value now.
Reply deviceKeys(const DeviceFolder& device);

// The drawer's group of a hardware key: cellular, wifi, battery, audio or other.
const char* hardwareGroup(std::string_view key);

// The Settings app as the page sees it: the page it has open ("" for the root list).
class SettingsApp {
public:
    explicit SettingsApp(SettingsSession& session) : session_(session) {}
    // GET /api/settings: the root list or the open page.
    Reply current();
    // POST /api/settings/{open,set,press,answer,leave,suspend}.
    Reply action(const std::string& action, const Json& body);

private:
    Reply show(const std::string& page);
    Reply root();
    Reply refused(const Error& error);

    SettingsSession& session_;
    std::mutex mutex_;
    std::string page_;
    // The rows of page_ as last shown: what its controls can produce (values aside).
    Json rows_;
};

}  // namespace vantrel::sim::view
