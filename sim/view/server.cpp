#include "sim/view/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>

#include <httplib.h>

#include "platform/foundation/error_text.h"
#include "sim/view/assets.h"
#include "sim/view/listener.h"

namespace vantrel::sim::view {
namespace {

constexpr char kCookie[] = "vantrel_token";
constexpr char kTokenHeader[] = "X-Vantrel-Token";
// An idle event stream sends a comment this often: the write is what finds a page that has gone
// (a reload, a closed tab), so that its slot is free again within two of them.
constexpr double kKeepAliveSeconds = 2.0;

const std::set<std::string> kGetPaths = {
    "/",      "/app.js", "/app.css", "/phone.svg", "/api/status", "/api/settings", "/api/device/hardware", "/api/device/keys",
    "/events"};

bool sameToken(const std::string& given, const std::string& token) {
    if (given.size() != token.size()) return false;
    unsigned char diff = 0;  // the whole string is compared, whatever differs first
    for (size_t i = 0; i < token.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ token[i]);
    return diff == 0;
}

std::string cookieToken(const httplib::Request& req) {
    std::string cookies = req.get_header_value("Cookie");
    std::string prefix = std::string(kCookie) + "=";
    for (size_t at = 0; at < cookies.size();) {
        size_t end = cookies.find(';', at);
        std::string part = cookies.substr(at, end == std::string::npos ? std::string::npos : end - at);
        while (!part.empty() && part.front() == ' ') part.erase(part.begin());
        if (part.rfind(prefix, 0) == 0) return part.substr(prefix.size());
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return {};
}

void sendJson(httplib::Response& res, const Reply& reply) {
    res.status = reply.status;
    res.set_content(jsonDump(reply.body), "application/json");
}

void sendText(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

// A device that is not running comes with the command that starts that same folder.
Json snapshotJson(const Snapshot& s, const DeviceFolder& device) {
    Json j = {{"version", s.version}, {"running", s.running}, {"reason", s.reason}, {"status", s.status}, {"svg", s.svg}};
    if (!s.running) j["start"] = deviceCommand(device, "start");
    return j;
}

// The JSON object of a POST, or the reply refusing it.
std::optional<Reply> refuseBody(const httplib::Request& req, Json& body) {
    std::string type = req.get_header_value("Content-Type");
    if (type.rfind("application/json", 0) != 0)
        return errorReply(415, "actions take a JSON body (Content-Type: application/json)");
    body = req.body.empty() ? Json::object() : Json::parse(req.body, nullptr, false);
    if (!body.is_object()) return errorReply(400, "the body is not a JSON object");
    return std::nullopt;
}

}  // namespace

Result<std::string> newToken() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failure(std::string("getrandom: ") + platform::errorText(errno));
        got += static_cast<size_t>(n);
    }
    static const char hex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) token += hex[b >> 4], token += hex[b & 15];
    return token;
}

ViewServer::ViewServer(DeviceLink& link, SettingsApp& settings, std::string token)
    : link_(link), settings_(settings), token_(std::move(token)), server_(std::make_unique<Listener>()) {}

ViewServer::~ViewServer() = default;

Result<int> ViewServer::bind(int port) {
    // SO_REUSEADDR alone: a port left in TIME_WAIT is taken again, but a port another view (or
    // anything) listens on is refused; httplib's default SO_REUSEPORT would share it.
    // TCP_NODELAY (inherited by every accepted connection): an answer's headers and body go in
    // two writes, and the second would otherwise wait for the browser's delayed ACK (40 ms).
    server_->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    int bound = port == 0 ? server_->bind_to_any_port("127.0.0.1") : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        int error = errno;
        if (error == EADDRINUSE)
            return failure("port " + std::to_string(port) +
                           " is already in use on 127.0.0.1; choose another, or 0 for any free port");
        return failure("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + platform::errorText(error));
    }
    port_ = bound;
    server_->deepenBacklog();
    routes();
    return port_;
}

void ViewServer::run() { server_->listen_after_bind(); }

void ViewServer::stop() { server_->stop(); }

