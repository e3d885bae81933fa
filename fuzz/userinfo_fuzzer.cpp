// The settings-change dispatcher's reading of userInfo, on both transports. The first byte picks
// how the rest becomes a notification:
//   0: no userInfo;  1: {"itemToggled": <the rest read as a property list, or as text>};
//   2: the rest read as a property list, as the whole userInfo;
//   3: a D-Bus signal whose userInfo is built from the rest as any signature (wrong shapes,
//      nested containers, every basic type), read by the D-Bus decoder.
// For 0-2 the dictionary goes through the in-process centre and through an a{sv} encode and
// decode. Whatever arrives, the dispatcher must either act on a code or show "Toggle Error" -
// exactly when the value under "itemToggled" is no 32-bit integer - and never crash.
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/runloop.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "tweak/core/dispatcher.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"

using platform::Dictionary;
using platform::Value;

namespace {

platform::ManualRunLoop* loop;
platform::InProcessNotificationCenter* center;
sd_bus* bus;  // started on one end of a socket pair: enough to build and read messages

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "userInfo fuzzer: %s\n", what);
    std::abort();
}

size_t toggleErrors() {
    size_t n = 0;
    for (const auto& a : platform::visibleAlerts())
        if (a->title() == "Toggle Error") ++n;
    return n;
}

// The dispatcher's verdict for one userInfo: true when it showed the error alert.
bool dispatch(const Dictionary* userInfo) {
    platform::clearAlerts();
    vantrel::tweak::settingsChanged(center, nullptr, vantrel::kSettingsChangedNotification, nullptr, userInfo);
    loop->runPending();
    // Animations and clock refreshes may be armed by a code; let a little simulated time pass so
    // their timers run too, then stop them by resetting the state for the next input.
    loop->advance(0.5);
    bool shown = toggleErrors() > 0;
    vantrel::tweak::resetState();
    return shown;
}

std::optional<int32_t> expectedCode(const Dictionary* userInfo) {
    return userInfo ? platform::readInt32(platform::lookup(*userInfo, vantrel::kItemToggledKey)) : std::nullopt;
}

void check(const Dictionary* userInfo, bool errorShown) {
    if (errorShown == expectedCode(userInfo).has_value()) fail("alert shown for a readable code, or none for an unreadable one");
}

sd_bus_message* newSignal() {
    sd_bus_message* m = nullptr;
    if (sd_bus_message_new_signal(bus, &m, platform::kNotificationObjectPath, platform::kNotificationInterface,
                                  platform::kNotificationMember) < 0)
        fail("no message");
    return m;
}

// Reads a sealed message as the D-Bus centre does and hands what it decodes to the dispatcher.
void receive(sd_bus_message* m, const std::optional<int32_t>* mustRead) {
    if (sd_bus_message_seal(m, 1, 0) < 0 || sd_bus_message_rewind(m, 1) < 0) fail("message not sealed");
    const char* name = nullptr;
    int hasUserInfo = 0;
    Dictionary info;
    if (sd_bus_message_read(m, "sb", &name, &hasUserInfo) < 0 || !platform::readUserInfo(m, info)) {
        if (mustRead) fail("an a{sv} we encoded did not decode");
        return;  // dropped as malformed, as the centre does
    }
    const Dictionary* userInfo = hasUserInfo ? &info : nullptr;
    if (mustRead && expectedCode(userInfo) != *mustRead) fail("the code changed on the way through D-Bus");
    check(userInfo, dispatch(userInfo));
}

// Appends one value of a signature chosen by the next byte; containers recurse a little.
void appendAny(sd_bus_message* m, std::span<const uint8_t>& in, int depth) {
    auto next = [&]() -> uint8_t {
        if (in.empty()) return 0;
        uint8_t b = in[0];
        in = in.subspan(1);
        return b;
    };
    uint8_t kind = next() % (depth < 3 ? 15 : 11);
    uint32_t raw = next() | (next() << 8) | (uint32_t{next()} << 16) | (uint32_t{next()} << 24);
    switch (kind) {
    case 0: sd_bus_message_append(m, "v", "b", static_cast<int>(raw & 1)); break;
    case 1: sd_bus_message_append(m, "v", "i", static_cast<int32_t>(raw)); break;
    case 2: sd_bus_message_append(m, "v", "x", static_cast<int64_t>(raw) << (raw & 31)); break;
    case 3: sd_bus_message_append(m, "v", "u", raw); break;
    case 4: sd_bus_message_append(m, "v", "t", static_cast<uint64_t>(raw) << 32 | raw); break;
    case 5: sd_bus_message_append(m, "v", "n", static_cast<int16_t>(raw)); break;
    case 6: sd_bus_message_append(m, "v", "q", static_cast<uint16_t>(raw)); break;
    case 7: sd_bus_message_append(m, "v", "y", static_cast<uint8_t>(raw)); break;
    case 8: {
        double d;
        uint64_t bits = static_cast<uint64_t>(raw) << 32 | (raw * 2654435761u);
        std::memcpy(&d, &bits, sizeof d);
        sd_bus_message_append(m, "v", "d", d);
        break;
    }
    case 9: sd_bus_message_append(m, "v", "s", std::to_string(static_cast<int32_t>(raw)).c_str()); break;
    case 10: sd_bus_message_append(m, "v", "o", "/a/b"); break;
    case 11: sd_bus_message_append(m, "v", "as", 2, "5", "x"); break;
    case 12: sd_bus_message_append(m, "v", "(ii)", static_cast<int32_t>(raw), 1); break;
    case 13:  // a variant holding a variant
        sd_bus_message_open_container(m, 'v', "v");
        sd_bus_message_append(m, "v", "i", static_cast<int32_t>(raw));
        sd_bus_message_close_container(m);
        break;
    default:  // a nested a{sv}
        sd_bus_message_open_container(m, 'v', "a{sv}");
        sd_bus_message_open_container(m, 'a', "{sv}");
        for (uint32_t i = 0; i < (raw & 3); ++i) {
            sd_bus_message_open_container(m, 'e', "sv");
            sd_bus_message_append(m, "s", vantrel::kItemToggledKey);
            appendAny(m, in, depth + 1);
            sd_bus_message_close_container(m);
        }
        sd_bus_message_close_container(m);
        sd_bus_message_close_container(m);
        break;
    }
}

