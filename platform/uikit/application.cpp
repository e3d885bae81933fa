#include "platform/uikit/application.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/log.h"
#include "platform/device/device_state.h"

namespace platform {
namespace {

struct SchemeOwner {
    const char* scheme;
    const char* application;
};
// The built-in browser is always there; the rest must be installed.
constexpr const char* kBrowser = "Safari";
constexpr SchemeOwner kSchemes[] = {
    {"http", kBrowser}, {"https", kBrowser}, {"twitter", "Twitter"}, {"fb", "Facebook"}, {"mailto", "Mail"},
};

std::string schemeOf(const std::string& url) {
    auto colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return {};
    std::string scheme = url.substr(0, colon);
    bool valid = std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                 std::all_of(scheme.begin(), scheme.end(),
                             [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; });
    if (!valid) return {};
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
    return scheme;
}

bool installed(const std::string& application) {
    if (application == kBrowser || application == "Mail") return true;
    const auto& apps = deviceState().installedApps;
    return std::find(apps.begin(), apps.end(), application) != apps.end();
}

}  // namespace

std::string applicationForURL(const std::string& url) {
    std::string scheme = schemeOf(url);
    for (const auto& s : kSchemes)
        if (scheme == s.scheme) return s.application;
    return {};
}

UIApplication& UIApplication::sharedApplication() {
    static UIApplication app;
    return app;
}

bool UIApplication::openURL(const std::string& url) {
    std::string application = applicationForURL(url);
    bool opened = !application.empty() && installed(application);
    opened_.push_back({url, opened});
    if (opened) {
        NSLog("openURL: %s (%s)", url.c_str(), application.c_str());
        if (observer_) observer_(url);
    } else {
        NSLog("openURL: %s could not be opened", url.c_str());
    }
    return opened;
}

}  // namespace platform
