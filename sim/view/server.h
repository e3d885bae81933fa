// The view's HTTP server on 127.0.0.1: the page, its script and style, the phone as SVG, the
// redraws as Server-Sent Events and the actions of api.h as JSON POSTs. Every request needs the
// token (query on the first GET, then the HttpOnly cookie or the X-Vantrel-Token header, which
// POSTs must carry) and a Host of 127.0.0.1:PORT or localhost:PORT. Each connection has a thread
// of its own, at most kMaxConnections of them, and must send a request whole within 10 s.
// run() blocks until stop(), which any thread may call and which ends every connection.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "sim/common/result.h"
#include "sim/view/api.h"
#include "sim/view/device_link.h"

namespace vantrel::sim::view {

class Listener;

inline constexpr size_t kMaxBody = size_t{16} * 1024;
inline constexpr int kMaxEventStreams = 6;
// Open connections; past it, the one idle longest is closed for the new one.
inline constexpr size_t kMaxConnections = 64;

class ViewServer {
public:
    ViewServer(DeviceLink& link, SettingsApp& settings, std::string token);
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;
    ~ViewServer();

    // Binds 127.0.0.1:port (0: a free one) and gives the port.
    Result<int> bind(int port);
    void run();
    void stop();

private:
    void routes();

    DeviceLink& link_;
    SettingsApp& settings_;
    std::string token_;
    int port_ = 0;
    std::atomic<int> streams_{0};
    std::unique_ptr<Listener> server_;
};

// 128 random bits from getrandom, as hex.
Result<std::string> newToken();

}  // namespace vantrel::sim::view