// Any shape of signal body after the name: the usual a{sv} with entries of any type and key,
// or something else altogether.
void rawSignal(std::span<const uint8_t> in) {
    sd_bus_message* m = newSignal();
    uint8_t shape = in.empty() ? 0 : in[0] % 4;
    uint8_t flag = in.size() > 1 ? in[1] : 1;
    in = in.subspan(std::min<size_t>(in.size(), 2));
    sd_bus_message_append(m, "sb", vantrel::kSettingsChangedNotification, static_cast<int>(flag & 1));
    switch (shape) {
    case 0:
    case 1:
        sd_bus_message_open_container(m, 'a', "{sv}");
        while (!in.empty()) {
            sd_bus_message_open_container(m, 'e', "sv");
            uint8_t k = in[0];
            in = in.subspan(1);
            sd_bus_message_append(m, "s", k % 4 ? vantrel::kItemToggledKey : "other");
            appendAny(m, in, 0);
            sd_bus_message_close_container(m);
        }
        sd_bus_message_close_container(m);
        break;
    case 2: sd_bus_message_append(m, "a{si}", 1, vantrel::kItemToggledKey, 5); break;
    default: break;  // no userInfo at all
    }
    receive(m, nullptr);
    sd_bus_message_unref(m);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    platform::setLogToStderr(false);
    static std::string home;
    char tmpl[] = "/tmp/vantrel-fuzz-userinfo-XXXXXX";
    home = mkdtemp(tmpl);
    platform::setHomeDirectory(home);
    std::atexit([] { std::filesystem::remove_all(home); });
    loop = new platform::ManualRunLoop();
    center = new platform::InProcessNotificationCenter();
    platform::RunLoop::setMain(loop);
    platform::NotificationCenter::setDistributed(center);
    platform::registerSpringBoardClasses();
    vantrel::tweak::installMethods();
    vantrel::tweak::resetState();
    vantrel::subscribe(vantrel::kSettingsChangedNotification, vantrel::tweak::settingsChanged);

    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) < 0 || sd_bus_new(&bus) < 0 ||
        sd_bus_set_fd(bus, sv[0], sv[0]) < 0 || sd_bus_start(bus) < 0)
        fail("no bus object");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::span<const uint8_t> rest(data + 1, size - 1);
    uint8_t mode = data[0] % 4;
    if (mode == 3) {
        rawSignal(rest);
        return 0;
    }

    std::optional<Dictionary> userInfo;
    if (mode == 1) {
        auto v = platform::parsePropertyList(rest);
        userInfo = Dictionary{
            {vantrel::kItemToggledKey, v ? *v : Value(std::string(reinterpret_cast<const char*>(rest.data()), rest.size()))}};
    } else if (mode == 2) {
        auto v = platform::parsePropertyList(rest);
        if (v && v->isDictionary())
            userInfo = *v->dictionary();
        else
            userInfo = Dictionary{};
    }
    const Dictionary* info = userInfo ? &*userInfo : nullptr;

    // In-process: the post is delivered later, on the main loop, to the subscribed dispatcher.
    platform::clearAlerts();
    center->post(vantrel::kSettingsChangedNotification, info);
    loop->runPending();
    loop->advance(0.5);
    check(info, toggleErrors() > 0);
    vantrel::tweak::resetState();

    // D-Bus: what the sender can encode must decode to the same code.
    sd_bus_message* m = newSignal();
    sd_bus_message_append(m, "sb", vantrel::kSettingsChangedNotification, info ? 1 : 0);
    if (platform::appendUserInfo(m, info ? *info : Dictionary{})) {
        auto code = expectedCode(info);
        receive(m, &code);
    }
    sd_bus_message_unref(m);
    // Timers come and go with the codes, but they must never pile up.
    if (loop->timerCount() > 8) fail("timers pile up");
    return 0;
}
