#include "sim/springboard/commands.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/activator/activator.h"
#include "platform/device/device_state.h"
#include "platform/foundation/error_text.h"
#include "platform/foundation/log.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "platform/foundation/runloop.h"
#include "sim/common/hardware_keys.h"
#include "sim/common/safety.h"

namespace vantrel::sim {
namespace {

constexpr char kStatusBarTapEvent[] = "libactivator.statusbar.tap.single";

}  // namespace

Result<void> tapStatusBar() {
    if (!platform::LAActivator::sharedInstance().sendEvent(kStatusBarTapEvent))
        return failure("no listener takes the status bar tap", kErrorNotAllowed);
    return {};
}

Result<void> answerAlert(uint64_t id, const std::string& button) {
    auto alert = platform::visibleAlert(id);
    if (!alert) return failure("no alert " + std::to_string(id) + " is shown", kErrorNoSuchAlert);
    const auto& titles = alert->buttonTitles();
    long index = -1;
    for (size_t i = 0; i < titles.size(); ++i)
        if (titles[i] == button) index = static_cast<long>(i);
    if (index < 0) {
        char* end = nullptr;
        long n = std::strtol(button.c_str(), &end, 10);
        if (end && *end == '\0' && !button.empty() && n >= 0 && n < static_cast<long>(titles.size())) index = n;
    }
    if (index < 0) {
        std::string known;
        for (const auto& t : titles) known += (known.empty() ? "" : ", ") + t;
        return failure("alert " + std::to_string(id) + " has no button " + button + " (its buttons: " + known + ")",
                       kErrorInvalidArgument);
    }
    alert->dismissWithClickedButtonIndex(index);
    return {};
}

Result<void> setHardware(const DeviceFolder& device, const platform::Dictionary& changes) {
    // The table the command line checks against: one bad key and the device is left as it was.
    auto& loop = platform::RunLoop::main();
    auto entries = hardwareEntries(changes, platform::deviceState(), loop.now() - loop.clockOffset());
    if (!entries) return entries.error();
    std::vector<std::string> ignored;
    platform::DeviceState trial = platform::deviceState();
    trial.apply(*entries, &ignored);
    if (!ignored.empty()) return failure("the device keeps no " + ignored.front() + ", nothing applied", kErrorInvalidArgument);
    // Kept first, shown after: a change the device could not keep is refused, not half made.
    auto stored = readDeviceStateForUpdate(device);
    if (!stored) return stored.error();
    for (const auto& [k, v] : *entries) (*stored)[k] = v;
    if (!writeDeviceState(device, *stored))
        return failure("cannot write " + device.devicePlist() + ": " + platform::errorText(errno) + "; nothing applied");
    platform::deviceState().apply(*entries);
    if (entries->contains("clockOffset")) platform::deviceClockChanged();
    // The clock may show a fact of the hardware (network name, addresses, memory, track):
    // SpringBoard resets its time formatter, and the tweak re-applies the clock mode.
    msgSend<void>(platform::statusBarAggregator(), sel_registerName("_resetTimeItemFormatter"));
    platform::updateAllItems();
    return {};
}

Result<std::string> getHardware(const std::vector<std::string>& keys) {
    auto& loop = platform::RunLoop::main();
    auto values = hardwareValues(keys, platform::deviceState(), loop.now() - loop.clockOffset());
    if (!values) return values.error();
    return jsonDump(*values);
}

Result<void> resetHardware(const DeviceFolder& device, const std::vector<std::string>& keys) {
    auto defaults = hardwareDefaults(keys);
    if (!defaults) return defaults.error();
    return setHardware(device, *defaults);
}

std::optional<platform::Value> readValue(sd_bus_message* m) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &type, &contents) <= 0) return std::nullopt;
    auto integer = [&](auto v) -> std::optional<platform::Value> {
        if (sd_bus_message_read_basic(m, type, &v) < 0) return std::nullopt;
        return platform::Value(static_cast<long long>(v));
    };
    switch (type) {
    case 'b': {
        int b = 0;
        if (sd_bus_message_read_basic(m, 'b', &b) < 0) return std::nullopt;
        return platform::Value(b != 0);
    }
    case 'y': return integer(uint8_t{});
    case 'n': return integer(int16_t{});
    case 'q': return integer(uint16_t{});
    case 'i': return integer(int32_t{});
    case 'u': return integer(uint32_t{});
    case 'x': return integer(int64_t{});
    case 't': return integer(uint64_t{});
    case 'd': {
        double d = 0;
        if (sd_bus_message_read_basic(m, 'd', &d) < 0) return std::nullopt;
        return platform::Value(d);
    }
    case 's': {
        const char* text = nullptr;
        if (sd_bus_message_read_basic(m, 's', &text) < 0 || !text) return std::nullopt;
        return platform::Value(std::string(text));
    }
    case 'v': {
        if (sd_bus_message_enter_container(m, 'v', contents) < 0) return std::nullopt;
        auto v = readValue(m);
        if (!v || sd_bus_message_exit_container(m) < 0) return std::nullopt;
        return v;
    }
    case 'a': {
        if (contents[0] == '{') break;  // device state keeps lists, never dictionaries
        if (sd_bus_message_enter_container(m, 'a', contents) < 0) return std::nullopt;
        platform::Array items;
        while (sd_bus_message_at_end(m, false) == 0) {
            auto v = readValue(m);
            if (!v) return std::nullopt;
            items.push_back(std::move(*v));
        }
        if (sd_bus_message_exit_container(m) < 0) return std::nullopt;
        return platform::Value(std::move(items));
    }
    default: break;
    }
    return std::nullopt;
}

}  // namespace vantrel::sim