void ViewServer::routes() {
    auto& s = *server_;
    s.set_payload_max_length(kMaxBody);
    s.set_default_headers({{"Cache-Control", "no-store"},
                           {"X-Content-Type-Options", "nosniff"},
                           {"X-Frame-Options", "DENY"},
                           {"Referrer-Policy", "no-referrer"},
                           {"Content-Security-Policy",
                            "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                            "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"}});

    // Before any route: the Host (no DNS rebinding), then the token.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        server_->answering();
        std::string host = req.get_header_value("Host"), port = std::to_string(port_);
        if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
            sendText(res, 421, "this server answers only for 127.0.0.1:" + port + " and localhost:" + port);
            return httplib::Server::HandlerResponse::Handled;
        }
        bool header = sameToken(req.get_header_value(kTokenHeader), token_);
        bool ok = header || (req.method != "POST" && sameToken(cookieToken(req), token_)) ||
                  (req.method == "GET" && req.path == "/" && sameToken(req.get_param_value("token"), token_));
        if (!ok) {
            sendText(res, 403, "forbidden: open the address vantrel-view printed, with its token");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    s.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.has_param("token")) {
            // The token moves into a cookie and out of the address bar.
            res.set_header("Set-Cookie", std::string(kCookie) + "=" + token_ + "; HttpOnly; SameSite=Strict; Path=/");
            res.set_redirect("/", 303);
            return;
        }
        std::string html(kIndexHtml);
        if (auto at = html.find("{{TOKEN}}"); at != std::string::npos) html.replace(at, 9, token_);
        static const std::string assets =
            std::to_string(std::hash<std::string_view>{}(kAppJs) ^ (std::hash<std::string_view>{}(kAppCss) << 1));
        for (size_t at; (at = html.find("{{ASSETS}}")) != std::string::npos;) html.replace(at, 10, assets);
        // The phone as it is now comes with the page, drawn at its first paint; the event stream
        // brings every redraw after it.
        if (auto at = html.find("{{PHONE}}"); at != std::string::npos) html.replace(at, 9, link_.latest()->svg);
        res.set_content(html, "text/html; charset=utf-8");
    });
    // The script and style are named with their build's hash by the page, so a browser keeps them
    // (they hold no secret) and a new build is fetched anew.
    auto cached = [](httplib::Response& res, std::string_view body, const char* type) {
        res.headers.erase("Cache-Control");
        res.set_header("Cache-Control", "private, max-age=31536000, immutable");
        res.set_content(std::string(body), type);
    };
    s.Get("/app.js",
          [cached](const httplib::Request&, httplib::Response& res) { cached(res, kAppJs, "text/javascript; charset=utf-8"); });
    s.Get("/app.css",
          [cached](const httplib::Request&, httplib::Response& res) { cached(res, kAppCss, "text/css; charset=utf-8"); });
    s.Get("/phone.svg",
          [this](const httplib::Request&, httplib::Response& res) { res.set_content(link_.latest()->svg, "image/svg+xml"); });
    s.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) {
        sendJson(res, {200, snapshotJson(*link_.latest(), link_.device())});
    });
    s.Get("/api/settings", [this](const httplib::Request&, httplib::Response& res) { sendJson(res, settings_.current()); });
    s.Get("/api/device/hardware",
          [this](const httplib::Request&, httplib::Response& res) { sendJson(res, deviceHardware(link_.device())); });

    s.Get("/api/device/keys",
          [this](const httplib::Request&, httplib::Response& res) { sendJson(res, deviceKeys(link_.device())); });

    // Each redraw as one event: the status and the phone drawn from it.
    s.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
        if (streams_ >= kMaxEventStreams) return sendText(res, 503, "too many event streams");
        ++streams_;
        auto seen = std::make_shared<uint64_t>(0);
        auto first = std::make_shared<bool>(true);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, seen, first](size_t, httplib::DataSink& sink) {
                std::shared_ptr<const Snapshot> snap = *first ? link_.latest() : link_.waitNewer(*seen, kKeepAliveSeconds);
                if (link_.stopping()) return false;
                std::string message;
                if (*first) message = "retry: 1000\n";
                if (*first || snap->version > *seen)
                    message += "data: " + jsonDump(snapshotJson(*snap, link_.device())) + "\n\n";
                else
                    message = ": idle\n\n";
                *first = false;
                *seen = snap->version;
                return sink.write(message.data(), message.size());
            },
            [this](bool) { --streams_; });
    });

    auto post = [this](const std::string& path, auto handle) {
        server_->Post(path, [handle](const httplib::Request& req, httplib::Response& res) {
            Json body;
            if (auto refused = refuseBody(req, body)) return sendJson(res, *refused);
            sendJson(res, handle(req, body));
        });
        server_->Get(path, [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Allow", "POST");
            sendJson(res, errorReply(405, "actions are POSTs"));
        });
    };
    post(R"(/api/device/(tap|lock|nc|alert|hardware))", [this](const httplib::Request& req, const Json& body) {
        return deviceAction(link_.device(), req.matches[1].str(), body);
    });
    post(R"(/api/settings/(open|set|press|answer|leave|suspend))",
         [this](const httplib::Request& req, const Json& body) { return settings_.action(req.matches[1].str(), body); });
    for (const auto& path : kGetPaths) {
        s.Post(path, [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Allow", "GET");
            sendJson(res, errorReply(405, "this address is read with GET"));
        });
    }
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        const char* what = res.status == 404   ? "no such address"
                           : res.status == 413 ? "the body is larger than 16 KiB"
                                               : "refused";
        sendText(res, res.status, what);
    });
}

}  // namespace vantrel::sim::view
