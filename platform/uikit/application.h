// UIApplication as the Settings pages use it: sharedApplication and openURL:. The device's
// installed-apps table (DeviceState::installedApps) answers: web addresses open in the built-in
// browser, "twitter:" only when an app named "Twitter" is installed, "fb:" only with
// "Facebook"; anything else does not open. Every address asked for is logged and recorded with
// its answer. Main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

class UIApplication {
public:
    static UIApplication& sharedApplication();
    // True when an application took the address.
    bool openURL(const std::string& url);

    struct OpenedURL {
        std::string url;
        bool opened;
    };
    // Every openURL: so far, oldest first.
    std::vector<OpenedURL> openedURLs() const { return opened_; }
    void clearOpenedURLs() { opened_.clear(); }
    // Told of every address that opened (the host shows it).
    void setOpenObserver(std::function<void(const std::string& url)> observer) { observer_ = std::move(observer); }

private:
    std::vector<OpenedURL> opened_;
    std::function<void(const std::string&)> observer_;
};

// The application that answers a URL's scheme, or empty when the scheme is unknown.
std::string applicationForURL(const std::string& url);

}  // namespace platform
